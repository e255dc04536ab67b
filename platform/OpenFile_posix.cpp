#include "platform/OpenFile_posix.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

int OpenNonBlocking(const std::string& path, int flags, mode_t mode) {
    if (path.empty())
        return -1;
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    int current = ::fcntl(fd, F_GETFL);
    if (current < 0 || ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int OpenRegularForReading(const std::string& path, struct stat& st) {
    int fd = OpenNonBlocking(path, O_RDONLY);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace platform
