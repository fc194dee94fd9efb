// Program-wide state of the fade, start-up, the main loop and shutdown.
#pragma once

#include <cstdint>

#include "link/mixer_link.h"
#include "ui/controls.h"

struct FadeState {
  float position = 0.0f;                   // the level the next fader-level message carries
  float minimum = 0.0f;                    // the fade ends once position <= minimum
  float step = kSpeedOptions[0].step;      // subtracted from position after each message
  int selectedFader = 0;                   // index into FaderAddressTable
  int armed = 1;                           // 1 while the cycle waits for the console's report
  int stopRequested = 0;                   // ends the fade loop at its next test
  int resetRequest = 0;                    // 100 asks the cycle loop to reset at its next pass
  unsigned char* receiveBuffer = nullptr;  // 2048-byte blocks, or none
  unsigned char* sendBuffer = nullptr;
  const char* fadeAddress = "";  // OSC address of the fader being faded
};

extern FadeState g_fade;
// The link to the console. The fade control owns it for the whole run: the
// reset of every cycle closes it and opens a new one.
extern MixerConnection g_mixerConnection;
extern int g_quitRequested;

inline constexpr int kResetRequested = 100;

// Start-up, main loop and shutdown. Returns the exit code, always 0.
int RunQuorlen();

// Allocate and free the 2048-byte message blocks (not cleared).
unsigned char* AllocateMessageBlock();
void FreeMessageBlock(unsigned char** block);
