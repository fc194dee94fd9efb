// The console simulator's own OSC 1.0 reader and writer. Written apart from
// the program's link/ code on purpose: the simulator checks the program's
// bytes with a second, independent decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

// 0 = main stereo, 1..32 = channels, then aux ins 1..8, FX returns 1..8,
// buses 1..16, matrices 1..6, Mono and DCAs 1..8.
inline constexpr int kFaderCount = 80;
inline constexpr int kFirstOtherFader = 33;  // aux in 1, the first after the channels

// One decoded argument. Only the field that matches `type` is meaningful.
struct OscArg {
  char type = 0;          // 'f', 'i', 's', 'b', 'h', 'd', 't', 'T', 'F', 'N', 'I'
  float f = 0.0f;         // 'f'
  int64_t i = 0;          // 'i', 'h', 't'
  double d = 0.0;         // 'd'
  std::string s;          // 's'
  size_t blobLength = 0;  // 'b'
};

struct OscMessage {
  bool ok = false;          // false: malformed, see `reason`
  std::string reason;       // why it is malformed
  std::string address;      // as far as it could be read
  bool hasTypeTag = false;  // a bare address (a query) has none
  std::string typeTag;      // including the leading ','
  std::vector<OscArg> args;
};

// Decodes one datagram. Never reads outside [data, data + length).
OscMessage DecodeOsc(const uint8_t* data, size_t length);

// Address, 0-padded to a multiple of 4 with at least one zero byte.
void AppendOscString(Bytes& out, const std::string& text);
void AppendBigEndian32(Bytes& out, uint32_t value);
uint32_t FloatBits(float value);
float FloatFromBits(uint32_t bits);

// "/addr" ",f" <float>: the layout of every fader report.
Bytes EncodeFloatMessage(const std::string& address, float value);
// "/addr" ",i" <int32>.
Bytes EncodeIntMessage(const std::string& address, int32_t value);

// "/main/st/mix/fader" for 0, "/ch/NN/mix/fader" for 1..32, then
// "/auxin/NN/mix/fader", "/fxrtn/NN/mix/fader", "/bus/NN/mix/fader",
// "/mtx/NN/mix/fader", "/main/m/mix/fader" and "/dca/N/fader"; "" otherwise.
std::string FaderAddress(int fader);
// The fader index of a fader address, or -1.
int FaderIndexOf(const std::string& address);
// "main", "ch05", "auxin1", "fxrtn8", "bus16", "mtx6", "mono" or "dca1": the
// short name used on screen and on the command line.
std::string FaderName(int fader);
// "main", "0".."32" (0 is main too) or any short name. Returns -1 when the
// text names no fader.
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
