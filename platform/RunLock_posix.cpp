#include "platform/RunLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// Why the file could not be opened.
LockOutcome OpenFailure(const std::string& path, int error) {
    struct stat st;
    if (error == ELOOP || (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)))
        return LockOutcome::IsLink;
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return LockOutcome::NotAFile;
        if (st.st_uid != ::geteuid())
            return LockOutcome::OtherOwner;
    }
    return error == EISDIR || error == ENXIO ? LockOutcome::NotAFile : LockOutcome::CannotOpen;
}

// The open file is the user's own regular file, closed to everyone else.
LockOutcome CheckOpened(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return LockOutcome::CannotOpen;
    if (!S_ISREG(st.st_mode))
        return LockOutcome::NotAFile;
    if (st.st_uid != ::geteuid())
        return LockOutcome::OtherOwner;
    // An older file readable by others is closed again: flock needs only
    // read access, so anyone who could open it could stop every run.
    if ((st.st_mode & 077) != 0 && ::fchmod(fd, st.st_mode & 0700) != 0)
        return LockOutcome::CannotOpen;
    return LockOutcome::Acquired;
}

} // namespace

FileLock::~FileLock() {
    Release();
}

LockOutcome FileLock::TryAcquire(const std::string& path) {
    Release();
    // flock, not fcntl: its lock belongs to this open file, so closing some
    // other descriptor of the same file elsewhere in the process cannot drop
    // it. Close-on-exec: gpg must not inherit it and outlive us holding it.
    // Never through a link, and never a wait at a FIFO.
    int fd;
    do
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK,
                    0600);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return OpenFailure(path, errno);
    const LockOutcome opened = CheckOpened(fd);
    if (opened != LockOutcome::Acquired) {
        ::close(fd);
        return opened;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? LockOutcome::HeldElsewhere : LockOutcome::CannotLock;
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
