// A clock of the test's own: tests that link clock_support.cpp get its
// ClockMilliseconds in place of the programs' (link/clock.cpp), so that ten
// seconds of keep-alive can pass in a fraction of one.
#pragma once

#include <cstdint>

using ClockSource = std::int64_t (*)();
// Replaces the source that ClockMilliseconds reads; null restores the
// operating system's clock.
void SetClockSource(ClockSource source);
