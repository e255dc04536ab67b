#include "platform/FileSystem.h"
#include "platform/OpenFile_posix.h"
#include "platform/Paths.h"
#include "platform/StatInfo_posix.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/random.h>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Reads fd to its end in blocks, handing each to sink; false on a read error
// or when sink returns false.
bool ReadToEnd(int fd, const std::function<bool(const char*, size_t)>& sink) {
    std::vector<char> buf(1 << 16);
    for (;;) {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!sink(buf.data(), static_cast<size_t>(n)))
            return false;
    }
}

// The file that path finally names after following symbolic links (which
// need not exist yet); empty for a loop or a link that cannot be read.
std::string FinalTarget(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::vector<char> buf(PATH_MAX + 1);
        const ssize_t n = ::readlink(current.c_str(), buf.data(), buf.size());
        if (n <= 0 || static_cast<size_t>(n) >= buf.size())
            return std::string();
        const std::string target(buf.data(), static_cast<size_t>(n));
        current = target[0] == '/' ? target : JoinPath(ExtractFileDir(current), target);
    }
    return std::string();
}

// A new file beside path, owner-only until its content is complete, under a
// name no one can guess in advance; tmp gets the name. -1 on failure.
int CreateUniqueBeside(const std::string& path, std::string& tmp) {
    static const char kHex[] = "0123456789abcdef";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[8];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return -1;
        tmp = path + ".tmp-";
        for (unsigned char c : random) {
            tmp += kHex[c >> 4];
            tmp += kHex[c & 15];
        }
        // O_EXCL never opens what is there, a planted link included.
        const int fd =
            ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST && errno != EINTR)
            return -1;
    }
    return -1;
}

// A file its owner made read-only is not to be rewritten behind their back.
bool MayRewrite(const std::string& path, const struct stat& st) {
    return S_ISREG(st.st_mode) && (st.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

} // namespace

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

int64_t FileSize(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

bool GetFileInfo(const std::string& path, FileInfo& info) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return false;
    info = FileInfoFromStat(st);
    return true;
}

bool GetFileIdentity(const std::string& path, FileIdentity& identity) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return false;
    identity = FileIdentityFromStat(st);
    return true;
}

bool DeleteFile(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty())
        return false;
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

bool CopyFile(const std::string& from, const std::string& to, bool overwrite) {
    // Only a regular file, and never a wait for a FIFO's writer.
    struct stat st;
    int in = OpenRegularForReading(from, st);
    if (in < 0)
        return false;
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
    int out = ::open(to.c_str(), flags, st.st_mode & 0777);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok =
        ReadToEnd(in, [out](const char* data, size_t size) { return WriteAll(out, data, size); });
    // The copy keeps the source's last-write time, as a copy on Windows does.
    // Only the time is lost if this fails, so it does not fail the copy.
    if (ok) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        (void)::futimens(out, times);
    }
    if (ok && ::fsync(out) != 0)
        ok = false;
    if (::close(out) != 0)
        ok = false;
    ::close(in);
    if (!ok)
        ::unlink(to.c_str()); // never leave a partial copy that looks complete
    return ok;
}

bool CreateDir(const std::string& path) {
    return !path.empty() && ::mkdir(path.c_str(), 0777) == 0;
}

bool CreatePrivateDir(const std::string& path) {
    return !path.empty() && ::mkdir(path.c_str(), 0700) == 0;
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ReadToEnd(fd, [&bytes](const char* data, size_t size) {
        bytes.append(data, size);
        return true;
    });
    ::close(fd);
    return ok;
}

bool IsRegularFileOrMissing(const std::string& path) {
    struct stat st;
    if (path.empty())
        return false;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode);
    return errno == ENOENT;
}

bool AppendFileBytes(const std::string& path, const std::string& bytes, bool truncate) {
    // Opening a device may already do something (a tape rewinds), and a FIFO
    // nobody reads would hold the caller in open() for ever: neither is
    // opened when it can be seen beforehand, and neither is written when it
    // appears in between.
    if (!IsRegularFileOrMissing(path))
        return false;
    const int fd = OpenNonBlocking(path, O_WRONLY | O_CREAT | O_APPEND | O_NOCTTY, 0600);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Emptied only once it is known to be a regular file.
    ok = ok && (!truncate || ::ftruncate(fd, 0) == 0);
    ok = ok && WriteAll(fd, bytes.data(), bytes.size());
    return ::close(fd) == 0 && ok;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& bytes, unsigned newFileMode,
                           bool ownerOnly) {
    const std::string target = FinalTarget(path);
    if (target.empty())
        return false;
    struct stat st;
    mode_t mode = static_cast<mode_t>(newFileMode) & 07777;
    const bool existed = ::stat(target.c_str(), &st) == 0;
    if (existed) {
        if (!MayRewrite(target, st))
            return false;
        mode = st.st_mode & 07777;
    }
    if (ownerOnly)
        mode &= ~static_cast<mode_t>(077);
    std::string tmp;
    const int fd = CreateUniqueBeside(target, tmp);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, bytes.data(), bytes.size());
    // Another user (root, say) writing the file leaves it its owner's; a
    // writer who may not give the file away (EPERM) need not.
    if (ok && existed && ::fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM)
        ok = false;
    ok = ok && ::fchmod(fd, mode) == 0; // after fchown, which may clear bits
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

bool RewriteFileInPlace(const std::string& path, const std::string& bytes) {
    const std::string target = FinalTarget(path);
    if (target.empty())
        return false;
    // Non-blocking: a FIFO put in the file's place must not hang the caller.
    const int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && MayRewrite(target, st);
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ok = ok && ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    return ok;
}

} // namespace platform
