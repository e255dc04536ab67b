#include "platform/Paths.h"

#include <unistd.h>
#include <vector>

namespace platform {

std::string ExtractFileName(const std::string& path) {
    auto pos = path.find_last_of(kPathSeparator);
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ExtractFileDir(const std::string& path) {
    auto pos = path.find_last_of(kPathSeparator);
    if (pos == std::string::npos)
        return std::string();
    if (pos == 0)
        return std::string(1, kPathSeparator); // the root keeps its separator
    return path.substr(0, pos);
}

std::string ExtractFilePath(const std::string& path) {
    auto pos = path.find_last_of(kPathSeparator);
    return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string IncludeTrailingSeparator(const std::string& folder) {
    if (folder.empty() || folder.back() == kPathSeparator)
        return folder;
    return folder + kPathSeparator;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return IncludeTrailingSeparator(folder) + name;
}

std::string CurrentDir() {
    std::vector<char> buf(4096);
    if (!getcwd(buf.data(), buf.size()))
        return std::string();
    return std::string(buf.data());
}

} // namespace platform
