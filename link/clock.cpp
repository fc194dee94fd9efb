#include "link/clock.h"

// The programs' millisecond clock is the operating system's. Tests that need
// ten seconds of keep-alive to pass in a fraction of one link a clock of
// their own in place of this file (tests/clock_support.cpp), which is why it
// holds this one function alone: nothing else may pull it into such a test.
std::int64_t ClockMilliseconds() {
  return SystemClockMilliseconds();
}
