// OSC 1.0 float messages: the encoder, its big-endian floats, and the strings of a message read.
#include "link/osc.h"

#include <cstring>

void StoreFloatBigEndian(unsigned char* out, float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  out[0] = static_cast<unsigned char>(bits >> 24);
  out[1] = static_cast<unsigned char>(bits >> 16);
  out[2] = static_cast<unsigned char>(bits >> 8);
  out[3] = static_cast<unsigned char>(bits);
}

float LoadFloatBigEndian(const unsigned char* in) {
  std::uint32_t bits =
      (std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) | (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]};
  float value = 0.0f;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// An OSC string: the characters, one zero byte, then zeros up to a multiple of 4.
static std::size_t PaddedLength(const char* text) {
  std::size_t length = text ? std::strlen(text) : 0;
  return (length + 4) & ~std::size_t{3};
}

static std::size_t WritePaddedText(unsigned char* out, const char* text) {
  std::size_t length = text ? std::strlen(text) : 0;
  std::size_t padded = PaddedLength(text);
  if (length > 0) std::memcpy(out, text, length);
  std::memset(out + length, 0, padded - length);
  return padded;
}

int BuildOscMessage(unsigned char* buffer, int capacity, const char* address, const char* typeTag, float value) {
  if (!buffer || capacity <= 0) return 0;
  // A message that would not fit is not written at all, not even in part.
  std::size_t total = PaddedLength(address) + PaddedLength(typeTag) + 4;
  if (total > static_cast<std::size_t>(capacity)) return 0;

  std::size_t position = WritePaddedText(buffer, address);
  position += WritePaddedText(buffer + position, typeTag);
  StoreFloatBigEndian(buffer + position, value);
  return static_cast<int>(position + 4);
}

int ReadOscString(const unsigned char* datagram, int length, int offset, const char** text) {
  if (datagram == nullptr || offset < 0 || offset >= length) return -1;
  const void* end = std::memchr(datagram + offset, 0, static_cast<std::size_t>(length - offset));
  if (end == nullptr) return -1;
  const int padded = offset + ((static_cast<int>(static_cast<const unsigned char*>(end) - datagram) - offset + 4) & ~3);
  if (padded > length) return -1;
  *text = reinterpret_cast<const char*>(datagram + offset);
  return padded;
}
