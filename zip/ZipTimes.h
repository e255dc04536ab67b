// Conversions of a file's UTC times and attributes into the archive's fields.
#pragma once
#include <cstdint>

namespace zip {

// MS-DOS date (high 16 bits) and time (low 16 bits) of the UTC calendar
// fields, with two-second resolution. Times before 1980 or after 2107, which
// the format cannot hold, give the nearest representable value.
std::uint32_t DosDateTimeFromUtc(std::int64_t unixSeconds);

// Seconds since 1970 for the extended-timestamp field: the UTC calendar date
// with the year held within 1970..2037 (time of day kept), so the value fits
// the field's signed 32 bits.
std::uint32_t ExtendedTimeFromUtc(std::int64_t unixSeconds);

// External attributes: MS-DOS bits in the low byte (archive, read-only when
// the owner cannot write), a Unix regular-file mode in the high half.
// Sources are data, never programs: no execute bit.
std::uint32_t ExternalAttributes(bool ownerWritable);

} // namespace zip
