#include "platform/Wide_win32.h"

#include <climits>
#include <vector>

namespace platform {

std::optional<std::wstring> ToWide(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    if (utf8.size() > static_cast<size_t>(INT_MAX))
        return std::nullopt;
    const int size = static_cast<int>(utf8.size());
    const int needed =
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (needed <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(),
                              needed) != needed)
        return std::nullopt;
    // A NUL inside would cut the name short at the system call.
    if (wide.find(L'\0') != std::wstring::npos)
        return std::nullopt;
    return wide;
}

std::string FromWide(const wchar_t* wide, size_t length) {
    if (length == 0 || length > static_cast<size_t>(INT_MAX))
        return std::string();
    const int size = static_cast<int>(length);
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide, size, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string utf8(static_cast<size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, size, utf8.data(), needed, nullptr, nullptr);
    return utf8;
}

std::string FromWide(const std::wstring& wide) {
    return FromWide(wide.data(), wide.size());
}

std::string TextOfBufferCall(DWORD(WINAPI* call)(DWORD, LPWSTR)) {
    std::vector<wchar_t> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n = call(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0)
            return std::string();
        if (n < buf.size())
            return FromWide(buf.data(), n);
        buf.resize(n + 1);
    }
}

int64_t UnixFromFileTime(const FILETIME& time) {
    constexpr int64_t kTicksPerSecond = 10000000;
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const int64_t seconds = static_cast<int64_t>(ticks / kTicksPerSecond);
    return seconds - kSecondsFrom1601To1970;
}

int32_t NsecFromFileTime(const FILETIME& time) {
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return static_cast<int32_t>(ticks % 10000000) * 100;
}

} // namespace platform
