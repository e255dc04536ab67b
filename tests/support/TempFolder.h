// A fresh folder under the temporary directory, removed with everything in it.
#pragma once
#include <string>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; } // without a trailing '/'
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole-file helpers that fail the calling test loudly via the return value.
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// n pseudo-random bytes, the same for the same seed.
std::string RandomBytes(size_t n, unsigned seed = 7);

// Encloses text in single quotes for /bin/sh (a quote inside is escaped).
std::string ShellQuote(const std::string& text);

// Runs a shell command line (for test set-up and outside tools only) and
// returns its exit status; output goes to *output when given.
int RunShell(const std::string& command, std::string* output = nullptr);

} // namespace testsupport
