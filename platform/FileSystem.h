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
    int64_t lastWrite = 0;     // seconds since 1970, UTC
    int32_t lastWriteNsec = 0; // and nanoseconds within that second, as finely
                               // as the file system keeps them
    int64_t lastAccess = 0;    // seconds since 1970, UTC
    int64_t created = 0;       // status-change time on POSIX systems
    bool ownerWritable = true;
};
// False when the file cannot be examined.
bool GetFileInfo(const std::string& path, FileInfo& info);

// Which file it is, as the system tells files apart: another file put in its
// place (renamed over it, or written anew) differs here even with the same
// size and last-write time, and so does the same file written meanwhile.
struct FileIdentity {
    uint64_t volume = 0;   // device (POSIX) or volume serial number (Windows)
    uint64_t fileLow = 0;  // inode number, or the low half of the file ID
    uint64_t fileHigh = 0; // 0, or the high half of Windows' 128-bit file ID
    int64_t changed = 0;   // status-change time: seconds since 1970, UTC
    int32_t changedNsec = 0;
    bool operator==(const FileIdentity&) const = default;
};
// Of the file the path leads to now; false when it cannot be examined.
bool GetFileIdentity(const std::string& path, FileIdentity& identity);

bool DeleteFile(const std::string& path);
// Renames; fails (does not replace) when the destination exists.
bool RenameFile(const std::string& from, const std::string& to);
// Copies contents and the last-write time (to the nanosecond); with overwrite
// false an existing destination is never touched. The copy is flushed to
// disk before success is reported.
bool CopyFile(const std::string& from, const std::string& to, bool overwrite);
// Creates one folder level (the parent must exist).
bool CreateDir(const std::string& path);
// The same, for a folder that will hold patient data: on POSIX systems only
// its owner may enter it (0700); on Windows it takes its parent's rights.
bool CreatePrivateDir(const std::string& path);

// Reads a whole file into bytes; false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string& bytes);

// True when path names a regular file (links followed) or nothing yet; false
// for a folder, a FIFO, a socket or a device. On Windows also false for a
// device name (NUL, CON, COM1, ...) and the device namespace ("\\.\pipe\x"),
// decided from the name alone: nothing is opened.
bool IsRegularFileOrMissing(const std::string& path);

// Adds bytes at the end of a regular file, made when missing (on POSIX
// systems readable by its owner only, 0600; an existing file keeps its
// mode); with truncate the file is emptied first. Anything else at the path
// (a FIFO nobody reads, a terminal, a device, a folder) is not written, and
// opening never waits. Other programs may read the file meanwhile. False
// when the file cannot be opened or written.
bool AppendFileBytes(const std::string& path, const std::string& bytes, bool truncate = false);

// Writes bytes to a new file of an unpredictable name beside path (created
// exclusively, never through a link), flushes it, and renames it over path.
// A path that is a symbolic link is written through: the file it leads to is
// replaced and the link stays. The old file's permission bits, owner and
// group are kept as far as the writer may set them (new files get
// newFileMode); with ownerOnly, group and others lose every right. A file its
// owner made read-only is not replaced. On failure the old file is untouched
// and false is returned.
bool ReplaceFileAtomically(const std::string& path, const std::string& bytes,
                           unsigned newFileMode = 0644, bool ownerOnly = false);

// Overwrites an existing file (through a link, as above) with bytes and cuts
// it to their length, for when its folder takes no new file. Not atomic: a
// failure may leave the file damaged; bytes go to the start before the file
// is cut, so content beyond them survives a failed write. False on failure
// or for a file its owner made read-only.
bool RewriteFileInPlace(const std::string& path, const std::string& bytes);

} // namespace platform
