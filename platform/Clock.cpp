#include "platform/Clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace platform {
namespace {

std::function<DateTime()>& Source() {
    static std::function<DateTime()> source;
    return source;
}

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

DateTime Now() {
    if (Source())
        return Source()();
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return FromTm(tm);
}

void SetClockSource(std::function<DateTime()> source) {
    Source() = std::move(source);
}

std::string DateText(const DateTime& when) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d%02d%02d", when.year, when.month, when.day);
    return buf;
}

DateTime UtcFromUnix(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return FromTm(tm);
}

void SleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace platform
