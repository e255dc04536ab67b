// Files for tests: a UTF-8 path as the standard library's path, whole files
// written and read in one call, and what a folder holds.
#pragma once
#include <filesystem>
#include <string>

namespace testsupport {

// The standard library's path of a UTF-8 path (UTF-16 on Windows, never
// through the ANSI code page).
std::filesystem::path NativePath(const std::string& utf8);

// Whole-file helpers; they throw std::runtime_error, failing the calling
// test loudly, when the file cannot be written or read.
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// Names of what a folder holds, sorted.
std::string ListFolder(const std::string& path, char separator = '\n');

} // namespace testsupport
