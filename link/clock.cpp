#include "link/clock.h"

#include "link/clock_testing.h"

// Always read through the pointer, so that the program takes the same path
// whether or not a test has put in a clock of its own.
static ClockSource g_clockSource = &SystemClockMilliseconds;

std::int64_t ClockMilliseconds() {
  return g_clockSource();
}

void SetClockSource(ClockSource source) {
  g_clockSource = source != nullptr ? source : &SystemClockMilliseconds;
}
