// The clocks and sleeps on Windows: QueryPerformanceCounter with the
// GetTickCount fallback, Sleep with the system timer at 1 ms resolution, and
// for the fade's pace the system's sleep where it is fine-grained, else a
// high-resolution waitable timer where there is one.
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

// NtDelayExecution: the sleep under Sleep, taking 100-nanosecond units. Where
// the system's own sleep is fine-grained (Wine's is a select() to the
// microsecond), it waits to the deadline without a timer object: a waitable
// timer costs two calls into the kernel at every fade step (setting it and
// waiting on it), and under Wine each of them is a round trip to the
// wineserver - the largest part of what a fade step costs there.
using DelayExecution = LONG(WINAPI*)(BOOLEAN alertable, const LARGE_INTEGER* interval);

static DelayExecution g_delayExecution = nullptr;
// Whether the plain sleep ends close enough to its time: -1 until found out,
// then 0 or 1. A fine one stays fine for the rest of the run. A coarse verdict
// is looked at again now and then: a busy moment during the probe (the first
// waits come just after the capture) can make a fine sleep look coarse, and
// that would cost the timer's two kernel calls at every step of every fade.
static int g_sleepIsFine = -1;
static int g_probeSleeps = 0;
static int g_fineSleeps = 0;
static int g_waitsSinceVerdict = 0;

// A sleep tick-bound to a 1 ms timer ends up to a tick late, evenly spread,
// so it passes a probe about one time in seven; a fine-grained one passes
// nearly always, and a busy machine makes it miss one now and then. Five of
// seven tells them apart.
constexpr std::int64_t kProbeSleep = 300;    // us: well inside one tick of a 1 ms system timer
constexpr std::int64_t kFineLateness = 150;  // us late at most, for a sleep to pass
constexpr int kProbes = 7;
constexpr int kFineProbesNeeded = 5;
// About every 2 s of fading. On a system whose sleep is tick-bound the probe
// costs nothing: its sleeps fall inside a wait that is waited anyway.
constexpr int kWaitsBeforeProbingAgain = 200;

static void DelayMicroseconds(std::int64_t microseconds) {
  LARGE_INTEGER interval;
  interval.QuadPart = -microseconds * 10;  // relative
  g_delayExecution(FALSE, &interval);
}

// Finds out, during the first waits and inside their time, whether a short
// sleep ends on time or only at the system timer's next tick (as on Windows,
// where the high-resolution timer is then the one that keeps the fade's pace).
static void ProbeSleep(std::int64_t deadline) {
  if (g_delayExecution == nullptr) {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr) {
      g_delayExecution = reinterpret_cast<DelayExecution>(
          reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "NtDelayExecution")));
    }
    if (g_delayExecution == nullptr) {
      g_sleepIsFine = 0;
      return;
    }
  }
  while (g_sleepIsFine < 0 && deadline - ClockMicroseconds() > 4 * kProbeSleep) {
    const std::int64_t before = ClockMicroseconds();
    DelayMicroseconds(kProbeSleep);
    if (ClockMicroseconds() - before - kProbeSleep <= kFineLateness) ++g_fineSleeps;
    if (++g_probeSleeps == kProbes) g_sleepIsFine = g_fineSleeps >= kFineProbesNeeded ? 1 : 0;
  }
}

void SleepUntilMicroseconds(std::int64_t deadline) {
  if (g_sleepIsFine == 0 && g_delayExecution != nullptr && ++g_waitsSinceVerdict >= kWaitsBeforeProbingAgain) {
    g_sleepIsFine = -1;
    g_probeSleeps = 0;
    g_fineSleeps = 0;
    g_waitsSinceVerdict = 0;
  }
  if (g_sleepIsFine < 0) ProbeSleep(deadline);
  std::int64_t remaining = deadline - ClockMicroseconds();
  if (remaining <= 0) return;
  if (g_sleepIsFine == 1) {
    // Its clock is not this one: what it ends a few microseconds short of
    // is slept again.
    do {
      DelayMicroseconds(remaining);
      remaining = deadline - ClockMicroseconds();
    } while (remaining > 0);
    return;
  }
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
