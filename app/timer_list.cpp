// The keep-alive timer list: an ordered list of {start, key, interval}
// records that the fade cycle polls on every pass of its loop.
#include "app/timer_list.h"

#include <list>

#include "link/clock.h"

struct TimerRecord {
  std::intptr_t start;
  std::intptr_t key;
  std::intptr_t interval;
};

// std::list keeps every record at one address for its whole life, which is
// what makes the address usable as a key.
static std::list<TimerRecord> g_timerList;

std::intptr_t AddTimer(std::intptr_t start, std::intptr_t interval, std::intptr_t key) {
  TimerRecord& record = g_timerList.emplace_back(TimerRecord{start, key, interval});
  if (key == -1) {
    record.key = reinterpret_cast<std::intptr_t>(&record);
  }
  return record.key;
}

std::intptr_t MillisecondsUntilDue(std::intptr_t key) {
  // A 64-bit reading narrows modulo 2^32 in the 32-bit build, like the
  // machine-word start it is compared with. now - start in unsigned
  // arithmetic: a clock that has wrapped in a machine word still gives the
  // right elapsed time, without signed overflow.
  const auto now = static_cast<std::uintptr_t>(ClockMilliseconds());
  std::intptr_t soonest = -1;
  for (const TimerRecord& record : g_timerList) {
    if (record.key != key) {
      continue;
    }
    const auto elapsed = static_cast<std::intptr_t>(now - static_cast<std::uintptr_t>(record.start));
    const std::intptr_t left = elapsed >= record.interval ? 0 : record.interval - elapsed;
    if (soonest < 0 || left < soonest) soonest = left;
  }
  return soonest;
}

int CheckTimer(std::intptr_t key) {
  return MillisecondsUntilDue(key) == 0 ? 1 : 0;
}

int RemoveTimer(std::intptr_t key) {
  for (auto record = g_timerList.begin(); record != g_timerList.end(); ++record) {
    if (record->key == key) {
      g_timerList.erase(record);
      return 1;
    }
  }
  return 0;
}

void ClearTimers() {
  g_timerList.clear();
}
