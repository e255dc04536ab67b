#include "platform/Clock.h"
#include "platform/SystemClock.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace platform {
namespace {

std::function<DateTime()>& Source() {
    static std::function<DateTime()> source;
    return source;
}

} // namespace

DateTime Now() {
    if (Source())
        return Source()();
    return SystemLocalNow();
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
    return SystemUtcFromUnix(seconds);
}

void SleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace platform
