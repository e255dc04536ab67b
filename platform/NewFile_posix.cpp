#include "platform/NewFile.h"

#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool CreateNewPrivateFile(const std::string& path) {
    if (path.empty())
        return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // A umask may have taken bits away, never added any: 0600 at most.
    return ::close(fd) == 0;
}

} // namespace platform
