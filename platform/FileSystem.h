// File and folder operations the program needs; paths are UTF-8.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

bool FileExists(const std::string& path); // a regular file (or link to one)
bool DirectoryExists(const std::string& path);
// Anything at the path: a file, a folder, or a link (also one that leads
// nowhere, which FileExists does not see).
bool PathExists(const std::string& path);

// Size in bytes, or -1 when the file cannot be examined.
int64_t FileSize(const std::string& path);

struct FileInfo {
    int64_t size = 0;
    int64_t lastWrite = 0;  // seconds since 1970, UTC
    int64_t lastAccess = 0; // seconds since 1970, UTC
    int64_t created = 0;    // status-change time on POSIX systems
    bool ownerWritable = true;
};
// False when the file cannot be examined.
bool GetFileInfo(const std::string& path, FileInfo& info);

bool DeleteFile(const std::string& path);
// Renames; fails (does not replace) when the destination exists.
bool RenameFile(const std::string& from, const std::string& to);
// Copies contents; with overwrite false an existing destination is never
// touched. The copy is flushed to disk before success is reported.
bool CopyFile(const std::string& from, const std::string& to, bool overwrite);
// Creates one folder level (the parent must exist).
bool CreateDir(const std::string& path);

// Reads a whole file into bytes; false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string& bytes);

// Writes bytes to path + a temporary suffix beside it, flushes, and renames
// it over path, keeping the old file's permission bits (new files get
// newFileMode). On failure the old file is untouched and false is returned.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                           unsigned newFileMode = 0644);

} // namespace platform
