#include "platform/Paths.h"

#include <unistd.h>
#include <vector>

namespace platform {

const char kPathSeparator = '/';

bool IsNameDelimiter(char c) {
    return c == '/';
}

std::string CurrentDir() {
    std::vector<char> buf(4096);
    if (!getcwd(buf.data(), buf.size()))
        return std::string();
    return std::string(buf.data());
}

} // namespace platform
