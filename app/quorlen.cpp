// Start-up, the main event loop and shutdown: the program's spine.
#include "app/quorlen.h"

#include <cstdlib>
#include <string>

#include "app/console.h"
#include "app/fade_cycle.h"
#include "app/status_line.h"
#include "app/timer_list.h"
#include "config/address_file.h"
#include "link/fader_table.h"
#include "link/osc.h"
#include "ui/controls.h"

FadeState g_fade;
MixerConnection g_mixerConnection = nullptr;
int g_quitRequested = 0;

namespace {

int g_lastControl = 0;  // the control that reported the event being handled

void OnChannelList() {
  const std::int64_t index = GetControlValue(ChannelList);
  // The list always has one entry selected; an index outside the table
  // would name no fader, so it is not taken.
  if (index >= 0 && index < kFaderCount) g_fade.selectedFader = static_cast<int>(index);
}

void OnUpdatesButton() {
  OpenWebPage(kMakerWebAddress);
  Drain();
}

// The arrows change the value and typing changes the text; the text is kept
// equal to the value, so typed text never reaches a fade.
void OnMinimumSpin() {
  SetControlText(MinimumSpin, std::to_string(GetControlValue(MinimumSpin)).c_str());
}

void OnSpeedOption(const SpeedOption& speed) {
  SetControlValue(speed.control, 1);
  g_fade.step = speed.step;
}

void DispatchControlEvent(int control) {
  g_lastControl = control;
  if (g_lastControl == ChannelList) OnChannelList();
  if (g_lastControl == UpdatesButton) OnUpdatesButton();
  if (g_lastControl == MinimumSpin) OnMinimumSpin();
  for (const SpeedOption& speed : kSpeedOptions) {
    if (g_lastControl == speed.control) OnSpeedOption(speed);
  }
  if (g_lastControl == EditIpButton) {
    EditMixerAddress();
    g_quitRequested = 1;
  }
  if (g_lastControl == CaptureButton) RunFadeCycle();
}

// Each pass waits for the window, for a datagram on the link or for the
// console check's next deadline, whichever comes first, and then follows the
// check: what the console says arrives on the link while the window waits.
void RunMainLoop() {
  while (g_quitRequested == 0) {
    const Event event = WaitEventOrReadable(WaitableOfMixerLink(g_mixerConnection), MillisecondsUntilConsoleCheck(1));
    FollowConsoleCheck(1);
    if (event.kind == EventKind::Close) g_quitRequested = 1;
    if (event.kind == EventKind::Control) DispatchControlEvent(EventControl());
  }
}

// The one way out: the window goes, the socket layer goes with the link still
// open on it (releasing it), and every block still held is released.
void ShutDown() {
  DestroyMainWindow();
  StopNetworking();
  g_mixerConnection = nullptr;
  FreeMessageBlock(&g_fade.receiveBuffer);
  FreeMessageBlock(&g_fade.sendBuffer);
  ClearTimers();
}

}  // namespace

unsigned char* AllocateMessageBlock() {
  return static_cast<unsigned char*>(std::malloc(kMessageBlockSize));
}

void FreeMessageBlock(unsigned char** block) {
  std::free(*block);
  *block = nullptr;
}

int RunQuorlen() {
  FillFaderAddressTable();
  ClearTimers();
  g_quitRequested = 0;
  g_lastControl = 0;

  BuildMainWindow();
  ResetStatusLine();
  EnterIdleState();

  if (ReadMixerAddress() != 0) {
    StartNetworking();
    g_mixerConnection = OpenMixerLink(g_mixerAddressText.c_str(), kMixerPort);

    Drain();
    BindControlCallback(ResetOffButton, ResetOffHandler);
    // Switching "Show All Faders" off while one of its faders is selected
    // selects Main. A callback rather than a handler, so that the fader
    // follows the list even when a drain (Updates') discards the event.
    BindControlCallback(ShowAllFadersOption, OnChannelList);
    FlushEvents();
    // The window shows: ask the console who it is.
    AskConsole();

    RunMainLoop();
  }

  ShutDown();
  return 0;
}
