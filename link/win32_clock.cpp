// The clocks and sleeps on Windows: QueryPerformanceCounter with the
// GetTickCount fallback, Sleep with the system timer at 1 ms resolution, and
// for the fade's pace a high-resolution waitable timer where there is one.
#include <windows.h>

#include <mmsystem.h>

#include "link/clock.h"

// QueryPerformanceCounter from a base of its own, set at the first reading.
// frequency stays 0 where there is no usable counter (none, or one below
// 1000 ticks a second); the clocks then fall back on the tick count.
struct Counter {
  int started;
  LONGLONG base;
  LONGLONG frequency;  // ticks a second
};

// Ticks since the counter's first reading into *ticks, or 0 without a counter.
static int ReadCounter(Counter* c, LONGLONG* ticks) {
  LARGE_INTEGER now;
  if (!c->started) {
    c->started = 1;
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart >= 1000 && QueryPerformanceCounter(&now)) {
      c->frequency = frequency.QuadPart;
      c->base = now.QuadPart;
    }
  }
  if (c->frequency == 0) return 0;
  QueryPerformanceCounter(&now);
  *ticks = now.QuadPart - c->base;
  return 1;
}

static Counter g_millisecondCounter;
static Counter g_microsecondCounter;
static int g_timerResolutionSet = 0;

std::int64_t SystemClockMilliseconds() {
  LONGLONG ticks = 0;
  if (!ReadCounter(&g_millisecondCounter, &ticks)) return static_cast<std::int64_t>(GetTickCount());
  return ticks / (g_millisecondCounter.frequency / 1000);
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

static HANDLE g_preciseTimer = nullptr;
static int g_preciseTimerTried = 0;

std::int64_t ClockMicroseconds() {
  LONGLONG ticks = 0;
  if (!ReadCounter(&g_microsecondCounter, &ticks)) return static_cast<std::int64_t>(GetTickCount64()) * 1000;
  const LONGLONG frequency = g_microsecondCounter.frequency;
  // Whole seconds and the rest apart, so that ticks x 10^6 can't overflow.
  return (ticks / frequency) * 1000000 + (ticks % frequency) * 1000000 / frequency;
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
