// The console simulator's OSC, read and written by liblo rather than the
// program's link/ code, so that the program's encoder is checked by a library
// it shares nothing with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace sim {

using Bytes = std::vector<uint8_t>;
// Keys stay in the order they are added, so a log line reads as it is built.
using Json = nlohmann::ordered_json;

// 0 = main stereo, 1..32 = channels, then aux ins 1..8, FX returns 1..8,
// buses 1..16, matrices 1..6, Mono and DCAs 1..8.
inline constexpr int kFaderCount = 80;

struct OscMessage {
  bool ok = false;                // false: malformed, see `reason`
  std::string reason;             // why it is malformed
  std::string address;            // as far as it could be read
  std::string typeTag;            // including the leading ','; "" for a bare address (a query)
  std::vector<float> args;        // each argument's value where it is a float ('f'), else 0
  Json argsJson = Json::array();  // the arguments as the log writes them
};

// Decodes one datagram. Never reads outside [data, data + length).
OscMessage DecodeOsc(const uint8_t* data, size_t length);

// "/addr" ",f" <float>: the layout of every fader report.
Bytes EncodeFloatMessage(const std::string& address, float value);
// "/addr" ",i" <int32>.
Bytes EncodeIntMessage(const std::string& address, int32_t value);
// "/addr" ",ss..." and the strings.
Bytes EncodeStringsMessage(const std::string& address, const std::vector<std::string>& strings);

// "/main/st/mix/fader" for 0, "/ch/05/mix/fader" for 5 ... "/dca/8/fader"; "" past the last.
std::string FaderAddress(int fader);
// The fader index of a fader address, or -1.
int FaderIndexOf(const std::string& address);
// The short name on screen and on the command line: "main", "ch05", "auxin1", "mono", "dca1" ...
std::string FaderName(int fader);
// The fader that "0".."32" or a short name names, or -1.
int ParseFader(const std::string& text);

// Lower-case hex, no separators.
std::string HexBytes(const uint8_t* data, size_t length);
// Words of hex digit pairs, separated by spaces; false on an odd digit count or
// a non-hex character.
bool ParseHex(const std::string& text, Bytes* out);

// Bytes from the wire as a JSON string. They need not be UTF-8, so each byte
// stands for the character of its number (0xff is "\u00ff").
Json JsonText(const std::string& bytes);
// A number, or the strings "nan", "inf", "-inf" (JSON has no such numbers). A
// float is written in the fewest digits that read back as that float.
Json JsonNumber(double value);
Json JsonNumber(float value);
// One line of JSON, no newline; everything but printable ASCII escaped.
std::string JsonLine(const Json& value);
// printf into a string.
std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace sim
