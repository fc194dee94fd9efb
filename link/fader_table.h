// The console's faders: one table gives each its entry in the fader list and
// its OSC address, in the list's order.
#pragma once

inline constexpr int kMainAndChannelCount = 33;  // 0 = main stereo, 1..32 = channels
inline constexpr int kFaderCount = 80;           // and after them the console's other faders
inline constexpr int kFaderReportLength = 28;    // a report with a 20-byte address, ",f", float
inline constexpr int kFaderLevelOffset = 24;     // where such a report carries its level
inline constexpr int kLongestFaderAddress = 19;  // "/auxin/01/mix/fader"
inline constexpr int kLongestFaderLabel = 8;     // "AuxIn 8"

// A run of faders whose label and address differ only in their number, from
// 1 up ("%d" and "%02d" take it). The two single faders have no number.
struct FaderGroup {
  const char* label;
  const char* address;
  int count;
};

// Main, the 32 channels, then the faders that "Show All Faders" adds. A DCA's
// address is 12 characters ("/dca/1/fader"), so its messages are 24 bytes,
// not 28.
inline constexpr FaderGroup kFaderGroups[] = {
    {"Main", "/main/st/mix/fader", 1},        {"Ch %d", "/ch/%02d/mix/fader", 32},
    {"AuxIn %d", "/auxin/%02d/mix/fader", 8}, {"FxRtn %d", "/fxrtn/%02d/mix/fader", 8},
    {"Bus %d", "/bus/%02d/mix/fader", 16},    {"Mtx %d", "/mtx/%02d/mix/fader", 6},
    {"Mono", "/main/m/mix/fader", 1},         {"DCA %d", "/dca/%d/fader", 8},
};

// The fader addresses, index for index with the list's entries. Filled once
// by FillFaderAddressTable() at start-up, read-only afterwards.
extern char FaderAddressTable[kFaderCount][kLongestFaderAddress + 1];
void FillFaderAddressTable();

// The list's entry for the fader at index ("Main", "Ch 5", "DCA 1"), or an
// empty text for an index outside the table.
void FaderLabel(int index, char* text, int size);

// The console's fader law, four straight pieces from -90 dB to +10 dB: from
// each level up, dB = level x slope + offset; the bottom, 0, is -∞ dB.
struct FaderLawPiece {
  double from;
  double slope;
  double offset;
};
inline constexpr FaderLawPiece kFaderLaw[] = {{0.5, 40, -30}, {0.25, 80, -50}, {0.0625, 160, -70}, {0.0, 480, -90}};

// A fader level in dB by that law, with one decimal: "-12.3 dB", "0.0 dB",
// "+10.0 dB", and "-∞ dB" (UTF-8) at the bottom.
void FaderDecibelText(float level, char* text, int size);
