// The operating system's clock under ClockMilliseconds. Internal to link/:
// posix_clock.cpp and win32_clock.cpp implement it.
#pragma once

#include <cstdint>

// Whole milliseconds since the first reading (which returns 0), from the
// monotonic counter; on Windows without a usable counter, the tick count.
std::int64_t SystemClockMilliseconds();
