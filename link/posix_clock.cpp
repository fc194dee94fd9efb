// The millisecond clock and sleep on POSIX: CLOCK_MONOTONIC and nanosleep.
#include <cerrno>
#include <ctime>

#include "link/clock.h"

static int g_clockStarted = 0;
static std::int64_t g_clockBase = 0;  // nanoseconds at the first reading

static std::int64_t MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::int64_t SystemClockMilliseconds() {
  std::int64_t now = MonotonicNanoseconds();
  if (!g_clockStarted) {
    g_clockBase = now;
    g_clockStarted = 1;
  }
  return (now - g_clockBase) / 1000000;
}

// The timer resolution needs no setting here: nanosleep is already fine-grained.
void SleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec remaining{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}
