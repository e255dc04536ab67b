// The application folder: the executable's own, or the one tests set.
#include "platform/ExecutableDir.h"
#include "platform/Paths.h"

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
    return ExecutableDir();
}

} // namespace platform
