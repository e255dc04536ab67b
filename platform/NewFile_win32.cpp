#include "platform/NewFile.h"
#include "platform/Wide_win32.h"

namespace platform {

bool CreateNewPrivateFile(const std::string& path) {
    auto wide = ToWide(path);
    if (!wide || wide->empty())
        return false;
    // CREATE_NEW fails on anything there, a link or junction included.
    ScopedHandle file(::CreateFileW(wide->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() && file.Reset();
}

} // namespace platform
