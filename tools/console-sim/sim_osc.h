// The console simulator's OSC reader and writer. Apart from the program's
// link/ code on purpose: liblo decodes what the simulator receives, so the
// program's encoder is checked by a decoder it shares nothing with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

inline constexpr int kFaderCount = 33;  // 0 = main stereo, 1..32 = channels

// One decoded argument.
struct OscArg {
  char type = 0;     // an OSC type tag letter that liblo knows
  float f = 0.0f;    // 'f'
  std::string json;  // the value as the log writes it
};

struct OscMessage {
  bool ok = false;          // false: malformed, see `reason`
  std::string reason;       // why it is malformed
  std::string address;      // as far as it could be read
  bool hasTypeTag = false;  // a bare address (a query) has none
  std::string typeTag;      // including the leading ','
  std::vector<OscArg> args;
};

// Decodes one datagram with liblo. Never reads outside [data, data + length).
OscMessage DecodeOsc(const uint8_t* data, size_t length);
// The arguments as a JSON array, as the log writes them.
std::string ArgsJson(const OscMessage& m);

// Address, 0-padded to a multiple of 4 with at least one zero byte.
void AppendOscString(Bytes& out, const std::string& text);
void AppendBigEndian32(Bytes& out, uint32_t value);
uint32_t FloatBits(float value);
float FloatFromBits(uint32_t bits);

// "/addr" ",f" <float>: the layout of every fader report.
Bytes EncodeFloatMessage(const std::string& address, float value);
// "/addr" ",i" <int32>.
Bytes EncodeIntMessage(const std::string& address, int32_t value);

// "/main/st/mix/fader" for 0, "/ch/NN/mix/fader" for 1..32, "" otherwise.
std::string FaderAddress(int fader);
// The fader index of a fader address, or -1.
int FaderIndexOf(const std::string& address);
// "main" or "ch05": the short name used on screen.
std::string FaderName(int fader);
// "main", "0".."32" (0 is main too). Returns -1 when the text names no fader.
int ParseFader(const std::string& text);

// Lower-case hex, no separators.
std::string HexBytes(const uint8_t* data, size_t length);
// Hex digits with optional spaces, ':' or "0x" prefixes; returns false on an odd
// digit count or a non-hex character.
bool ParseHex(const std::string& text, Bytes* out);

// JSON text helpers: a quoted, escaped string; a float as a number, or the
// strings "nan", "inf", "-inf" (JSON has no such numbers).
std::string JsonString(const std::string& text);
std::string JsonNumber(double value, int significantDigits = 9);

}  // namespace sim
