// The clocks and sleeps on Windows: QueryPerformanceCounter with the
// GetTickCount fallback, Sleep with the system timer at 1 ms resolution, and
// for the fade's pace a high-resolution waitable timer where there is one.
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

static void SetTimerResolution() {
  if (!g_timerResolutionSet) {
    timeBeginPeriod(1);
    g_timerResolutionSet = 1;
  }
}

void SleepMilliseconds(int milliseconds) {
  SetTimerResolution();
  Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002  // Windows 10 1803; older headers lack it
#endif

static int g_microClockStarted = 0;
static LONGLONG g_microBase = 0;
static LONGLONG g_frequency = 0;  // counter ticks a second; 0 without a counter
static HANDLE g_preciseTimer = nullptr;
static int g_preciseTimerTried = 0;

std::int64_t ClockMicroseconds() {
  LARGE_INTEGER counter;
  if (!g_microClockStarted) {
    g_microClockStarted = 1;
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000 && QueryPerformanceCounter(&counter)) {
      g_frequency = frequency.QuadPart;
      g_microBase = counter.QuadPart;
    } else {
      g_microBase = static_cast<LONGLONG>(GetTickCount64());
    }
  }
  if (g_frequency == 0) return (static_cast<LONGLONG>(GetTickCount64()) - g_microBase) * 1000;
  QueryPerformanceCounter(&counter);
  const LONGLONG ticks = counter.QuadPart - g_microBase;
  // Whole seconds and the rest apart, so that ticks x 10^6 can't overflow.
  return (ticks / g_frequency) * 1000000 + (ticks % g_frequency) * 1000000 / g_frequency;
}

void SleepUntilMicroseconds(std::int64_t deadline) {
  const std::int64_t remaining = deadline - ClockMicroseconds();
  if (remaining <= 0) return;
  if (!g_preciseTimerTried) {
    g_preciseTimerTried = 1;
    g_preciseTimer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
  }
  if (g_preciseTimer != nullptr) {
    LARGE_INTEGER due;
    due.QuadPart = -remaining * 10;  // relative, in 100-nanosecond units
    if (SetWaitableTimer(g_preciseTimer, &due, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(g_preciseTimer, INFINITE);
      return;
    }
  }
  // Without the high-resolution timer the sleep ends on a 1 ms tick: round to
  // the nearest one. The fade's grid absorbs what that costs or gains.
  SetTimerResolution();
  Sleep(static_cast<DWORD>((remaining + 500) / 1000));
}
