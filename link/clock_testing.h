// Test-only: replaces the source that ClockMilliseconds reads, so that a test
// can run ten seconds of keep-alive in a fraction of one. Product code never
// includes this header.
#pragma once

#include <cstdint>

using ClockSource = std::int64_t (*)();
// null restores the operating system's clock.
void SetClockSource(ClockSource source);
