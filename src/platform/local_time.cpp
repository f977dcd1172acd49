#include "platform/local_time.h"

#include <ctime>

namespace kem::platform {
namespace {

LocalTime FromTimespec(const timespec& now) {
    tm parts{};
    const time_t seconds = now.tv_sec;
    localtime_r(&seconds, &parts);
    LocalTime local;
    local.year = parts.tm_year + 1900;
    local.month = parts.tm_mon + 1;
    local.day = parts.tm_mday;
    local.hour = parts.tm_hour;
    local.minute = parts.tm_min;
    local.second = parts.tm_sec;
    local.millisecond = static_cast<int>(now.tv_nsec / 1000000);
    local.day_of_week = parts.tm_wday;
    local.unix_seconds = now.tv_sec;
    return local;
}

}  // namespace

LocalTime NowLocal() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return FromTimespec(now);
}

LocalTime ToLocal(int64_t unix_seconds) {
    return FromTimespec({unix_seconds, 0});
}

}  // namespace kem::platform
