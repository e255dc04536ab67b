#include "platform/SystemClock.h"
#include "platform/Wide_win32.h"

namespace platform {
namespace {

DateTime FromSystemTime(const SYSTEMTIME& st) {
    return DateTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

} // namespace

DateTime SystemLocalNow() {
    // The local time by the user's Windows time zone settings.
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return FromSystemTime(st);
}

DateTime SystemUtcFromUnix(int64_t seconds) {
    const int64_t ticks = (seconds + 11644473600LL) * 10000000LL;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
    SYSTEMTIME st{};
    if (ticks < 0 || !::FileTimeToSystemTime(&ft, &st))
        return DateTime{};
    return FromSystemTime(st);
}

} // namespace platform
