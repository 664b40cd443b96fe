#include "steadyclock.h"

#include <ctime>

namespace Platform {

qint64 steadyClockMs()
{
    timespec now = {};
    // CLOCK_MONOTONIC would stand still during a suspend.
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace Platform
