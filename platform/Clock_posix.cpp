#include "platform/SystemClock.h"

#include <ctime>

namespace platform {
namespace {

DateTime FromTm(const std::tm& tm) {
    DateTime d;
    d.year = tm.tm_year + 1900;
    d.month = tm.tm_mon + 1;
    d.day = tm.tm_mday;
    d.hour = tm.tm_hour;
    d.minute = tm.tm_min;
    d.second = tm.tm_sec;
    return d;
}

} // namespace

DateTime SystemLocalNow() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return FromTm(tm);
}

DateTime SystemUtcFromUnix(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return FromTm(tm);
}

} // namespace platform
