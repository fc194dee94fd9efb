#include <gtest/gtest.h>

#include "link/clock.h"

namespace {

// Runs first in this binary: nothing has read the clock before it.
TEST(ClockMilliseconds, FirstReadingIsZeroAndReadingsNeverDecrease) {
  EXPECT_EQ(ClockMilliseconds(), 0);
  std::int64_t previous = 0;
  for (int i = 0; i < 100000; ++i) {
    std::int64_t now = ClockMilliseconds();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(ClockMilliseconds, SleepIsMeasuredInMilliseconds) {
  std::int64_t before = ClockMilliseconds();
  SleepMilliseconds(50);
  std::int64_t slept = ClockMilliseconds() - before;
  EXPECT_GE(slept, 50);
  EXPECT_LT(slept, 1000);

  before = ClockMilliseconds();
  SleepMilliseconds(0);
  SleepMilliseconds(-5);
  EXPECT_LT(ClockMilliseconds() - before, 50);

  // The fade's clock: microseconds, and a sleep until a deadline on it.
  const std::int64_t start = ClockMicroseconds();
  SleepUntilMicroseconds(start + 30000);
  const std::int64_t woke = ClockMicroseconds();
  EXPECT_GE(woke, start + 30000);
  EXPECT_LT(woke, start + 1000000);
  SleepUntilMicroseconds(woke - 1);  // a deadline that has passed returns at once
  EXPECT_LT(ClockMicroseconds() - woke, 50000);
}

}  // namespace
