#include "platform/BinaryFile.h"
#include "platform/OpenFile_posix.h"
#include "platform/StatInfo_posix.h"

#include <cerrno>
#include <fcntl.h>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

} // namespace

std::unique_ptr<BinaryFile> BinaryFile::OpenForReading(const std::string& path) {
    struct stat st;
    int fd = OpenRegularForReading(path, st);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<BinaryFile>(new BinaryFile(static_cast<std::intptr_t>(fd)));
}

std::unique_ptr<BinaryFile> BinaryFile::CreateForWriting(const std::string& path) {
    // Never through a link: in a shared folder it could lead to someone
    // else's file, which would then be overwritten. What is written may be
    // patient data: readable by its owner only, also when an older file of
    // that name is reused.
    int fd = OpenNonBlocking(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return nullptr;
    (void)::fchmod(fd, 0600);
    return std::unique_ptr<BinaryFile>(new BinaryFile(static_cast<std::intptr_t>(fd)));
}

std::unique_ptr<BinaryFile> BinaryFile::CreateNew(const std::string& path) {
    // O_EXCL fails for anything already there, a link leading anywhere
    // included; O_NOFOLLOW says so once more.
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<BinaryFile>(new BinaryFile(static_cast<std::intptr_t>(fd)));
}

BinaryFile::~BinaryFile() {
    if (handle_ >= 0)
        ::close(Fd(handle_));
}

int64_t BinaryFile::Read(void* buffer, size_t size) {
    for (;;) {
        ssize_t n = ::read(Fd(handle_), buffer, size);
        if (n >= 0)
            return static_cast<int64_t>(n);
        if (errno != EINTR)
            return -1;
    }
}

size_t BinaryFile::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(Fd(handle_), p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

bool BinaryFile::Seek(int64_t offset) {
    return offset >= 0 && ::lseek(Fd(handle_), static_cast<off_t>(offset), SEEK_SET) == offset;
}

bool BinaryFile::CanSeek() const {
    return ::lseek(Fd(handle_), 0, SEEK_CUR) >= 0;
}

bool BinaryFile::Truncate(int64_t size) {
    int rc;
    do {
        rc = ::ftruncate(Fd(handle_), static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool BinaryFile::GetInfo(FileInfo& info) const {
    struct stat st;
    if (::fstat(Fd(handle_), &st) != 0)
        return false;
    info = FileInfoFromStat(st);
    return true;
}

bool BinaryFile::GetIdentity(FileIdentity& identity) const {
    struct stat st;
    if (::fstat(Fd(handle_), &st) != 0)
        return false;
    identity = FileIdentityFromStat(st);
    return true;
}

bool BinaryFile::Close() {
    if (handle_ < 0)
        return true;
    int fd = Fd(handle_);
    handle_ = -1;
    return ::close(fd) == 0;
}

} // namespace platform
