// The control layer's contract, one test for every backend the build has:
// the null backend natively, Qt under the offscreen platform, Win32 under
// Wine. Only ui/controls.h and the user driver (tests/ui_driver.h) are used,
// so a backend that passes behaves, for the program, like every other one.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/ui_driver.h"
#include "tests/ui_test_support.h"
#include "ui/control_core.h"
#include "ui/controls.h"

namespace {

using ControlLayerTest = WindowTest;

TEST_F(ControlLayerTest, BuildsEveryControlWithItsTextAndStartingState) {
  struct Expected {
    int control;
    const char* text;
    int enabled;
  };
  const Expected expected[] = {
      {TooSlowOption, "Too Slow", 1},
      {SlowOption, "Slow", 1},
      {NormalOption, "Normal", 1},
      {FastOption, "Fast", 1},
      {CaptureButton, "Get Main Position Until Touch", 1},
      {ResetOffButton, "Reset Off", 0},
      {UpdatesButton, "Updates", 1},
      {EditIpButton, "Edit IP", 1},
      {MixerIpField, "", 0},
      {MinimumSpin, "0", 1},
      {ChannelList, "", 1},
  };
  for (const Expected& want : expected) {
    SCOPED_TRACE(want.control);
    if (want.control != ChannelList) {
      EXPECT_EQ(GetControlText(want.control), want.text);
    }
    EXPECT_EQ(ControlEnabled(want.control), want.enabled);
  }
  EXPECT_EQ(GetControlValue(TooSlowOption), 1);
  EXPECT_EQ(GetControlValue(SlowOption) + GetControlValue(NormalOption) + GetControlValue(FastOption), 0);
  EXPECT_EQ(GetControlValue(ChannelList), 0);
  EXPECT_EQ(GetControlValue(MinimumSpin), 0);
}

TEST_F(ControlLayerTest, ListHoldsMainAndThirtyTwoChannelsAndReportsTheUsersChoice) {
  EXPECT_EQ(ListEntry(ChannelList, 0), "Main");
  EXPECT_EQ(ListEntry(ChannelList, 1), "Ch 1");
  EXPECT_EQ(ListEntry(ChannelList, 13), "Ch 13");
  EXPECT_EQ(ListEntry(ChannelList, 32), "Ch 32");
  SetControlValue(ChannelList, 32);
  SetControlValue(ChannelList, 33);  // no such entry: the selection stays
  EXPECT_EQ(GetControlValue(ChannelList), 32);

  UserSelectEntry(ChannelList, 5);
  const std::vector<Event> events = TakeEvents();
  ASSERT_FALSE(events.empty());
  for (const Event& event : events) EXPECT_EQ(event.control, ChannelList);
  EXPECT_EQ(GetControlValue(ChannelList), 5);
  EXPECT_GE(g_calls[ChannelList], static_cast<int>(events.size()));
}

// A press on an entry reports its release, and the start of a drag once the
// pointer leaves the platform's drag box: every platform's box is wider than
// 2 pixels and narrower than 40.
TEST_F(ControlLayerTest, ListReportsThePressesReleaseAndOneDragStartBeyondTheDragBox) {
  for (const auto& [dy, drags] : {std::pair{0, 0}, std::pair{1, 0}, std::pair{40, 1}}) {
    UserDragFromEntry(ChannelList, 0, 0, dy);
    int dragStarts = 0;
    int releases = 0;
    for (const Event& event : TakeEvents()) {
      dragStarts += event.action == kActionListDrag ? 1 : 0;
      releases += event.action == kActionListButtonUp ? 1 : 0;
    }
    EXPECT_EQ(dragStarts, drags) << "moved by " << dy;
    EXPECT_EQ(releases, 1) << "moved by " << dy;
  }
}

TEST_F(ControlLayerTest, OptionValuesFollowTheGroup) {
  SetControlValue(FastOption, 1);
  EXPECT_EQ(GetControlValue(FastOption), 1);
  EXPECT_EQ(GetControlValue(TooSlowOption) + GetControlValue(SlowOption) + GetControlValue(NormalOption), 0);
  SetControlValue(FastOption, 1);  // selecting the selected option keeps it selected
  EXPECT_EQ(GetControlValue(FastOption), 1);
  SetControlValue(FastOption, 0);  // 0 deselects that option alone
  EXPECT_EQ(GetControlValue(TooSlowOption) + GetControlValue(SlowOption) + GetControlValue(NormalOption) +
                GetControlValue(FastOption),
            0);
  SetControlValue(SlowOption, 1);
  EXPECT_EQ(GetControlValue(SlowOption), 1);
  EXPECT_EQ(GetControlValue(TooSlowOption) + GetControlValue(NormalOption) + GetControlValue(FastOption), 0);
}

TEST_F(ControlLayerTest, SpinKeepsItsValueAndItsTextApart) {
  SetControlValue(MinimumSpin, 42);
  EXPECT_EQ(GetControlValue(MinimumSpin), 42);
  EXPECT_EQ(GetControlText(MinimumSpin), "0");
  SetControlText(MinimumSpin, "x7");
  EXPECT_EQ(GetControlValue(MinimumSpin), 42);
  EXPECT_EQ(GetControlText(MinimumSpin), "x7");
  SetControlValue(MinimumSpin, 250);
  EXPECT_EQ(GetControlValue(MinimumSpin), 100);
  SetControlValue(MinimumSpin, -3);
  EXPECT_EQ(GetControlValue(MinimumSpin), 0);
  DisableControl(MinimumSpin, 1);
  EXPECT_EQ(ControlEnabled(MinimumSpin), 0);
  DisableControl(MinimumSpin, 0);
  EXPECT_EQ(ControlEnabled(MinimumSpin), 1);
}

TEST_F(ControlLayerTest, AddressFieldShowsOctetOneFromTheLowestByte) {
  SetControlValue(MixerIpField, 0x1001A8C0);  // the packed value of 192.168.1.16
  EXPECT_EQ(GetControlText(MixerIpField), "192.168.1.16");
  EXPECT_EQ(GetControlValue(MixerIpField), 0x1001A8C0);
}

// A new status line is drawn only where it differs from the last one: what
// the window then shows is what a drawing of the whole window shows.
TEST_F(ControlLayerTest, ANewStatusLineLooksAsTheWholeLineDrawnAfresh) {
  const char* lines[] = {
      "Touch Ch 5 on the console",
      "Ch 5: -9.8 dB, fading to -\xE2\x88\x9E dB, 10.1 s left",  // -oo
      "Ch 5: -9.9 dB, fading to -\xE2\x88\x9E dB, 10.0 s left",  // the same width
      "Ch 5: -10.0 dB, fading to -\xE2\x88\x9E dB, 9.9 s left",  // a new width
      "Ch 5: -10.1 dB, fading to -\xE2\x88\x9E dB, 9.8 s left",
      "Ch 5 stopped at -10.1 dB (Reset Off)",
  };
  for (const char* line : lines) {
    SetControlText(MainStatusBar, line);
    Drain();
    const std::vector<std::uint32_t> shown = ShownPixels(MainStatusBar, false);
    if (shown.empty()) GTEST_SKIP() << "this backend draws nothing";
    EXPECT_EQ(shown, ShownPixels(MainStatusBar, true)) << line;
  }
}

TEST(WindowPlacement, CentredAndNeverOffTheScreensTopLeft) {
  EXPECT_EQ(CentredPosition(586, 1280), 347);
  EXPECT_EQ(CentredPosition(587, 1280), 346);  // the division truncates
  EXPECT_EQ(CentredPosition(586, 586), 0);
  EXPECT_EQ(CentredPosition(586, 400), 0);  // a screen narrower than the window
}

TEST_F(ControlLayerTest, NumbersThatNameNoControlDoNothing) {
  SetControlText(4242, "x");
  SetControlValue(4242, 1);
  DisableControl(4242, 1);
  AddListEntry(4242, 0, "x");
  AddListEntry(CaptureButton, 0, "x");
  BindControlCallback(4242, CountCall<4242>);
  EXPECT_EQ(GetControlText(4242), "");
  EXPECT_EQ(GetControlValue(4242), 0);
  EXPECT_EQ(GetControlText(CaptureButton), "Get Main Position Until Touch");
}

TEST_F(ControlLayerTest, ProgramChangesReportNoEventAndRunNoCallback) {
  SetControlText(CaptureButton, "Touch Selected Downwards");
  SetControlText(MinimumSpin, "55");
  SetControlValue(MinimumSpin, 7);
  SetControlValue(SlowOption, 1);
  SetControlValue(ChannelList, 5);
  SetControlValue(MixerIpField, 0x0100007F);
  DisableControl(ChannelList, 1);
  DisableControl(ChannelList, 0);
  AddListEntry(ChannelList, 33, "Extra");
  AddListEntry(ChannelList, 0, "First");
  SetControlValue(ChannelList, 34);
  EXPECT_EQ(GetControlValue(ChannelList), 34) << "the two entries were added";
  SetControlText(CaptureButton, "Get Main Position Until Touch");

  EXPECT_TRUE(g_calls.empty());
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_TRUE(g_calls.empty());
  // The window is built once per suite; put the list back as it was.
  DestroyMainWindow();
  ASSERT_EQ(BuildMainWindow(), 1);
}

TEST_F(ControlLayerTest, ClickRunsTheCallbackAtOnceAndQueuesOneEvent) {
  UserClick(UpdatesButton);
  Event event = PollEvent();
  while (event.kind == EventKind::Other) event = PollEvent();
  EXPECT_EQ(g_calls[UpdatesButton], 1);
  EXPECT_EQ(event.kind, EventKind::Control);
  EXPECT_EQ(event.control, UpdatesButton);
  EXPECT_EQ(EventControl(), UpdatesButton);
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_EQ(g_calls[UpdatesButton], 1);  // taking the event runs nothing again
}

TEST_F(ControlLayerTest, AnEventEqualToTheNewestQueuedOneMerges) {
  UserClick(UpdatesButton);
  UserClick(UpdatesButton);
  std::vector<Event> events = TakeEvents();
  EXPECT_EQ(g_calls[UpdatesButton], 2);  // the callback runs for the merged click too
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].control, UpdatesButton);

  UserClick(CaptureButton);
  UserClick(UpdatesButton);
  UserClick(CaptureButton);
  events = TakeEvents();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].control, CaptureButton);
  EXPECT_EQ(events[1].control, UpdatesButton);
  EXPECT_EQ(events[2].control, CaptureButton);
  EXPECT_EQ(EventControl(), CaptureButton);
}

TEST_F(ControlLayerTest, ClickOnAnOptionSelectsItAloneAndReportsOnce) {
  UserClick(SlowOption);
  std::vector<Event> events = TakeEvents();
  EXPECT_EQ(g_calls[SlowOption], 1);
  EXPECT_EQ(GetControlValue(SlowOption), 1);
  EXPECT_EQ(GetControlValue(TooSlowOption) + GetControlValue(NormalOption) + GetControlValue(FastOption), 0);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].control, SlowOption);

  UserClick(SlowOption);  // the selected one again: stays selected, reports again
  events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(GetControlValue(SlowOption), 1);
}

TEST_F(ControlLayerTest, ArrowStepsChangeOnlyTheValueWithinItsRange) {
  UserSpinStep(MinimumSpin, +1);
  std::vector<Event> events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].control, MinimumSpin);
  EXPECT_EQ(g_calls[MinimumSpin], 1);
  EXPECT_EQ(GetControlValue(MinimumSpin), 1);
  EXPECT_EQ(GetControlText(MinimumSpin), "0");

  SetControlValue(MinimumSpin, 99);
  for (int i = 0; i < 3; ++i) UserSpinStep(MinimumSpin, +1);
  TakeEvents();
  EXPECT_EQ(GetControlValue(MinimumSpin), 100);
  SetControlValue(MinimumSpin, 0);
  UserSpinStep(MinimumSpin, -1);
  EXPECT_EQ(TakeEvents().size(), 1u) << "a step stopped at the end of the range still reports";
  EXPECT_EQ(GetControlValue(MinimumSpin), 0);
  EXPECT_EQ(GetControlText(MinimumSpin), "0");
}

TEST_F(ControlLayerTest, TypingChangesOnlyTheTextAndReports) {
  UserType(MinimumSpin, "5");
  const std::vector<Event> events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].control, MinimumSpin);
  EXPECT_EQ(g_calls[MinimumSpin], 1);
  EXPECT_EQ(GetControlText(MinimumSpin), "05");
  EXPECT_EQ(GetControlValue(MinimumSpin), 0);  // typing never changes the value
}

TEST_F(ControlLayerTest, TheMenusCheckItemsStartOffAndTurnOverWhenChosen) {
  const std::pair<int, const char*> items[] = {{StopWhenMovedOption, "Stop When Fader Is Moved"},
                                               {ShowAllFadersOption, "Show All Faders"}};
  for (const auto& [item, text] : items) {
    SCOPED_TRACE(text);
    EXPECT_EQ(GetControlText(item), text);
    EXPECT_EQ(GetControlValue(item), 0);
    for (int expected : {1, 0}) {
      UserClick(item);
      const std::vector<Event> events = TakeEvents();
      EXPECT_EQ(GetControlValue(item), expected);
      ASSERT_EQ(events.size(), 1u);
      EXPECT_EQ(events[0].control, item);
    }
    SetControlValue(item, 1);
    EXPECT_EQ(GetControlValue(item), 1);
    EXPECT_TRUE(TakeEvents().empty());
    SetControlValue(item, 0);
  }
}

TEST_F(ControlLayerTest, ShowAllFadersListsEveryFaderAfterCh32UntilItIsOffAgain) {
  const std::pair<int, const char*> entries[] = {
      {32, "Ch 32"}, {33, "AuxIn 1"}, {40, "AuxIn 8"}, {41, "FxRtn 1"}, {48, "FxRtn 8"}, {49, "Bus 1"}, {64, "Bus 16"},
      {65, "Mtx 1"}, {70, "Mtx 6"},   {71, "Mono"},    {72, "DCA 1"},   {79, "DCA 8"},   {80, ""}};
  UserClick(ShowAllFadersOption);
  for (const auto& [index, text] : entries) EXPECT_EQ(ListEntry(ChannelList, index), text) << index;
  UserSelectEntry(ChannelList, 72);
  TakeEvents();
  EXPECT_EQ(GetControlValue(ChannelList), 72);

  // Off while DCA 1 is selected: back to 33 entries with Main selected, and
  // only the item reports.
  UserClick(ShowAllFadersOption);
  std::vector<Event> events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].control, ShowAllFadersOption);
  EXPECT_EQ(GetControlValue(ChannelList), 0);
  EXPECT_EQ(ListEntry(ChannelList, 32), "Ch 32");
  EXPECT_EQ(ListEntry(ChannelList, 33), "");

  // While the list is disabled (a fade cycle holds it) the item can't be chosen.
  DisableControl(ChannelList, 1);
  UserClick(ShowAllFadersOption);
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_EQ(GetControlValue(ShowAllFadersOption), 0);
  EXPECT_EQ(ListEntry(ChannelList, 33), "");
  DisableControl(ChannelList, 0);
}

TEST_F(ControlLayerTest, CloseRequestQueuesACloseEventAndKeepsTheWindow) {
  UserCloseWindow();
  const std::vector<Event> events = TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, EventKind::Close);
  EXPECT_EQ(GetControlText(CaptureButton), "Get Main Position Until Touch") << "the window is still there";
}

// Escape is a click on Reset Off while that can be clicked, wherever the
// focus is, and nothing while it is disabled (idle).
TEST_F(ControlLayerTest, EscapeClicksResetOffOnlyWhileItIsEnabled) {
  BindControlCallback(ResetOffButton, CountCall<ResetOffButton>);
  FocusControl(ChannelList);
  UserPressEscape();
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_TRUE(g_calls.empty());

  // A cycle starts by disabling the capture button just pressed, which
  // leaves the focus nowhere on some desktops; Escape works from there too.
  for (int focus : {ChannelList, MinimumSpin, CaptureButton}) {
    FocusControl(focus);
    DisableControl(CaptureButton, 1);
    DisableControl(ResetOffButton, 0);
    UserPressEscape();
    const std::vector<Event> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u) << focus;
    EXPECT_EQ(events[0].control, ResetOffButton);
    EXPECT_EQ(events[0].action, kActionClicked);
    DisableControl(ResetOffButton, 1);
    DisableControl(CaptureButton, 0);
  }
  EXPECT_EQ(g_calls[ResetOffButton], 3);
  EXPECT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(GetControlText(MinimumSpin), "0");
}

TEST_F(ControlLayerTest, WaitEventReturnsQueuedEventsFirst) {
  UserClick(CaptureButton);
  Event event = WaitEvent();
  while (event.kind == EventKind::Other) event = WaitEvent();
  EXPECT_EQ(event.kind, EventKind::Control);
  EXPECT_EQ(event.control, CaptureButton);
}

TEST_F(ControlLayerTest, TabAndShiftTabWalkTheTabStopsInCreationOrder) {
  FocusControl(TooSlowOption);
  ASSERT_EQ(FocusedControl(), TooSlowOption);
  DisableControl(ResetOffButton, 0);
  DisableControl(MixerIpField, 0);
  auto walk = [](int steps, int direction) {
    std::vector<int> visited;
    for (int i = 0; i < steps; ++i) {
      UserTab(direction);
      TakeEvents();
      visited.push_back(FocusedControl());
    }
    return visited;
  };
  const std::vector<int> forward = {SlowOption,     NormalOption,  FastOption,   CaptureButton,
                                    ResetOffButton, UpdatesButton, ChannelList,  EditIpButton,
                                    MixerIpField,   MinimumSpin,   TooSlowOption};
  EXPECT_EQ(walk(11, 1), forward);
  const std::vector<int> backward = {MinimumSpin, MixerIpField, EditIpButton};
  EXPECT_EQ(walk(3, -1), backward);

  DisableControl(MixerIpField, 1);
  DisableControl(ResetOffButton, 1);
  const std::vector<int> skipping = {MinimumSpin, TooSlowOption, SlowOption,   NormalOption,
                                     FastOption,  CaptureButton, UpdatesButton};
  EXPECT_EQ(walk(7, 1), skipping);

  // From nowhere (the focused control was disabled), Tab goes to the first stop.
  FocusControl(CaptureButton);
  DisableControl(CaptureButton, 1);
  UserTab(1);
  EXPECT_EQ(ControlEnabled(FocusedControl()), 1);
  DisableControl(CaptureButton, 0);

  EXPECT_TRUE(g_calls.empty());  // moving the focus reports nothing and selects no option
  EXPECT_EQ(GetControlValue(TooSlowOption), 1);
  EXPECT_EQ(GetControlText(MinimumSpin), "0");
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  DriverStart(argc, argv);
  return RUN_ALL_TESTS();
}
