#include "platform/ExecutableDir.h"
#include "platform/Paths.h"
#include "platform/Wide_win32.h"

#include <vector>

namespace platform {

std::string ExecutableDir() {
    // The running module's own file name; the buffer grows until the whole
    // name fits (a cut name would point into the wrong folder).
    std::vector<wchar_t> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return std::string();
        if (n < buf.size())
            return ExtractFilePath(FromWide(buf.data(), n));
        if (buf.size() >= 32768)
            return std::string();
        buf.resize(buf.size() * 2);
    }
}

} // namespace platform
