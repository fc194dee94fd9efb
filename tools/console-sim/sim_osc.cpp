#include "sim_osc.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <lo/lo_lowlevel.h>

namespace sim {

namespace {

// Why liblo refused a datagram, in the log's words.
const char* RefusalReason(int error) {
  switch (error) {
    case LO_ESIZE:
      return "length does not match the contents";
    case LO_EINVALIDPATH:
      return "address: not a terminated, 0-padded string";
    case LO_EBADTYPE:
      return "type tag does not start with ','";
    case LO_EINVALIDTYPE:
      return "type tag: not a terminated, 0-padded string";
    case LO_EINVALIDARG:
      return "an argument runs past the end or is not of a known type";
    default:
      return "refused by the OSC decoder";
  }
}

// What a reader can make of a datagram that didn't decode, for the log: the
// address up to its terminator and, after its padding, a type tag.
void ReadWhatCanBeRead(const uint8_t* data, size_t length, OscMessage* m) {
  const char* text = reinterpret_cast<const char*>(data);
  size_t end = strnlen(text, length);
  m->address.assign(text, end);
  size_t tag = (end + 4) & ~size_t{3};
  if (tag < length && data[tag] == ',') {
    m->hasTypeTag = true;
    m->typeTag.assign(text + tag, strnlen(text + tag, length - tag));
  }
}

// liblo's argument pointers are only 4-byte aligned, less than lo_arg asks
// for: each value is copied out of its bytes rather than read as a member.
template <typename T>
T Load(const lo_arg* value) {
  T out;
  std::memcpy(&out, value, sizeof out);
  return out;
}

// One argument, with its value as the log writes it.
OscArg ArgOf(char type, const lo_arg* value) {
  OscArg arg;
  arg.type = type;
  const auto* bytes = reinterpret_cast<const uint8_t*>(value);
  switch (type) {
    case LO_FLOAT:
      arg.f = Load<float>(value);
      arg.json = JsonNumber(arg.f);
      break;
    case LO_DOUBLE:
      arg.json = JsonNumber(Load<double>(value), 17);
      break;
    case LO_INT32:
      arg.json = std::to_string(Load<int32_t>(value));
      break;
    case LO_INT64:
      arg.json = std::to_string(Load<int64_t>(value));
      break;
    case LO_TIMETAG: {
      auto t = Load<lo_timetag>(value);
      arg.json = std::to_string(static_cast<int64_t>(uint64_t{t.sec} << 32 | t.frac));
      break;
    }
    case LO_CHAR:
      arg.json = std::to_string(bytes[0]);
      break;
    case LO_MIDI:
      arg.json = std::to_string(uint32_t{bytes[0]} << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]);
      break;
    case LO_STRING:
    case LO_SYMBOL:
      arg.json = JsonString(reinterpret_cast<const char*>(bytes));
      break;
    case LO_BLOB:  // its length comes first; liblo checked it against the datagram
      arg.json = "{\"blob\":" + std::to_string(Load<uint32_t>(value)) + "}";
      break;
    default:  // the letters without bytes: 'T', 'F', 'N' and 'I'
      arg.json = type == LO_TRUE ? "true" : type == LO_FALSE ? "false" : type == LO_NIL ? "null" : "\"impulse\"";
      break;
  }
  return arg;
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
    if (!m.ok) m.reason = RefusalReason(error);
    return m;
  }
  const char* types = lo_message_get_types(message);
  lo_arg** argv = lo_message_get_argv(message);
  m.hasTypeTag = true;
  m.typeTag = std::string(",") + types;
  for (size_t k = 0; types[k] != 0; ++k) m.args.push_back(ArgOf(types[k], argv[k]));
  lo_message_free(message);
  m.ok = true;
  return m;
}

std::string ArgsJson(const OscMessage& m) {
  std::string json;
  for (const OscArg& a : m.args) json += (json.empty() ? "" : ",") + a.json;
  return "[" + json + "]";
}

void AppendOscString(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  size_t zeros = 4 - (text.size() % 4);  // 1..4, at least one terminator
  out.insert(out.end(), zeros, 0);
}

void AppendBigEndian32(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float FloatFromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

Bytes EncodeFloatMessage(const std::string& address, float value) {
  Bytes out;
  AppendOscString(out, address);
  AppendOscString(out, ",f");
  AppendBigEndian32(out, FloatBits(value));
  return out;
}

Bytes EncodeIntMessage(const std::string& address, int32_t value) {
  Bytes out;
  AppendOscString(out, address);
  AppendOscString(out, ",i");
  AppendBigEndian32(out, static_cast<uint32_t>(value));
  return out;
}

namespace {

// The faders after the channels, in index order: a run numbered from 1.
struct FaderRun {
  const char* address;  // printf format of the address, given the number
  const char* name;     // printf format of the short name
  int count;
};

constexpr FaderRun kOtherFaders[] = {
    {"/auxin/%02d/mix/fader", "auxin%d", 8}, {"/fxrtn/%02d/mix/fader", "fxrtn%d", 8},
    {"/bus/%02d/mix/fader", "bus%d", 16},    {"/mtx/%02d/mix/fader", "mtx%d", 6},
    {"/main/m/mix/fader", "mono", 1},        {"/dca/%d/fader", "dca%d", 8},
};

// The run of a fader after the channels, and its number in the run.
const FaderRun* OtherFader(int fader, int* number) {
  int k = fader - kFirstOtherFader;
  if (k < 0) return nullptr;
  for (const FaderRun& run : kOtherFaders) {
    if (k < run.count) {
      *number = k + 1;
      return &run;
    }
    k -= run.count;
  }
  return nullptr;
}

// A fader's address or short name: Main's and the channels' own, the others'
// from the format of their run.
std::string FaderText(int fader, const char* main, const char* FaderRun::*format, const char* channel) {
  if (fader == 0) return main;
  char text[32];
  int number = 0;
  const FaderRun* run = OtherFader(fader, &number);
  std::snprintf(text, sizeof text, run ? run->*format : channel, run ? number : fader);
  return text;
}

}  // namespace

std::string FaderAddress(int fader) {
  if (fader < 0 || fader >= kFaderCount) return "";
  return FaderText(fader, "/main/st/mix/fader", &FaderRun::address, "/ch/%02d/mix/fader");
}

int FaderIndexOf(const std::string& address) {
  for (int k = 0; k < kFaderCount; ++k) {
    if (address == FaderAddress(k)) return k;
  }
  return -1;
}

std::string FaderName(int fader) { return FaderText(fader, "main", &FaderRun::name, "ch%02d"); }

int ParseFader(const std::string& text) {
  if (text == "main" || text == "st") return 0;
  for (int k = kFirstOtherFader; k < kFaderCount; ++k) {
    if (text == FaderName(k)) return k;
  }
  if (text.empty() || text.size() > 2) return -1;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value < kFirstOtherFader ? value : -1;
}

std::string HexBytes(const uint8_t* data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(length * 2);
  for (size_t k = 0; k < length; ++k) {
    text.push_back(kDigits[data[k] >> 4]);
    text.push_back(kDigits[data[k] & 15]);
  }
  return text;
}

bool ParseHex(const std::string& text, Bytes* out) {
  out->clear();
  int high = -1;
  for (size_t k = 0; k < text.size(); ++k) {
    char c = text[k];
    if (c == ' ' || c == '\t' || c == ':' || c == ',') {
      if (high >= 0) return false;  // a byte must be two digits
      continue;
    }
    if (c == '0' && k + 1 < text.size() && (text[k + 1] == 'x' || text[k + 1] == 'X') && high < 0) {
      ++k;
      continue;
    }
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    if (high < 0) {
      high = digit;
    } else {
      out->push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  return high < 0;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7f) {
      // Bytes from the wire are not necessarily UTF-8: escape everything odd.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
  return out;
}

std::string JsonNumber(double value, int significantDigits) {
  if (std::isnan(value)) return "\"nan\"";
  if (std::isinf(value)) return value > 0 ? "\"inf\"" : "\"-inf\"";
  char text[48];
  std::snprintf(text, sizeof text, "%.*g", significantDigits, value);
  return text;
}

}  // namespace sim
