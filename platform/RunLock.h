// An exclusive lock on a file, for keeping two processes from doing the same
// work at once. The system drops it when the process ends in any way (a
// crash or a kill included), so a dead holder never blocks anyone.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

enum class LockOutcome {
    Acquired,
    HeldElsewhere, // another holder has it (another process, or another
                   // FileLock of this one)
    // The lock cannot be had at all, and why:
    IsLink,     // the lock file is a symbolic link
    NotAFile,   // a folder, a FIFO or a device stands at its name
    OtherOwner, // the lock file belongs to another user
    CannotOpen, // it cannot be created or opened (a read-only folder)
    CannotLock, // the file system cannot lock it (ENOLCK on a network share)
};

class FileLock {
public:
    FileLock() = default;
    ~FileLock(); // releases
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates the file when missing (it is left in place afterwards) and
    // tries to lock it without waiting. On POSIX systems only the user's own
    // regular file is used, made and kept readable by its owner only (0600):
    // a lock anyone may open, anyone may hold.
    LockOutcome TryAcquire(const std::string& path);
    void Release();
    bool Held() const { return handle_ != -1; }

private:
    std::intptr_t handle_ = -1; // the system's handle of the open lock file
};

} // namespace platform
