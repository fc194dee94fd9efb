// The clocks and sleeps on POSIX: CLOCK_MONOTONIC, nanosleep and, to the
// microsecond, clock_nanosleep with an absolute deadline.
#include <sys/prctl.h>

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

static int g_microClockStarted = 0;
static std::int64_t g_microClockBase = 0;  // nanoseconds at the first reading

std::int64_t ClockMicroseconds() {
  const std::int64_t now = MonotonicNanoseconds();
  if (!g_microClockStarted) {
    g_microClockBase = now;
    g_microClockStarted = 1;
  }
  return (now - g_microClockBase) / 1000;
}

static int g_slackNarrowed = 0;

void SleepUntilMicroseconds(std::int64_t deadline) {
  if (!g_microClockStarted) ClockMicroseconds();
  // Linux lets a sleeping thread's wake-up slip by its timer slack, 50 us by
  // default, so that it can share a wake-up with other timers. A fade's steps
  // are paced to the microsecond, so the thread that fades asks for the least
  // slack, once: the setting stays with the thread.
  if (!g_slackNarrowed) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    g_slackNarrowed = 1;
  }
  const std::int64_t at = g_microClockBase + deadline * 1000;
  const timespec until{static_cast<time_t>(at / 1000000000), static_cast<long>(at % 1000000000)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// The timer resolution needs no setting here: nanosleep is already fine-grained.
void SleepMilliseconds(int milliseconds) {
  if (milliseconds <= 0) return;
  timespec remaining{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}
