// The local wall-clock time with milliseconds.
#pragma once

#include <cstdint>

namespace kem::platform {

struct LocalTime {
    int year = 0;   // e.g. 2026
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int day_of_week = 0;  // 0 = Sunday
    int64_t unix_seconds = 0;
};

// Now, in the local time zone.
LocalTime NowLocal();

// The local time of `unix_seconds` (whole seconds, millisecond 0).
LocalTime ToLocal(int64_t unix_seconds);

}  // namespace kem::platform
