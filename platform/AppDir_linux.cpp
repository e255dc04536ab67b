#include "platform/Paths.h"

#include <limits.h>
#include <unistd.h>

namespace platform {
namespace {
std::string& Override() {
    static std::string folder;
    return folder;
}
} // namespace

void SetApplicationDirOverride(const std::string& folder) {
    Override() = folder.empty() ? folder : IncludeTrailingSeparator(folder);
}

std::string ApplicationDir() {
    if (!Override().empty())
        return Override();
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return std::string();
    return ExtractFilePath(std::string(buf, static_cast<size_t>(n)));
}

} // namespace platform
