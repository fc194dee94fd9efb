// The fade cycle. CaptureButton starts it: subscribe to the console's reports,
// wait for the selected fader's report, fade from its level down to the
// minimum one message every 10 ms, then reset everything to idle on a fresh
// link. ResetOffButton's callback can stop it at any wait or drain.
#include "app/fade_cycle.h"

#include <cmath>

#include "app/capture_filter.h"
#include "app/console.h"
#include "app/quorlen.h"
#include "app/status_line.h"
#include "app/timer_list.h"
#include "config/address_file.h"
#include "config/address_text.h"
#include "link/clock.h"
#include "link/fader_table.h"
#include "link/mixer_link.h"
#include "link/osc.h"
#include "ui/controls.h"

namespace {

constexpr std::intptr_t kKeepAliveInterval = 10000;  // ms between /xremote renewals while waiting
// ms between them while a fade watches for the hand: the console forgets a
// client 10 s after its last /xremote, so up to four renewals in a row may be
// lost on a lossy network before a grab could go unreported.
constexpr std::intptr_t kFadeRenewalInterval = 2000;
constexpr std::int64_t kFadePeriod = 10000;  // us from one fader-level message to the next
// Without an event to wait on, the waiting cycle looks at the link this often
// (ms), as it did before it could block on the socket.
constexpr int kPollingWait = 2;

// "Stop When Fader Is Moved": what is not taken for the engineer's hand.
constexpr std::int64_t kGrabGrace = 250000;     // us after the first message: the touch that started the fade ends
constexpr float kConsoleStep = 1.0f / 1023.0f;  // the console's fader resolution
constexpr int kMostDatagramsPerStep = 256;      // a flood can't hold a step up for long

void DisableSettings(int disabled) {
  for (const SpeedOption& speed : kSpeedOptions) DisableControl(speed.control, disabled);
  DisableControl(ChannelList, disabled);
  DisableControl(MinimumSpin, disabled);
}

void ZeroMinimumSpin() {
  SetControlValue(MinimumSpin, 0);
  SetControlText(MinimumSpin, "0");
}

// The fade's pace: message k is due at t0 + k x 10 ms, t0 being the first
// send, so the drains and the timer's overshoot don't add up over a fade.
// `due` is when the message just sent was due.
struct FadeGrid {
  std::int64_t due = -1;
};

// Sleeps until the next message is due, a period after the one that went
// out at sentAt. The grid starts at the first message's sending, not at this
// call: what runs in between (the status line's drawing) would otherwise
// push every message after it back. A message that went out more than a
// period late (the program was stalled) starts the grid anew from itself:
// the missed messages are not sent in a burst to catch up, which would jerk
// the fader.
void SleepUntilNextMessage(FadeGrid* grid, std::int64_t sentAt) {
  if (grid->due < 0 || sentAt - grid->due > kFadePeriod) grid->due = sentAt;
  grid->due += kFadePeriod;
  SleepUntilMicroseconds(grid->due);
}

std::int64_t g_subscribedAt = 0;  // ClockMilliseconds at the wait's latest /xremote

// 1 when the renewal timer of key has fallen due, and then starts it again:
// the caller renews the subscription.
int RenewalFellDue(std::intptr_t key, std::intptr_t interval) {
  if (CheckTimer(key) != 1) return 0;
  RemoveTimer(key);
  AddTimer(static_cast<std::intptr_t>(ClockMilliseconds()), interval, key);
  return 1;
}

// The wait's /xremote, with its pause, and the console check's /xinfo.
void SubscribeWhileWaiting() {
  g_subscribedAt = ClockMilliseconds();
  SendRemoteSubscriptionAndPause(g_mixerConnection);
  AskConsole();
}

// What the fade has sent so far: to tell the engineer's hand from the end of
// the touch that started the fade, and for the status bar.
struct FadeTrack {
  std::int64_t firstSent = -1;  // ClockMicroseconds at the first message
  std::int64_t lastSentAt = -1;
  float start = 0.0f;
  float lastSent = 0.0f;
  int messages = 0;  // the fade sends this many in all, if nothing stops it
  int sent = 0;
  float handLevel = 0.0f;  // the grab's report
};

enum class FadeEnd { kReachedMinimum, kStopped, kGrabbed };

// How many messages a fade sends when nothing stops it: every level above
// the minimum, stepped down in 32-bit floats as the fade steps.
int MessagesInFade(float start, float step, float minimum) {
  int count = 1;
  for (float level = start - step; level > minimum && count < 1000000; level = level - step) ++count;
  return count;
}

// Takes every datagram waiting on the link without waiting; 1 when one of
// them is the console's report of the faded fader (the same test as the
// capture's). The console doesn't send a client its own changes back, so such
// a report means someone else moved the fader: the engineer grabbed it. Not
// counted: a report in the first 250 ms after the first message (the touch
// that started the fade, ending) and one within a console step of the last
// level sent. Every other datagram is dropped, as while waiting.
int FaderWasGrabbed(FadeTrack* track) {
  int grabbed = 0;
  for (int taken = 0; taken < kMostDatagramsPerStep && PollMixerLink(g_mixerConnection) != 0; ++taken) {
    const int length = ReceiveFromMixer(g_mixerConnection, g_fade.receiveBuffer, kMessageBlockSize);
    UdpEndpoint sender;
    const UdpEndpoint console{ConsoleAddressOfMixerLink(g_mixerConnection), ConsolePortOfMixerLink(g_mixerConnection)};
    float level = 0.0f;
    if (LastSenderOfMixerLink(g_mixerConnection, &sender.address, &sender.port) != 0 &&
        IsReportOfFader(g_fade.receiveBuffer, length, sender, console, g_fade.fadeAddress, &level) != 0 &&
        ClockMicroseconds() - track->firstSent >= kGrabGrace && std::fabs(level - track->lastSent) > kConsoleStep) {
      grabbed = 1;
      track->handLevel = level;
    }
  }
  return grabbed;
}

// One message, the sleep until the next one is due, one step down, then two
// drains and the stop test. The drains are where Reset Off's callback runs
// (the second takes what arrived while the first ran), and the test follows
// both, so a click in either stops the fade with no message after the one
// already sent. With "Stop When Fader Is Moved" on, a grab then stops the
// fade just as Reset Off does, before another message goes out. The first
// message carries the captured level unchanged, and the level that reaches
// the minimum is never sent: the test follows the step. The status bar's line
// changes between a message and the sleep, where its cost can't hold the
// next message up.
FadeEnd RunFadeLoop(FadeTrack* track) {
  FadeGrid grid;
  track->start = g_fade.position;
  track->messages = MessagesInFade(g_fade.position, g_fade.step, g_fade.minimum);
  // Counted from the wait's last /xremote, which may be seconds old by now.
  RemoveTimer(kFadeRenewalKey);
  AddTimer(static_cast<std::intptr_t>(g_subscribedAt), kFadeRenewalInterval, kFadeRenewalKey);
  for (;;) {
    const int length = BuildOscMessage(g_fade.sendBuffer, kMessageBlockSize, g_fade.fadeAddress, ",f", g_fade.position);
    if (g_fade.sendBuffer != nullptr) {
      SendToMixer(g_mixerConnection, g_fade.sendBuffer, length);
      track->lastSentAt = ClockMicroseconds();
      if (track->firstSent < 0) track->firstSent = track->lastSentAt;
      track->lastSent = g_fade.position;
      ++track->sent;
      if (g_fade.stopRequested == 0)
        ShowFadeProgress(g_fade.position, track->messages - track->sent, track->lastSentAt);
      SleepUntilNextMessage(&grid, track->lastSentAt);
    }
    g_fade.position = g_fade.position - g_fade.step;
    Drain();
    Drain();
    if (g_fade.stopRequested != 0) return FadeEnd::kStopped;
    // Last before the next message: what came in since this one went out is
    // held against the level it carried.
    if (GetControlValue(StopWhenMovedOption) != 0) {
      if (FaderWasGrabbed(track) != 0) {
        ResetOffHandler();
        return FadeEnd::kGrabbed;
      }
      // The console stops reporting to a client 10 s after its last
      // /xremote, and a grab it doesn't report can't stop the fade. So the
      // subscription is renewed here too, more often than while waiting, and
      // without the wait's 20 ms pause, which would hold the next message up.
      if (RenewalFellDue(kFadeRenewalKey, kFadeRenewalInterval) != 0) {
        SendRemoteSubscriptionWithoutPause(g_mixerConnection);
      }
    }
    if (g_fade.position <= g_fade.minimum) return FadeEnd::kReachedMinimum;
  }
}

// A datagram is pending on the link: take it, and if it is the selected
// fader's report, fade (or refuse to). Any other datagram is read, dropped,
// and the cycle goes on waiting.
void CaptureAndFade() {
  g_fade.receiveBuffer = AllocateMessageBlock();
  if (g_fade.receiveBuffer == nullptr) return;
  const int length = ReceiveFromMixer(g_mixerConnection, g_fade.receiveBuffer, kMessageBlockSize);
  if (TakeConsoleAnswer(g_fade.receiveBuffer, length) != 0) {
    FreeMessageBlock(&g_fade.receiveBuffer);
    return;
  }

  const int fader = g_fade.selectedFader >= 0 && g_fade.selectedFader < kFaderCount ? g_fade.selectedFader : 0;
  g_fade.fadeAddress = FaderAddressTable[fader];

  UdpEndpoint sender;
  const int senderKnown = LastSenderOfMixerLink(g_mixerConnection, &sender.address, &sender.port);
  const UdpEndpoint console{ConsoleAddressOfMixerLink(g_mixerConnection), ConsolePortOfMixerLink(g_mixerConnection)};
  float level = 0.0f;
  if (senderKnown == 0 ||
      IsReportOfFader(g_fade.receiveBuffer, length, sender, console, g_fade.fadeAddress, &level) == 0) {
    FreeMessageBlock(&g_fade.receiveBuffer);
    g_fade.fadeAddress = "";
    return;
  }
  g_fade.position = level;
  g_fade.sendBuffer = AllocateMessageBlock();

  // A minimum above the captured level is refused, yet the fade loop still
  // runs once: stopRequested is tested only after the first send, so the
  // console gets one message with the level it reported - which leaves the
  // fader exactly where the engineer's hand put it.
  const int refused = g_fade.minimum > g_fade.position ? 1 : 0;
  if (refused != 0) {
    ShowMessageBox("Fade Error", "The minimum value is greater than the actual fade position");
    g_fade.resetRequest = kResetRequested;
    g_fade.armed = 0;
    g_fade.stopRequested = 1;
    Drain();
    ZeroMinimumSpin();
    g_fade.minimum = 0.0f;
  }

  FadeTrack track;
  const FadeEnd end = RunFadeLoop(&track);
  if (refused == 0 && end == FadeEnd::kReachedMinimum) {
    ShowFadeReachedMinimum(track.start, track.lastSent, track.lastSentAt - track.firstSent);
  } else if (refused == 0 && end == FadeEnd::kStopped) {
    ShowFadeStoppedByResetOff(track.lastSent);
  } else if (refused == 0) {
    ShowFadeStoppedByHand(track.lastSent, track.handLevel);
  }

  FlushEvents();
  g_fade.armed = 0;
  g_fade.resetRequest = kResetRequested;
  g_fade.stopRequested = 1;
  FlushEvents();
}

// Blocks until a datagram waits on the link, the user acts, or the keep-alive
// falls due. A link without an event to wait on (Windows couldn't make one)
// is looked at every couple of milliseconds instead; an empty link never
// brings anything, so only the user and the keep-alive end that wait.
void WaitForDatagramInputOrKeepAlive() {
  const std::intptr_t waitable = WaitableOfMixerLink(g_mixerConnection);
  int timeout = static_cast<int>(MillisecondsUntilDue(kKeepAliveKey));
  const int check = MillisecondsUntilConsoleCheck(0);
  if (check >= 0 && (timeout < 0 || check < timeout)) timeout = check;
  if (waitable == kNoWaitable && g_mixerConnection != nullptr && (timeout < 0 || timeout > kPollingWait)) {
    timeout = kPollingWait;
  }
  WaitForInputOrReadable(waitable, timeout);
}

// The end of every cycle. Three flushes first: every click made while the
// cycle came to its end is taken and discarded, while the settings are still
// disabled - enabled, a click would choose a speed or a fader whose event the
// flushes then threw away. The console hears one more /xremote on the old
// link, and a new link replaces it, so nothing that reached the old one is
// ever read. Then the controls and the fade state go back to idle.
void ResetFadeCycle() {
  RemoveTimer(kKeepAliveKey);
  RemoveTimer(kFadeRenewalKey);
  FlushEvents();
  FlushEvents();
  FlushEvents();
  SendRemoteSubscriptionAndPause(g_mixerConnection);
  CloseMixerLink(g_mixerConnection);
  StartNetworking();
  g_mixerConnection = OpenMixerLink(g_mixerAddressText.c_str(), kMixerPort);
  EnterIdleState();
  ShowIdleStatus();
}

}  // namespace

void ResetOffHandler() {
  g_fade.resetRequest = kResetRequested;
  g_fade.stopRequested = 1;
}

void EnterIdleState() {
  FreeMessageBlock(&g_fade.receiveBuffer);
  FreeMessageBlock(&g_fade.sendBuffer);
  g_fade = FadeState{};
  SetControlValue(kSpeedOptions[0].control, 1);
  SetControlValue(ChannelList, 0);
  ZeroMinimumSpin();
  DisableSettings(0);
  DisableControl(ResetOffButton, 1);
  DisableControl(CaptureButton, 0);
  // Last, as the sign that the window is idle again: whoever watches the
  // window from outside then finds everything else idle too.
  SetControlText(CaptureButton, kCaptureIdleText);
}

void RunFadeCycle() {
  SetControlText(CaptureButton, kCaptureBusyText);
  DisableControl(CaptureButton, 1);
  DisableControl(ResetOffButton, 0);
  DisableSettings(1);
  FlushEvents();

  const std::int64_t typed = ParseInteger(GetControlText(MinimumSpin).c_str());
  g_fade.minimum = static_cast<float>(static_cast<double>(static_cast<float>(typed)) / 100.0);

  ShowWaitingStatus();
  AddTimer(static_cast<std::intptr_t>(ClockMilliseconds()), kKeepAliveInterval, kKeepAliveKey);
  SubscribeWhileWaiting();

  // While armed, every pass renews the keep-alive when it is due, takes one
  // datagram from the link if one waits, and drains the window's events,
  // where Reset Off's callback runs; its reset follows in the same pass. Then
  // the pass blocks until a datagram arrives, the user acts, or the keep-alive
  // falls due - rather than sleeping a millisecond twice and polling again.
  for (;;) {
    if (RenewalFellDue(kKeepAliveKey, kKeepAliveInterval) != 0) SubscribeWhileWaiting();
    FollowConsoleCheck(0);
    const int wasArmed = g_fade.armed;
    if (g_fade.armed == 1 && PollMixerLink(g_mixerConnection) != 0) CaptureAndFade();
    if (wasArmed == 1) Drain();
    if (g_fade.resetRequest == kResetRequested) {
      ResetFadeCycle();
      return;
    }
    WaitForDatagramInputOrKeepAlive();
  }
}
