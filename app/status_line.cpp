#include "app/status_line.h"

#include <cstdio>

#include "app/console.h"
#include "app/quorlen.h"
#include "config/address_file.h"
#include "link/fader_table.h"
#include "link/mixer_link.h"
#include "ui/controls.h"

namespace {

constexpr long long kProgressPeriod = 100000;  // us: the fade's line changes at most ten times a second

std::string g_shown;        // what the status bar shows
std::string g_consoleLine;  // the console check's latest result; empty before the first
int g_consoleSilent = 0;
enum Phase { kIdle, kWaiting, kFading };
Phase g_phase = kIdle;
std::string g_endLine;  // how the last fade ended, until the next capture
long long g_lastProgress = -1;

void Show(const std::string& text) {
  if (text == g_shown) return;
  g_shown = text;
  SetControlText(MainStatusBar, text.c_str());
}

// The engineer's words for the fader of this cycle: its entry in the list.
std::string FaderName() {
  char label[kLongestFaderLabel + 1];
  FaderLabel(g_fade.selectedFader, label, sizeof label);
  return label;
}

std::string Decibels(float level) {
  char text[24];
  FaderDecibelText(level, text, sizeof text);
  return text;
}

// What the console check has to say, where it is the line: while waiting for
// the touch, and at idle unless a fade's ending stands.
void ShowConsoleLine() {
  if (g_phase == kWaiting) {
    Show(g_consoleSilent != 0 ? g_consoleLine : "Touch " + FaderName() + " on the console");
  } else if (g_phase == kIdle && g_endLine.empty()) {
    Show(g_consoleLine.empty() ? std::string(kCreditsLine) : g_consoleLine);
  }
}

void ShowEnd(const std::string& text) {
  g_phase = kIdle;
  g_endLine = text;
  Show(text);
}

}  // namespace

void ResetStatusLine() {
  g_shown = kCreditsLine;
  g_consoleLine.clear();
  g_consoleSilent = 0;
  g_phase = kIdle;
  g_endLine.clear();
}

void ShowConsoleAnswered(const ConsoleInfo& info) {
  g_consoleSilent = 0;
  g_consoleLine = std::string("Console ") + info.model + " \"" + info.name + "\", firmware " + info.firmware + ", at " +
                  g_mixerAddressText;
  ShowConsoleLine();
}

void ShowConsoleSilent() {
  g_consoleSilent = 1;
  g_consoleLine = "No answer from " + g_mixerAddressText + " (UDP " + std::to_string(kMixerPort) +
                  "): check Edit IP, the network and the firewall";
  ShowConsoleLine();
}

int ConsoleIsSilent() {
  return g_consoleSilent;
}

void ShowIdleStatus() {
  g_phase = kIdle;
  ShowConsoleLine();
}

void ShowWaitingStatus() {
  g_phase = kWaiting;
  g_endLine.clear();
  g_lastProgress = -1;
  ShowConsoleLine();
}

void ShowFadeProgress(float level, int messagesLeft, long long now) {
  g_phase = kFading;
  if (g_lastProgress >= 0 && now - g_lastProgress < kProgressPeriod) return;
  g_lastProgress = now;
  char left[24];
  std::snprintf(left, sizeof left, "%.1f s left", messagesLeft * 0.01);
  Show(FaderName() + ": " + Decibels(level) + ", fading to " + Decibels(g_fade.minimum) + ", " + left);
}

void ShowFadeReachedMinimum(float start, float end, long long microseconds) {
  char took[24];
  std::snprintf(took, sizeof took, "%.1f s", static_cast<double>(microseconds) / 1e6);
  ShowEnd(FaderName() + " faded from " + Decibels(start) + " to " + Decibels(end) + " in " + took);
}

void ShowFadeStoppedByResetOff(float level) {
  ShowEnd(FaderName() + " stopped at " + Decibels(level) + " (Reset Off)");
}

void ShowFadeStoppedByHand(float level, float handLevel) {
  ShowEnd(FaderName() + " stopped at " + Decibels(level) + ": moved on the console to " + Decibels(handLevel));
}
