// The system's own calendar time, behind Clock.cpp (one file per system).
#pragma once
#include "platform/Clock.h"

namespace platform {

// The current local date and time as the system reports it.
DateTime SystemLocalNow();

// Seconds since 1970 broken into UTC calendar fields.
DateTime SystemUtcFromUnix(int64_t seconds);

} // namespace platform
