#include "platform/ExecutableDir.h"
#include "platform/Paths.h"

#include <limits.h>
#include <unistd.h>

namespace platform {

std::string ExecutableDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return std::string();
    return ExtractFilePath(std::string(buf, static_cast<size_t>(n)));
}

} // namespace platform
