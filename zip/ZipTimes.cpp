#include "zip/ZipTimes.h"

namespace zip {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

struct CivilDate {
    std::int64_t year;
    int month; // 1..12
    int day;   // 1..31
};

// Proleptic Gregorian calendar conversions (days since 1970-01-01).
CivilDate CivilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

} // namespace

std::uint32_t DosDateTimeFromUtc(std::int64_t unixSeconds) {
    const std::int64_t first = DaysFromCivil(1980, 1, 1) * kSecondsPerDay;
    const std::int64_t last = DaysFromCivil(2107, 12, 31) * kSecondsPerDay + 86399;
    if (unixSeconds < first)
        unixSeconds = first;
    if (unixSeconds > last)
        unixSeconds = last;
    const std::int64_t days = FloorDiv(unixSeconds, kSecondsPerDay);
    const std::int64_t secondOfDay = unixSeconds - days * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days);
    const std::uint32_t dosDate =
        static_cast<std::uint32_t>(((date.year - 1980) << 9) | (date.month << 5) | date.day);
    const std::uint32_t hour = static_cast<std::uint32_t>(secondOfDay / 3600);
    const std::uint32_t minute = static_cast<std::uint32_t>(secondOfDay / 60 % 60);
    const std::uint32_t second = static_cast<std::uint32_t>(secondOfDay % 60);
    const std::uint32_t dosTime = (hour << 11) | (minute << 5) | (second / 2);
    return (dosDate << 16) | dosTime;
}

std::uint32_t ExtendedTimeFromUtc(std::int64_t unixSeconds) {
    std::int64_t days = FloorDiv(unixSeconds, kSecondsPerDay);
    const std::int64_t secondOfDay = unixSeconds - days * kSecondsPerDay;
    const CivilDate date = CivilFromDays(days);
    if (date.year < 1970)
        days = 0;
    else if (date.year > 2037)
        days = DaysFromCivil(2037, 12, 31);
    return static_cast<std::uint32_t>(days * kSecondsPerDay + secondOfDay);
}

std::uint32_t ExternalAttributes(bool ownerWritable) {
    constexpr std::uint32_t kDosReadOnly = 0x01;
    constexpr std::uint32_t kDosArchive = 0x20;
    constexpr std::uint32_t kUnixRegularFile = 0x8000;
    constexpr std::uint32_t kUnixOwnerRead = 0x0100;
    constexpr std::uint32_t kUnixOwnerWrite = 0x0080;
    std::uint32_t dos = kDosArchive | (ownerWritable ? 0 : kDosReadOnly);
    std::uint32_t unixMode =
        kUnixRegularFile | kUnixOwnerRead | (ownerWritable ? kUnixOwnerWrite : 0);
    return (unixMode << 16) | dos;
}

} // namespace zip
