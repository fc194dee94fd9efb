// The address-file reader on whole files of any bytes: byte-order marks,
// UTF-16, every line end, zero bytes. Properties:
//  - any split of the bytes into chunks (sizes taken from the input) reads the
//    same four octets as the whole, and AddressFromBytes packs exactly those;
//  - the octets are those of a plain whole-buffer reading of the same rules
//    (decode, cut lines, ParseInteger each);
//  - ParseInteger equals the streamed IntegerScanner and a direct reading of
//    its rules;
//  - nothing reads past the input or a chunk (every chunk is its own
//    exactly-sized allocation, so the sanitizers see it).
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "address_support.h"
#include "config/address_text.h"
#include "fuzz_check.h"

namespace {

void ReadInChunks(const std::uint8_t* data, std::size_t size, std::int64_t octets[4]) {
  AddressLineReader reader;
  std::size_t at = 0;
  for (std::size_t k = 0; at < size; ++k) {
    const std::uint8_t pick = data[size - 1 - k % size];  // sizes from the end backwards
    if (pick & 0x80) FeedAddressLines(&reader, data + at, 0);
    std::size_t length = 1 + pick % 16;
    if (length > size - at) length = size - at;
    std::unique_ptr<unsigned char[]> chunk(new unsigned char[length]);
    std::memcpy(chunk.get(), data + at, length);
    FeedAddressLines(&reader, chunk.get(), length);
    at += length;
  }
  FinishAddressLines(&reader, octets);
}

// The same rules read off the whole buffer at once.
void ModelOctets(const std::uint8_t* data, std::size_t size, std::int64_t octets[4]) {
  std::size_t at = 0;
  std::size_t width = 1;
  bool littleEndian = true;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
    at = 3;
  } else if (size >= 2 && (data[0] == 0xFF || data[0] == 0xFE) && data[1] == (data[0] ^ 0x01)) {
    at = 2;
    width = 2;
    littleEndian = data[0] == 0xFF;
  }
  std::vector<std::uint32_t> units;
  for (; at + width <= size; at += width) {
    const std::uint32_t a = data[at];
    const std::uint32_t b = width == 2 ? data[at + 1] : 0;
    units.push_back(width == 1 ? a : littleEndian ? (a | b << 8) : (a << 8 | b));
  }
  std::size_t i = 0;
  for (int line = 0; line < 4; ++line) {
    std::string text;
    for (; i < units.size() && units[i] != '\n' && units[i] != '\r' && units[i] != 0; ++i) {
      text += units[i] < 0x80 ? static_cast<char>(units[i]) : '#';  // no digit, blank or sign
    }
    if (i < units.size() && units[i] == '\r' && i + 1 < units.size() && units[i + 1] == '\n') ++i;
    if (i < units.size()) ++i;
    octets[line] = ParseInteger(text.c_str());
  }
}

// ParseInteger's rules written out directly, for one zero-terminated text.
std::int64_t DirectInteger(const char* text) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  unsigned base = 10;
  if (*p == '$' || *p == '%') base = *p++ == '$' ? 16 : 2;
  std::uint64_t value = 0;
  for (;; ++p) {
    const char c = *p;
    unsigned digit = c >= '0' && c <= '9'   ? c - '0'
                     : c >= 'a' && c <= 'f' ? c - 'a' + 10
                     : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                            : 99;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return static_cast<std::int64_t>(negative ? 0 - value : value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int64_t whole[4];
  {
    AddressLineReader reader;
    FeedAddressLines(&reader, data, size);
    FinishAddressLines(&reader, whole);
  }
  std::int64_t chunked[4];
  ReadInChunks(data, size, chunked);
  std::int64_t model[4];
  ModelOctets(data, size, model);
  for (int i = 0; i < 4; ++i) {
    FUZZ_CHECK(chunked[i] == whole[i]);
    FUZZ_CHECK(model[i] == whole[i]);
  }
  FUZZ_CHECK(AddressFromBytes(data, size) == PackIpAddress(whole[0], whole[1], whole[2], whole[3]));

  // The scanner is fed every byte, zeros included: a zero ends its number
  // just as it ends ParseInteger's text.
  const std::string text(reinterpret_cast<const char*>(data), size);
  IntegerScanner scanner;
  for (unsigned char c : text) ScanCharacter(&scanner, c);
  const std::int64_t parsed = ParseInteger(text.c_str());
  FUZZ_CHECK(parsed == ScannedInteger(&scanner));
  FUZZ_CHECK(parsed == DirectInteger(text.c_str()));
  return 0;
}
