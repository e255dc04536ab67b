// Path parts as the program uses them: the separator is '/', the root is "/".
#pragma once
#include <string>

namespace platform {

inline constexpr char kPathSeparator = '/';

// Everything after the last separator (the whole path when there is none).
std::string ExtractFileName(const std::string& path);

// Everything before the last separator; a final separator is dropped unless
// the folder is the root ("/a" gives "/", "a/b" gives "a", "name" gives "").
std::string ExtractFileDir(const std::string& path);

// Everything up to and including the last separator ("" when there is none).
std::string ExtractFilePath(const std::string& path);

// Appends the separator when the text does not already end with one
// (an empty text stays empty).
std::string IncludeTrailingSeparator(const std::string& folder);

// folder + separator (when missing) + name.
std::string JoinPath(const std::string& folder, const std::string& name);

// The folder holding the running executable, with a trailing separator.
std::string ApplicationDir();

// Makes ApplicationDir() answer the given folder instead (tests run the
// program's code from a test binary); an empty text restores the real one.
void SetApplicationDirOverride(const std::string& folder);

// $TMPDIR when set and non-empty, else "/tmp", with a trailing separator.
std::string TempDir();

// The process's current directory (no trailing separator), "" if unknown.
std::string CurrentDir();

} // namespace platform
