#include "platform/Paths.h"

namespace platform {
namespace {

size_t LastDelimiter(const std::string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsNameDelimiter(path[i - 1]))
            return i - 1;
    return std::string::npos;
}

} // namespace

std::string ExtractFileName(const std::string& path) {
    auto pos = LastDelimiter(path);
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ExtractFileDir(const std::string& path) {
    auto pos = LastDelimiter(path);
    if (pos == std::string::npos)
        return std::string();
    // A separator right at the start or after a drive's colon belongs to a
    // root ("/", "\", "C:\") and stays.
    const bool root =
        pos == 0 || (IsNameDelimiter(path[pos - 1]) && path[pos - 1] != kPathSeparator);
    if (path[pos] == kPathSeparator && !root)
        return path.substr(0, pos);
    return path.substr(0, pos + 1);
}

std::string ExtractFilePath(const std::string& path) {
    auto pos = LastDelimiter(path);
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

} // namespace platform
