#include "sim_osc.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

uint32_t LoadBigEndian32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | uint32_t{in[3]};
}

// Reads a 0-terminated, 0-padded OSC string at *pos. On success advances *pos
// past the padding. Fails when the terminator is missing, the padding runs past
// the end or a pad byte isn't zero.
bool ReadOscString(const uint8_t* data, size_t length, size_t* pos, std::string* text, std::string* reason) {
  size_t start = *pos;
  size_t end = start;
  while (end < length && data[end] != 0) ++end;
  text->assign(reinterpret_cast<const char*>(data + start), end - start);
  if (end >= length) {
    *reason = "string without terminator";
    return false;
  }
  size_t padded = start + (((end - start) + 4) & ~size_t{3});
  if (padded > length) {
    *reason = "string padding runs past the end";
    return false;
  }
  for (size_t k = end; k < padded; ++k) {
    if (data[k] != 0) {
      *reason = "non-zero padding byte";
      return false;
    }
  }
  *pos = padded;
  return true;
}

bool NeedBytes(size_t pos, size_t count, size_t length, std::string* reason) {
  if (length - pos < count) {
    *reason = "argument runs past the end";
    return false;
  }
  return true;
}

}  // namespace

OscMessage DecodeOsc(const uint8_t* data, size_t length) {
  OscMessage m;
  if (length == 0) {
    m.reason = "empty datagram";
    return m;
  }
  if (length % 4 != 0) {
    m.reason = "length is not a multiple of 4";
    // Still read what can be read, for the log.
  }
  if (data[0] != '/') {
    if (data[0] == '#') {
      m.reason = "bundles are not handled";
    } else {
      m.reason = "address does not start with '/'";
    }
    return m;
  }
  size_t pos = 0;
  std::string reason;
  if (!ReadOscString(data, length, &pos, &m.address, &reason)) {
    if (m.reason.empty()) m.reason = "address: " + reason;
    return m;
  }
  if (pos == length) {
    // A bare address: old-style message without a type tag, or a query.
    m.ok = m.reason.empty();
    return m;
  }
  if (data[pos] != ',') {
    if (m.reason.empty()) m.reason = "type tag does not start with ','";
    return m;
  }
  m.hasTypeTag = true;
  if (!ReadOscString(data, length, &pos, &m.typeTag, &reason)) {
    if (m.reason.empty()) m.reason = "type tag: " + reason;
    return m;
  }
  for (size_t t = 1; t < m.typeTag.size(); ++t) {
    OscArg arg;
    arg.type = m.typeTag[t];
    switch (arg.type) {
      case 'f':
        if (!NeedBytes(pos, 4, length, &reason)) break;
        arg.f = FloatFromBits(LoadBigEndian32(data + pos));
        pos += 4;
        break;
      case 'i':
        if (!NeedBytes(pos, 4, length, &reason)) break;
        arg.i = static_cast<int32_t>(LoadBigEndian32(data + pos));
        pos += 4;
        break;
      case 'h':
      case 't':
      case 'd': {
        if (!NeedBytes(pos, 8, length, &reason)) break;
        uint64_t v = (uint64_t{LoadBigEndian32(data + pos)} << 32) | LoadBigEndian32(data + pos + 4);
        if (arg.type == 'd') {
          std::memcpy(&arg.d, &v, sizeof v);
        } else {
          arg.i = static_cast<int64_t>(v);
        }
        pos += 8;
        break;
      }
      case 's':
        ReadOscString(data, length, &pos, &arg.s, &reason);
        break;
      case 'b': {
        if (!NeedBytes(pos, 4, length, &reason)) break;
        uint32_t size = LoadBigEndian32(data + pos);
        pos += 4;
        size_t padded = (size_t{size} + 3) & ~size_t{3};
        if (!NeedBytes(pos, padded, length, &reason)) break;
        arg.blobLength = size;
        pos += padded;
        break;
      }
      case 'T':
      case 'F':
      case 'N':
      case 'I':
        break;
      default:
        reason = std::string("unknown type '") + arg.type + "'";
        break;
    }
    if (!reason.empty()) {
      if (m.reason.empty()) m.reason = reason;
      return m;
    }
    m.args.push_back(arg);
  }
  if (pos != length && m.reason.empty()) m.reason = "bytes left after the arguments";
  m.ok = m.reason.empty();
  return m;
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

}  // namespace

std::string FaderAddress(int fader) {
  if (fader == 0) return "/main/st/mix/fader";
  if (fader < 1 || fader >= kFaderCount) return "";
  char text[32];
  int number = 0;
  if (const FaderRun* run = OtherFader(fader, &number)) {
    std::snprintf(text, sizeof text, run->address, number);
  } else {
    std::snprintf(text, sizeof text, "/ch/%02d/mix/fader", fader);
  }
  return text;
}

int FaderIndexOf(const std::string& address) {
  for (int k = 0; k < kFaderCount; ++k) {
    if (address == FaderAddress(k)) return k;
  }
  return -1;
}

std::string FaderName(int fader) {
  if (fader == 0) return "main";
  char text[16];
  int number = 0;
  if (const FaderRun* run = OtherFader(fader, &number)) {
    std::snprintf(text, sizeof text, run->name, number);
  } else {
    std::snprintf(text, sizeof text, "ch%02d", fader);
  }
  return text;
}

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
