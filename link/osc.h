// OSC 1.0 messages with one float argument, the fader level read out of the
// console's reports, and the table of the console's fader addresses.
// Nothing here knows about sockets.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int kMessageBlockSize = 2048;   // every message buffer is this long
inline constexpr int kMainAndChannelCount = 33;  // 0 = main stereo, 1..32 = channels
inline constexpr int kFaderCount = 80;           // and after them the console's other faders
inline constexpr int kFaderReportLength = 28;    // a report with a 20-byte address, ",f", float
inline constexpr int kFaderLevelOffset = 24;     // where such a report carries its level
inline constexpr int kLongestFaderAddress = 19;  // "/auxin/01/mix/fader"

// The fader addresses; index 0 is "/main/st/mix/fader", 1..32 "/ch/ii/mix/fader",
// then aux ins, FX returns, buses, matrices, Mono and the DCAs, in the order
// of ChannelList's entries. A DCA's address is 12 characters
// ("/dca/1/fader"), so its messages are 24 bytes, not 28.
// Filled once by FillFaderAddressTable() at start-up, read-only afterwards.
extern char FaderAddressTable[kFaderCount][kLongestFaderAddress + 1];
void FillFaderAddressTable();

// Writes address, type tag and the big-endian float into buffer from offset 0.
// Returns the number of bytes written. Writes nothing and returns 0 when buffer
// is null or the message would need more than capacity bytes.
// A null address or type tag counts as an empty text.
int BuildOscMessage(unsigned char* buffer, int capacity, const char* address, const char* typeTag, float value);

// Big-endian float helpers shared by the encoder and the reader.
void StoreFloatBigEndian(unsigned char* out, float value);
float LoadFloatBigEndian(const unsigned char* in);
