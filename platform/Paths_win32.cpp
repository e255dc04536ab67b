#include "platform/Paths.h"
#include "platform/Wide_win32.h"

#include <vector>

namespace platform {

const char kPathSeparator = '\\';

bool IsNameDelimiter(char c) {
    return c == '\\' || c == ':';
}

std::string CurrentDir() {
    std::vector<wchar_t> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0)
            return std::string();
        if (n < buf.size())
            return FromWide(buf.data(), n);
        buf.resize(n + 1);
    }
}

} // namespace platform
