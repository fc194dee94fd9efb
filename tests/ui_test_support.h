// What the control-layer tests share.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "ui/controls.h"

// Takes every event, processing pending input; returns the control and close events.
inline std::vector<Event> TakeEvents() {
  std::vector<Event> taken;
  for (int i = 0; i < 10000; ++i) {
    const Event event = PollEvent();
    if (event.kind == EventKind::None) break;
    if (event.kind == EventKind::Control || event.kind == EventKind::Close) taken.push_back(event);
  }
  return taken;
}

// Bound-callback runs by control number, since the fixture's last SetUp.
inline std::map<int, int> g_calls;

template <int Control>
void CountCall() {
  ++g_calls[Control];
}

// The window built once for a suite; before each test the settings are back
// at their starting values, callbacks counting, and no event left over.
class WindowTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(BuildMainWindow(), 1); }
  static void TearDownTestSuite() { DestroyMainWindow(); }

  void SetUp() override {
    SetControlValue(TooSlowOption, 1);
    SetControlValue(ChannelList, 0);
    SetControlValue(MinimumSpin, 0);
    SetControlText(MinimumSpin, "0");
    BindControlCallback(TooSlowOption, CountCall<TooSlowOption>);
    BindControlCallback(SlowOption, CountCall<SlowOption>);
    BindControlCallback(CaptureButton, CountCall<CaptureButton>);
    BindControlCallback(UpdatesButton, CountCall<UpdatesButton>);
    BindControlCallback(ChannelList, CountCall<ChannelList>);
    BindControlCallback(MinimumSpin, CountCall<MinimumSpin>);
    TakeEvents();
    g_calls.clear();
  }
};
