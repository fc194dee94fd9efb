#include "sim_osc.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include <lo/lo_lowlevel.h>

namespace sim {

namespace {

// Why liblo refused a datagram, in the log's words.
constexpr std::pair<int, const char*> kRefusals[] = {
    {LO_ESIZE, "length does not match the contents"},
    {LO_EINVALIDPATH, "address: not a terminated, 0-padded string"},
    {LO_EBADTYPE, "type tag does not start with ','"},
    {LO_EINVALIDTYPE, "type tag: not a terminated, 0-padded string"},
    {LO_EINVALIDARG, "an argument runs past the end or is not of a known type"},
};

// What a reader can make of a datagram that didn't decode, for the log: the
// address up to its terminator and, after its padding, a type tag.
void ReadWhatCanBeRead(const uint8_t* data, size_t length, OscMessage* m) {
  const char* text = reinterpret_cast<const char*>(data);
  size_t end = strnlen(text, length);
  m->address.assign(text, end);
  size_t tag = (end + 4) & ~size_t{3};
  if (tag < length && data[tag] == ',') m->typeTag.assign(text + tag, strnlen(text + tag, length - tag));
}

// liblo's argument pointers are only 4-byte aligned, less than lo_arg asks
// for: each value is copied out of its bytes rather than read as a member.
template <typename T>
T Load(const lo_arg* value) {
  T out;
  std::memcpy(&out, value, sizeof out);
  return out;
}

// One argument's value as the log writes it.
Json ArgJson(char type, const lo_arg* value) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(value);
  switch (type) {
    case LO_FLOAT:
      return JsonNumber(Load<float>(value));
    case LO_DOUBLE:
      return JsonNumber(Load<double>(value));
    case LO_INT32:
      return Load<int32_t>(value);
    case LO_INT64:
      return Load<int64_t>(value);
    case LO_TIMETAG: {
      auto t = Load<lo_timetag>(value);
      return static_cast<int64_t>(uint64_t{t.sec} << 32 | t.frac);
    }
    case LO_CHAR:
      return bytes[0];
    case LO_MIDI:
      return uint32_t{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    case LO_STRING:
    case LO_SYMBOL:
      return JsonText(reinterpret_cast<const char*>(bytes));
    case LO_BLOB:  // its length comes first; liblo checked it against the datagram
      return Json{{"blob", Load<uint32_t>(value)}};
    default:  // the letters without bytes: 'T', 'F', 'N' and 'I'
      return type == LO_TRUE ? Json(true) : type == LO_FALSE ? Json(false) : type == LO_NIL ? Json() : Json("impulse");
  }
}

// A message of the arguments `add` puts in, as liblo writes it.
template <typename Add>
Bytes Encode(const std::string& address, Add add) {
  lo_message message = lo_message_new();
  add(message);
  size_t size = 0;
  auto* data = static_cast<uint8_t*>(lo_message_serialise(message, address.c_str(), nullptr, &size));
  Bytes out(data, data + size);
  std::free(data);
  lo_message_free(message);
  return out;
}

struct Fader {
  std::string address;
  std::string name;
};

// Every fader's address and short name, in index order: runs numbered from 1.
const std::vector<Fader>& Faders() {
  static const std::vector<Fader> faders = [] {
    std::vector<Fader> all;
    const struct {
      const char* address;  // printf formats, given the number in the run
      const char* name;
      int count;
    } kRuns[] = {{"/main/st/mix/fader", "main", 1},       {"/ch/%02d/mix/fader", "ch%02d", 32},
                 {"/auxin/%02d/mix/fader", "auxin%d", 8}, {"/fxrtn/%02d/mix/fader", "fxrtn%d", 8},
                 {"/bus/%02d/mix/fader", "bus%d", 16},    {"/mtx/%02d/mix/fader", "mtx%d", 6},
                 {"/main/m/mix/fader", "mono", 1},        {"/dca/%d/fader", "dca%d", 8}};
    for (const auto& run : kRuns) {
      for (int n = 1; n <= run.count; ++n) all.push_back({Printf(run.address, n), Printf(run.name, n)});
    }
    return all;
  }();
  return faders;
}

}  // namespace

OscMessage DecodeOsc(const uint8_t* data, size_t length) {
  OscMessage m;
  // Refused before the decoder sees them: what the console takes is a message
  // whose address starts with '/', never a bundle.
  if (length == 0 || data[0] != '/') {
    m.reason = length == 0      ? "empty datagram"
               : data[0] == '#' ? "bundles are not handled"
                                : "address does not start with '/'";
    return m;
  }
  ReadWhatCanBeRead(data, length, &m);
  int error = 0;
  // liblo decodes a copy; the datagram itself is left as it is.
  lo_message message = lo_message_deserialise(const_cast<uint8_t*>(data), length, &error);
  if (!message) {
    // liblo wants a type tag and says so when a proper address ends the
    // datagram: an address alone is how a client asks for a value.
    m.ok = error == LO_ENOTYPE;
    auto known =
        std::find_if(std::begin(kRefusals), std::end(kRefusals), [error](auto& r) { return r.first == error; });
    if (!m.ok) m.reason = known == std::end(kRefusals) ? "refused by the OSC decoder" : known->second;
    return m;
  }
  const char* types = lo_message_get_types(message);
  lo_arg** argv = lo_message_get_argv(message);
  m.typeTag = std::string(",") + types;
  for (size_t k = 0; types[k] != 0; ++k) {
    m.args.push_back(types[k] == LO_FLOAT ? Load<float>(argv[k]) : 0.0f);
    m.argsJson.push_back(ArgJson(types[k], argv[k]));
  }
  lo_message_free(message);
  m.ok = true;
  return m;
}

Bytes EncodeFloatMessage(const std::string& address, float value) {
  return Encode(address, [&](lo_message m) { lo_message_add_float(m, value); });
}

Bytes EncodeIntMessage(const std::string& address, int32_t value) {
  return Encode(address, [&](lo_message m) { lo_message_add_int32(m, value); });
}

Bytes EncodeStringsMessage(const std::string& address, const std::vector<std::string>& strings) {
  return Encode(address, [&](lo_message m) {
    for (const std::string& text : strings) lo_message_add_string(m, text.c_str());
  });
}

std::string FaderAddress(int fader) {
  return fader >= 0 && fader < kFaderCount ? Faders()[fader].address : "";
}

int FaderIndexOf(const std::string& address) {
  auto found = std::find_if(Faders().begin(), Faders().end(), [&](const Fader& f) { return f.address == address; });
  return found == Faders().end() ? -1 : static_cast<int>(found - Faders().begin());
}

std::string FaderName(int fader) {
  return fader >= 0 && fader < kFaderCount ? Faders()[fader].name : "";
}

int ParseFader(const std::string& text) {
  for (int k = 0; k < kFaderCount; ++k) {
    // Numbers, with or without a leading 0, name Main and the channels only.
    if (text == Faders()[k].name || (k <= 32 && (text == std::to_string(k) || text == Printf("%02d", k)))) return k;
  }
  return -1;
}

std::string HexBytes(const uint8_t* data, size_t length) {
  std::string text;
  for (size_t k = 0; k < length; ++k) text += Printf("%02x", data[k]);
  return text;
}

bool ParseHex(const std::string& text, Bytes* out) {
  out->clear();
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (word.size() % 2 != 0) return false;
    for (size_t k = 0; k < word.size(); k += 2) {
      uint8_t byte = 0;
      const char* end = word.data() + k + 2;
      if (std::from_chars(word.data() + k, end, byte, 16).ptr != end) return false;
      out->push_back(byte);
    }
  }
  return true;
}

Json JsonText(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x80) text += static_cast<char>(0xC0 | c >> 6);  // UTF-8 of U+0080..U+00FF
    text += static_cast<char>(c >= 0x80 ? 0x80 | (c & 0x3F) : c);
  }
  return text;
}

Json JsonNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

Json JsonNumber(float value) {
  // The float's shortest decimal, read as a double: 0.8f logs as 0.8, not as
  // the 0.800000011920929 that its exact value as a double would print.
  char digits[32];
  double shortest = value;
  auto written = std::to_chars(digits, digits + sizeof digits, value);
  if (std::isfinite(value)) std::from_chars(digits, written.ptr, shortest);
  return JsonNumber(shortest);
}

std::string JsonLine(const Json& value) {
  // JsonText makes every string valid UTF-8, so the replacement never happens;
  // it keeps dump() from throwing on a string that came in some other way.
  return value.dump(-1, ' ', true, Json::error_handler_t::replace);
}

std::string Printf(const char* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  std::string text(static_cast<size_t>(std::vsnprintf(nullptr, 0, format, args)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  va_end(args);
  return text;
}

}  // namespace sim
