#include "platform/RunLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

FileLock::~FileLock() {
    Release();
}

LockOutcome FileLock::TryAcquire(const std::string& path) {
    Release();
    // flock, not fcntl: its lock belongs to this open file, so closing some
    // other descriptor of the same file elsewhere in the process cannot drop
    // it. Close-on-exec: gpg must not inherit it and outlive us holding it.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | flags, 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = ::open(path.c_str(), O_RDONLY | flags); // made by another user: reading is enough
    if (fd < 0)
        return LockOutcome::Unavailable;
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? LockOutcome::HeldElsewhere : LockOutcome::Unavailable;
    }
    handle_ = fd;
    return LockOutcome::Acquired;
}

void FileLock::Release() {
    if (handle_ == -1)
        return;
    ::close(static_cast<int>(handle_)); // closing the file drops its lock
    handle_ = -1;
}

} // namespace platform
