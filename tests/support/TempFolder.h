// A fresh folder under the temporary directory, removed with everything in it.
#pragma once
#include <filesystem>
#include <string>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; } // without a trailing separator
    // The folder joined with the system's separator.
    std::string operator/(const std::string& name) const;

private:
    std::string path_;
};

// The standard library's path of a UTF-8 path (UTF-16 on Windows, never
// through the ANSI code page).
std::filesystem::path NativePath(const std::string& utf8);

// Whole-file helpers that fail the calling test loudly via the return value.
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// Names of what a folder holds, sorted.
std::string ListFolder(const std::string& path, char separator = '\n');

// n pseudo-random bytes, the same for the same seed.
std::string RandomBytes(size_t n, unsigned seed = 7);

} // namespace testsupport
