// The keep-alive timer list, with the clock held still by the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "app/timer_list.h"
#include "link/clock.h"
#include "clock_support.h"

namespace {

std::int64_t g_testClock = 0;
std::int64_t TestClock() {
  return g_testClock;
}

// CheckTimer with the clock reading `now`.
int CheckTimerAt(std::intptr_t key, std::int64_t now) {
  g_testClock = now;
  return CheckTimer(key);
}

class TimerList : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearTimers();
    g_testClock = 0;
    SetClockSource(TestClock);
  }
  void TearDown() override {
    SetClockSource(nullptr);
    ClearTimers();
  }
};

}  // namespace

TEST_F(TimerList, EmptyListHasNothingDue) {
  EXPECT_EQ(CheckTimer(0), 0);
  EXPECT_EQ(CheckTimerAt(0, 1000000), 0);
  EXPECT_EQ(RemoveTimer(0), 0);
}

TEST_F(TimerList, DueAtTheIntervalNotBeforeAndStaysDue) {
  g_testClock = 5000;
  EXPECT_EQ(AddTimer(5000, 10000, 0), 0);
  EXPECT_EQ(MillisecondsUntilDue(0), 10000);
  g_testClock = 14999;
  EXPECT_EQ(CheckTimer(0), 0);
  EXPECT_EQ(MillisecondsUntilDue(0), 1);  // what the waiting cycle sleeps at most
  g_testClock = 15000;
  EXPECT_EQ(CheckTimer(0), 1);
  EXPECT_EQ(CheckTimer(0), 1);
  EXPECT_EQ(MillisecondsUntilDue(0), 0);
  g_testClock = 40000;
  EXPECT_EQ(CheckTimer(0), 1);
  EXPECT_EQ(MillisecondsUntilDue(0), 0);
  EXPECT_EQ(CheckTimer(1), 0);
  EXPECT_EQ(MillisecondsUntilDue(1), -1);
  EXPECT_EQ(RemoveTimer(0), 1);
  EXPECT_EQ(CheckTimer(0), 0);
  EXPECT_EQ(RemoveTimer(0), 0);
}

TEST_F(TimerList, KeepAliveRestartsFromTheNewReading) {
  AddTimer(0, 10000, 0);
  EXPECT_EQ(CheckTimerAt(0, 9999), 0);
  EXPECT_EQ(CheckTimerAt(0, 10000), 1);
  // The cycle's restart: remove, then add again at the clock reading.
  EXPECT_EQ(RemoveTimer(0), 1);
  AddTimer(10003, 10000, 0);
  EXPECT_EQ(CheckTimerAt(0, 20002), 0);
  EXPECT_EQ(CheckTimerAt(0, 20003), 1);
}

TEST_F(TimerList, RemovingAMissingKeyChangesNothing) {
  AddTimer(0, 100, 7);
  EXPECT_EQ(RemoveTimer(0), 0);
  EXPECT_EQ(CheckTimerAt(7, 100), 1);
}

TEST_F(TimerList, KeyMinusOneGivesUniqueKeys) {
  std::intptr_t a = AddTimer(0, 100, -1);
  std::intptr_t b = AddTimer(0, 200, -1);
  AddTimer(0, 300, 0);
  EXPECT_NE(a, -1);
  EXPECT_NE(b, -1);
  EXPECT_NE(a, b);
  EXPECT_NE(a, 0);
  EXPECT_NE(b, 0);
  EXPECT_EQ(CheckTimerAt(a, 100), 1);
  EXPECT_EQ(CheckTimerAt(b, 100), 0);
  EXPECT_EQ(CheckTimerAt(-1, 1000), 0);
  EXPECT_EQ(RemoveTimer(a), 1);
  EXPECT_EQ(RemoveTimer(a), 0);
  EXPECT_EQ(CheckTimerAt(b, 200), 1);
}

TEST_F(TimerList, TwoRecordsOfOneKey) {
  AddTimer(0, 10000, 0);  // first: due at 10000
  AddTimer(0, 100, 0);    // second: due at 100
  g_testClock = 40;
  EXPECT_EQ(MillisecondsUntilDue(0), 60) << "a wait to the first record's time would miss the second";
  EXPECT_EQ(CheckTimerAt(0, 99), 0);
  EXPECT_EQ(CheckTimerAt(0, 100), 1);  // the second alone is due
  // Removing deletes the first record, so the one due at 100 remains.
  EXPECT_EQ(RemoveTimer(0), 1);
  EXPECT_EQ(CheckTimerAt(0, 100), 1);
  EXPECT_EQ(RemoveTimer(0), 1);
  EXPECT_EQ(CheckTimerAt(0, 100000), 0);
}

TEST_F(TimerList, ElapsedTimeAcrossAWrappedMachineWord) {
  const std::intptr_t max = std::numeric_limits<std::intptr_t>::max();
  const std::intptr_t min = std::numeric_limits<std::intptr_t>::min();
  AddTimer(max - 5, 10, 3);
  EXPECT_EQ(CheckTimerAt(3, max), 0);
  EXPECT_EQ(CheckTimerAt(3, min + 3), 0);  // 9 ms later
  EXPECT_EQ(CheckTimerAt(3, min + 4), 1);  // 10 ms later
  AddTimer(min, 1, 4);
  EXPECT_EQ(CheckTimerAt(4, max), 0);  // elapsed wraps to -1
}

// The test clock itself: what it is set to is read until it is removed.
namespace {
std::int64_t g_fakeNow = 0;
std::int64_t FakeClock() {
  return g_fakeNow;
}

TEST(TestClock, InjectedSourceIsReadUntilRemoved) {
  std::int64_t real = ClockMilliseconds();
  SetClockSource(FakeClock);
  g_fakeNow = 9999;
  EXPECT_EQ(ClockMilliseconds(), 9999);
  g_fakeNow = -7;
  EXPECT_EQ(ClockMilliseconds(), -7);
  SetClockSource(nullptr);
  std::int64_t after = ClockMilliseconds();
  EXPECT_GE(after, real);
  EXPECT_LT(after - real, 1000);
}
}  // namespace
