// Current local date and time, behind a replaceable source so tests control
// the time stamps of the journal and the dated file names.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace platform {

struct DateTime {
    int year = 0;
    int month = 0; // 1..12
    int day = 0;   // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The current local date and time (from the installed source).
DateTime Now();

// Replaces the source of Now(); an empty function restores the system clock.
void SetClockSource(std::function<DateTime()> source);

// Year in decimal, month and day in two digits: 20260305.
std::string DateText(const DateTime& when);

// Breaks seconds since 1970 into UTC calendar fields.
DateTime UtcFromUnix(int64_t seconds);

// Blocks the calling thread for the given milliseconds.
void SleepMs(int milliseconds);

} // namespace platform
