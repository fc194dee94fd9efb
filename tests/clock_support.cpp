#include "clock_support.h"

#include "link/clock.h"

static ClockSource g_clockSource = &SystemClockMilliseconds;

std::int64_t ClockMilliseconds() {
  return g_clockSource();
}

void SetClockSource(ClockSource source) {
  g_clockSource = source != nullptr ? source : &SystemClockMilliseconds;
}
