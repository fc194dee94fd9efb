// The millisecond clock and sleep. One neutral header: posix_clock.cpp and
// win32_clock.cpp hold the operating system's side, clock.cpp what they share.
#pragma once

#include <cstdint>

// Whole milliseconds since the first reading (which returns 0); never decreases.
std::int64_t ClockMilliseconds();
// Suspends the thread; no window events are taken meanwhile. On Windows the
// first call sets the system timer to 1 ms resolution for the rest of the run.
void SleepMilliseconds(int milliseconds);

// The pace of a fade: microseconds of the operating system's monotonic
// counter since its first reading here (which returns 0; on Windows without a
// usable counter, the tick count's). Tests can't replace this clock.
std::int64_t ClockMicroseconds();
// Suspends the thread until ClockMicroseconds reaches deadline; returns at
// once when it has. On Windows a high-resolution waitable timer where the
// system has one, else Sleep with the timer at 1 ms resolution.
void SleepUntilMicroseconds(std::int64_t deadline);

// The operating system's monotonic counter under ClockMilliseconds: whole
// milliseconds since its first reading; on Windows without a usable counter,
// the tick count.
std::int64_t SystemClockMilliseconds();
