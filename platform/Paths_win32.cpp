#include "platform/Paths.h"
#include "platform/Wide_win32.h"

namespace platform {

const char kPathSeparator = '\\';

bool IsNameDelimiter(char c) {
    return c == '\\' || c == ':';
}

std::string CurrentDir() {
    return TextOfBufferCall(::GetCurrentDirectoryW);
}

} // namespace platform
