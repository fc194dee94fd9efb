// ParseInteger, address packing and the address-file line reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "address_support.h"
#include "config/address_text.h"
#include "link/ip_address.h"

namespace {

std::string Address(const std::string& bytes) {
  return FormatIpAddress(AddressFromBytes(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

// TEXT with each '|' a NUL byte.
std::string WithNuls(std::string text) {
  std::replace(text.begin(), text.end(), '|', '\0');
  return text;
}

// Feeds bytes in pieces of the given sizes, repeating the last size.
std::string AddressInPieces(const std::string& bytes, const std::vector<std::size_t>& pieces) {
  AddressLineReader reader;
  const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t at = 0;
  std::size_t piece = 0;
  while (at < bytes.size()) {
    std::size_t size = pieces[piece < pieces.size() ? piece : pieces.size() - 1];
    ++piece;
    if (size > bytes.size() - at) size = bytes.size() - at;
    FeedAddressLines(&reader, data + at, size);
    at += size;
  }
  std::int64_t octets[4];
  FinishAddressLines(&reader, octets);
  return FormatIpAddress(PackIpAddress(octets[0], octets[1], octets[2], octets[3]));
}

std::string Utf16(const std::string& ascii, bool littleEndian) {
  std::string out;
  for (char c : ascii) {
    if (littleEndian) {
      out += c;
      out += '\0';
    } else {
      out += '\0';
      out += c;
    }
  }
  return out;
}

const std::string kBom8 = "\xEF\xBB\xBF";
const std::string kBom16Le = "\xFF\xFE";
const std::string kBom16Be = "\xFE\xFF";

}  // namespace

TEST(ParseInteger, LinesAsWritten) {
  struct Case {
    const char* text;
    std::int64_t expected;
  };
  const Case cases[] = {
      {"192", 192},
      {"  192", 192},
      {"\t192", 192},
      {" \t 192", 192},
      {"192   ", 192},
      {"192abc", 192},
      {"192 # the console", 192},
      {"1.5", 1},
      {"0192", 192},
      {"+7", 7},
      {"-1", -1},
      {"$C0", 192},
      {"$c0", 192},
      {"$fF", 255},
      {"%101", 5},
      {"%102", 2},
      {"-$10", -16},
      {"+%11", 3},
      {"abc", 0},
      {"", 0},
      {"\xEF\xBB\xBF"
       "192",
       0},
      {"- 5", 0},
      {"--5", 0},
      {"+-5", 0},
      {"$-5", 0},
      {"$", 0},
      {"%", 0},
      {"-", 0},
      {"\n192", 0},
      {"\v192", 0},
      {"\xC2\xA0"
       "192",
       0},
      {"$G1", 0},
      {"12$3", 12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseInteger(c.text), c.expected) << "text: \"" << c.text << "\"";
  }
  EXPECT_EQ(ParseInteger(nullptr), 0);
}

TEST(ParseInteger, WrapsAroundIn64Bits) {
  const std::int64_t min = std::numeric_limits<std::int64_t>::min();
  const std::int64_t max = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(ParseInteger("9223372036854775807"), max);
  EXPECT_EQ(ParseInteger("9223372036854775808"), min);
  EXPECT_EQ(ParseInteger("-9223372036854775808"), min);
  EXPECT_EQ(ParseInteger("-9223372036854775807"), -max);
  EXPECT_EQ(ParseInteger("18446744073709551615"), -1);
  EXPECT_EQ(ParseInteger("18446744073709551616"), 0);
  EXPECT_EQ(ParseInteger("18446744073709551617"), 1);
  EXPECT_EQ(ParseInteger("-18446744073709551617"), -1);
  EXPECT_EQ(ParseInteger("$FFFFFFFFFFFFFFFF"), -1);
  // 16^18 and 2^64 are multiples of 2^64: what is left is the low part.
  EXPECT_EQ(ParseInteger(("$1" + std::string(16, '0') + "C0").c_str()), 192);
  EXPECT_EQ(ParseInteger(("%1" + std::string(64, '0')).c_str()), 0);
  EXPECT_EQ(ParseInteger(("%1" + std::string(63, '0')).c_str()), min);
  // A long run of digits keeps wrapping without undefined behaviour.
  std::string nines(100000, '9');
  std::uint64_t expected = 0;
  for (std::size_t i = 0; i < nines.size(); ++i) expected = expected * 10 + 9;
  EXPECT_EQ(ParseInteger(nines.c_str()), static_cast<std::int64_t>(expected));
}

TEST(PackIpAddress, CarriesAndBorrowsAcrossOctets) {
  EXPECT_EQ(FormatIpAddress(PackIpAddress(192, 168, 1, 16)), "192.168.1.16");
  EXPECT_EQ(PackIpAddress(192, 168, 1, 16), 0x1001A8C0u);
  EXPECT_EQ(FormatIpAddress(PackIpAddress(300, 168, 1, 16)), "44.169.1.16");
  EXPECT_EQ(FormatIpAddress(PackIpAddress(192, 168, 1, 256)), "192.168.1.0");
  EXPECT_EQ(FormatIpAddress(PackIpAddress(192, 168, 1, -1)), "192.168.1.255");
  EXPECT_EQ(FormatIpAddress(PackIpAddress(256, 0, 0, 0)), "0.1.0.0");
  EXPECT_EQ(FormatIpAddress(PackIpAddress(-1, 0, 0, 0)), "255.255.255.255");
  EXPECT_EQ(FormatIpAddress(PackIpAddress(0, -1, 0, 0)), "0.255.255.255");
  EXPECT_EQ(FormatIpAddress(PackIpAddress(0x100000000LL + 5, 0, 0, 0)), "5.0.0.0");
  const std::int64_t min = std::numeric_limits<std::int64_t>::min();
  const std::int64_t max = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(FormatIpAddress(PackIpAddress(max, max, max, max)), "255.254.254.254");
  EXPECT_EQ(FormatIpAddress(PackIpAddress(min, min, min, min)), "0.0.0.0");
  EXPECT_EQ(FormatIpAddress(0), "0.0.0.0");
  EXPECT_EQ(FormatIpAddress(0xFFFFFFFFu), "255.255.255.255");
}

// What a file of lines reads as, by group: worked conversions, the line
// ends, and lines after the fourth.
TEST(AddressLines, FileTextToAddress) {
  const std::pair<std::string, const char*> cases[] = {
      {"192\r\n168\r\n1\r\n16\r\n", "192.168.1.16"},
      {"300\r\n168\r\n1\r\n16\r\n", "44.169.1.16"},
      {"192\r\n168\r\n1\r\n256\r\n", "192.168.1.0"},
      {"192\r\n168\r\n1\r\n-1\r\n", "192.168.1.255"},
      {"256\n0\n0\n0\n", "0.1.0.0"},
      {"-1\n0\n0\n0\n", "255.255.255.255"},
      {"192.168.1.16", "192.0.0.0"},
      {"192.168.1.16\r\n", "192.0.0.0"},
      {"", "0.0.0.0"},
      {"  192 console\n\t168\n1 # stage box\n16", "192.168.1.16"},
      {"$C0\n$A8\n%1\n$10\n", "192.168.1.16"},

      {"192\n168\n1\n16\n", "192.168.1.16"},
      {"192\r168\r1\r16\r", "192.168.1.16"},
      {"192\r\n168\r1\n16", "192.168.1.16"},
      {"192\n168\n1\n16", "192.168.1.16"},
      {WithNuls("192|168|1|16"), "192.168.1.16"},
      // CR followed by a byte: the byte begins the next line. CR CR is two ends.
      {"192\r\r168\n1\n16", "192.0.168.1"},
      {"192\n\r\n168\n1", "192.0.168.1"},
      {"192\n\n168\n1", "192.0.168.1"},
      {"\n168\n1\n16", "0.168.1.16"},
      // LF CR is two line ends; CR LF only one.
      {"192\n\r168\n1\n16", "192.0.168.1"},
      // Fewer than four lines: the missing ones are empty.
      {"192\n168\n", "192.168.0.0"},
      {"192\r", "192.0.0.0"},

      {"192\n168\n1\n16\n99\n", "192.168.1.16"},
      {"192\n168\n1\n16\n$FFFFFFFF\r\n-7\n", "192.168.1.16"},
      {"192\n168\n1\n16\r", "192.168.1.16"},
      {WithNuls("192\n168\n1\n16|77"), "192.168.1.16"},
  };
  for (const auto& [text, address] : cases) EXPECT_EQ(Address(text), address) << testing::PrintToString(text);
}

TEST(AddressLines, ByteOrderMarks) {
  EXPECT_EQ(Address(kBom8 + "192\r\n168\r\n1\r\n16\r\n"), "192.168.1.16");
  EXPECT_EQ(Address(kBom16Le + Utf16("192\r\n168\r\n1\r\n16\r\n", true)), "192.168.1.16");
  EXPECT_EQ(Address(kBom16Be + Utf16("192\r\n168\r\n1\r\n16\r\n", false)), "192.168.1.16");
  EXPECT_EQ(Address(kBom16Le + Utf16("192\n168\r1\r\n16", true)), "192.168.1.16");
  EXPECT_EQ(Address(kBom16Le + Utf16("192\n168\n1\n16\n99\n", true)), "192.168.1.16");
  // A zero code unit ends a line in UTF-16 as a zero byte does in UTF-8.
  EXPECT_EQ(Address(kBom16Le + Utf16(std::string("192\0"
                                                 "168",
                                                 7),
                                     true)),
            "192.168.0.0");
  // A non-ASCII code unit whose low byte looks like a digit is no digit.
  EXPECT_EQ(Address(kBom16Le + std::string("7\0"
                                           "1\x01"
                                           "\n\0"
                                           "5\0",
                                           8)),
            "7.5.0.0");
  EXPECT_EQ(Address(kBom16Le + std::string("1\x00"
                                           "9\x00"
                                           "\x0A\x20"
                                           "5\x00",
                                           8)),
            "19.0.0.0");
  // Without a mark, UTF-16 keeps the byte rules: its zero bytes end lines.
  EXPECT_EQ(Address(Utf16("192\r\n168\r\n1\r\n16\r\n", true)), "1.9.2.0");
  // Only a mark at the very start counts.
  EXPECT_EQ(Address("\n" + kBom8 + "192"), "0.0.0.0");
  EXPECT_EQ(Address(kBom8 + kBom8 + "192"), "0.0.0.0");
  // Near-marks are ordinary bytes.
  EXPECT_EQ(Address("\xEF\xBB"
                    "192\n7"),
            "0.7.0.0");
  EXPECT_EQ(Address("\xEF"
                    "192\n7"),
            "0.7.0.0");
  EXPECT_EQ(Address("\xFF"
                    "192\n7"),
            "0.7.0.0");
  EXPECT_EQ(Address("\xFE"
                    "\n7"),
            "0.7.0.0");
  EXPECT_EQ(Address("\xFF\xFF\n7"), "0.7.0.0");
}

TEST(AddressLines, DataShorterThanAMark) {
  EXPECT_EQ(Address("1"), "1.0.0.0");
  EXPECT_EQ(Address("12"), "12.0.0.0");
  EXPECT_EQ(Address("1\n"), "1.0.0.0");
  EXPECT_EQ(Address("\n2"), "0.2.0.0");
  EXPECT_EQ(Address("\xEF\xBB"), "0.0.0.0");
  EXPECT_EQ(Address("\xEF"), "0.0.0.0");
  EXPECT_EQ(Address(kBom8), "0.0.0.0");
  EXPECT_EQ(Address(kBom16Le), "0.0.0.0");
  EXPECT_EQ(Address(kBom16Be), "0.0.0.0");
  EXPECT_EQ(Address(kBom8 + "7"), "7.0.0.0");
  EXPECT_EQ(Address(kBom16Le + "7"), "0.0.0.0");  // half a code unit is no character
  EXPECT_EQ(Address(kBom16Le + std::string("7\0", 2)), "7.0.0.0");
  EXPECT_EQ(Address(kBom16Be + std::string("\0"
                                           "7",
                                           2)),
            "7.0.0.0");
  EXPECT_EQ(AddressFromBytes(nullptr, 0), 0u);
}

TEST(AddressLines, FiftyMegabyteLineIsReadInConstantMemory) {
  const std::size_t kLineLength = 50u * 1024 * 1024;
  std::string chunk(64 * 1024, 'x');
  for (int variant = 0; variant < 2; ++variant) {
    AddressLineReader reader;
    const std::string head = variant == 0 ? "192 " : "";
    FeedAddressLines(&reader, reinterpret_cast<const unsigned char*>(head.data()), head.size());
    // Variant 1 is all digits, so the scanner itself has to keep up with it.
    if (variant == 1) chunk.assign(chunk.size(), '7');
    for (std::size_t fed = 0; fed < kLineLength; fed += chunk.size()) {
      FeedAddressLines(&reader, reinterpret_cast<const unsigned char*>(chunk.data()), chunk.size());
    }
    const std::string tail = "\r\n168\r\n1\r\n16\r\n";
    FeedAddressLines(&reader, reinterpret_cast<const unsigned char*>(tail.data()), tail.size());
    std::int64_t octets[4];
    FinishAddressLines(&reader, octets);
    if (variant == 0) {
      EXPECT_EQ(octets[0], 192);
    }
    EXPECT_EQ(octets[1], 168);
    EXPECT_EQ(octets[2], 1);
    EXPECT_EQ(octets[3], 16);
  }
  // The reader has no buffer that could grow with the line.
  EXPECT_LE(sizeof(AddressLineReader), 128u);
}

namespace {

// An independent reading of the same rules: decode, cut whole lines, parse.
std::string ModelAddress(const std::string& bytes) {
  std::vector<std::uint32_t> units;
  std::size_t at = 0;
  int width = 1;
  bool littleEndian = true;
  if (bytes.compare(0, 3, kBom8) == 0) {
    at = 3;
  } else if (bytes.compare(0, 2, kBom16Le) == 0) {
    at = 2;
    width = 2;
  } else if (bytes.compare(0, 2, kBom16Be) == 0) {
    at = 2;
    width = 2;
    littleEndian = false;
  }
  for (; at + width <= bytes.size(); at += width) {
    std::uint32_t a = static_cast<unsigned char>(bytes[at]);
    std::uint32_t b = width == 2 ? static_cast<unsigned char>(bytes[at + 1]) : 0;
    units.push_back(width == 1 ? a : littleEndian ? (a | b << 8) : (a << 8 | b));
  }
  std::int64_t octets[4] = {};
  std::size_t i = 0;
  for (int line = 0; line < 4 && i < units.size(); ++line) {
    std::string text;
    while (i < units.size() && units[i] != '\n' && units[i] != '\r' && units[i] != 0) {
      text += units[i] < 0x80 ? static_cast<char>(units[i]) : '#';
      ++i;
    }
    if (i < units.size()) {
      if (units[i] == '\r' && i + 1 < units.size() && units[i + 1] == '\n') ++i;
      ++i;
    }
    octets[line] = ParseInteger(text.c_str());
  }
  return FormatIpAddress(PackIpAddress(octets[0], octets[1], octets[2], octets[3]));
}

}  // namespace

TEST(AddressLines, AnySplitOfTheDataReadsTheSame) {
  std::vector<std::string> inputs = {
      "192\r\n168\r\n1\r\n16\r\n",
      "192\r168\r1\r16",
      kBom8 + "192\r\n168\r\n1\r\n16\r\n",
      kBom16Le + Utf16("192\r\n168\r\n1\r\n16\r\n", true),
      kBom16Be + Utf16("192\r168\n1\r\n16", false),
      Utf16("192\r\n168\r\n1\r\n16\r\n", true),
      "\xEF\xBB"
      "5\n6",
      "1",
      "12",
      "\xEF\xBB",
      "\r",
      "\r\n",
  };
  // Random inputs over an alphabet rich in line ends, signs and mark bytes.
  const char alphabet[] = {'1', '9', '0', '\r', '\n',   '\0',   ' ',    '\t',   '-',    '+',
                           '$', '%', 'c', '.',  '\xEF', '\xBB', '\xBF', '\xFF', '\xFE', '\x01'};
  std::mt19937 rng(20240611u);
  for (int n = 0; n < 400; ++n) {
    std::string input;
    int start = static_cast<int>(rng() % 4);
    if (start == 1) input = kBom8;
    if (start == 2) input = kBom16Le;
    if (start == 3) input = kBom16Be;
    std::size_t length = rng() % 24;
    for (std::size_t i = 0; i < length; ++i) input += alphabet[rng() % sizeof alphabet];
    inputs.push_back(input);
  }
  for (const std::string& input : inputs) {
    const std::string whole = Address(input);
    EXPECT_EQ(whole, ModelAddress(input)) << "input size " << input.size();
    EXPECT_EQ(AddressInPieces(input, {1}), whole);
    for (std::size_t split = 1; split < input.size(); ++split) {
      EXPECT_EQ(AddressInPieces(input, {split, input.size()}), whole) << "split at " << split;
    }
    EXPECT_EQ(AddressInPieces(input, {1, 2, 3}), whole);
  }
}
