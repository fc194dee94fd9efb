// The millisecond clock and sleep on Windows: QueryPerformanceCounter with the
// GetTickCount fallback, Sleep with the system timer at 1 ms resolution.
#include <windows.h>

#include <mmsystem.h>

#include "link/clock.h"

static int g_clockStarted = 0;
static int g_useTickCount = 0;
static LONGLONG g_counterBase = 0;
static LONGLONG g_ticksPerMillisecond = 1;
static int g_timerResolutionSet = 0;

std::int64_t SystemClockMilliseconds() {
  LARGE_INTEGER counter;
  if (!g_clockStarted) {
    g_clockStarted = 1;
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000 && QueryPerformanceCounter(&counter)) {
      g_ticksPerMillisecond = frequency.QuadPart / 1000;
      g_counterBase = counter.QuadPart;
      return 0;
    }
    g_useTickCount = 1;
  }
  if (g_useTickCount) return static_cast<std::int64_t>(GetTickCount());
  QueryPerformanceCounter(&counter);
  return (counter.QuadPart - g_counterBase) / g_ticksPerMillisecond;
}

void SleepMilliseconds(int milliseconds) {
  if (!g_timerResolutionSet) {
    timeBeginPeriod(1);
    g_timerResolutionSet = 1;
  }
  Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}
