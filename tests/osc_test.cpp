#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/fader_table.h"
#include "link/osc.h"

namespace {

constexpr unsigned char kJunk = 0x74;

struct Block {
  unsigned char bytes[kMessageBlockSize];
  Block() { std::memset(bytes, kJunk, sizeof bytes); }
};

void ExpectBytes(const unsigned char* actual, const unsigned char* expected, int length) {
  for (int i = 0; i < length; ++i) EXPECT_EQ(actual[i], expected[i]) << "byte " << i;
}

void ExpectUntouchedFrom(const Block& block, int from) {
  for (int i = from; i < kMessageBlockSize; ++i)
    ASSERT_EQ(block.bytes[i], kJunk) << "byte " << i << " written past the message";
}

// Each message against its bytes: the address padded with at least one zero
// to a multiple of 4, ",f" and two zeros, the float big-endian.
TEST(BuildOscMessage, WritesTheBytesOfEachMessageAndNothingPast) {
  struct Case {
    const char* address;
    float value;
    std::vector<unsigned char> expected;
  };
  // clang-format off
  const Case cases[] = {
      {"/xremote", 0.0f, {
          // 0     1     2     3     4     5     6     7     8     9    10    11
          0x2F, 0x78, 0x72, 0x65, 0x6D, 0x6F, 0x74, 0x65, 0x00, 0x00, 0x00, 0x00,  // "/xremote" + 4 zeros
          // 12   13    14    15    16    17    18    19
          0x2C, 0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},                        // ",f" 0.0
      {"/ch/05/mix/fader", 0.5f, {
          // 0 .. 15: "/ch/05/mix/fader"
          '/', 'c', 'h', '/', '0', '5', '/', 'm', 'i', 'x', '/', 'f', 'a', 'd', 'e', 'r',
          // 16   17    18    19    20    21    22    23    24    25    26    27
          0x00, 0x00, 0x00, 0x00, 0x2C, 0x66, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00}},  // pad, ",f", 0.5
      {"/main/st/mix/fader", 1.0f, {
          // 0 .. 17: "/main/st/mix/fader"
          '/', 'm', 'a', 'i', 'n', '/', 's', 't', '/', 'm', 'i', 'x', '/', 'f', 'a', 'd', 'e', 'r',
          // 18   19    20    21    22    23    24    25    26    27
          0x00, 0x00, 0x2C, 0x66, 0x00, 0x00, 0x3F, 0x80, 0x00, 0x00}},              // pad, ",f", 1.0
      // An address filling its field but one byte gets exactly one zero.
      {"/ab", -2.0f, {
          // 0    1    2     3     4     5     6     7     8     9    10    11
          '/', 'a', 'b', 0x00, 0x2C, 0x66, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00}},   // -2.0
      {"/abcdef", 0.25f, {
          // 0    1    2    3    4    5    6     7     8     9    10    11    12    13    14    15
          '/', 'a', 'b', 'c', 'd', 'e', 'f', 0x00, 0x2C, 0x66, 0x00, 0x00, 0x3E, 0x80, 0x00, 0x00}},  // 0.25
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    Block block;
    const int length = static_cast<int>(c.expected.size());
    ASSERT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, c.address, ",f", c.value), length);
    ExpectBytes(block.bytes, c.expected.data(), length);
    ExpectUntouchedFrom(block, length);
  }
}

TEST(BuildOscMessage, NullBufferAndNullTexts) {
  EXPECT_EQ(BuildOscMessage(nullptr, kMessageBlockSize, "/xremote", ",f", 0.0f), 0);

  // A null text is written as an empty OSC string: four zero bytes.
  Block block;
  ASSERT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, nullptr, nullptr, 0.5f), 12);
  // clang-format off
    const unsigned char expected[12] = {
        // 0     1     2     3     4     5     6     7     8     9    10    11
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00,
    };
  // clang-format on
  ExpectBytes(block.bytes, expected, 12);
  ExpectUntouchedFrom(block, 12);
}

TEST(BuildOscMessage, MessageLongerThanTheCapacityIsNotWritten) {
  Block block;
  std::string longest(kMessageBlockSize - 8 - 1, 'a');  // 2039 + 1 zero = 2040, + 4 + 4 = 2048
  EXPECT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, longest.c_str(), ",f", 1.0f), kMessageBlockSize);
  EXPECT_EQ(block.bytes[2039], 0x00);
  EXPECT_EQ(block.bytes[2044], 0x3F);

  Block untouched;
  std::string tooLong(kMessageBlockSize - 8, 'a');  // would need 2052 bytes
  EXPECT_EQ(BuildOscMessage(untouched.bytes, kMessageBlockSize, tooLong.c_str(), ",f", 1.0f), 0);
  // The capacity is the caller's: a 28-byte report doesn't go into 27 bytes.
  EXPECT_EQ(BuildOscMessage(untouched.bytes, 27, "/ch/05/mix/fader", ",f", 1.0f), 0);
  EXPECT_EQ(BuildOscMessage(untouched.bytes, 0, "", "", 1.0f), 0);
  ExpectUntouchedFrom(untouched, 0);
  EXPECT_EQ(BuildOscMessage(untouched.bytes, 28, "/ch/05/mix/fader", ",f", 1.0f), 28);
}

// The level of a report, as the capture reads it: bytes 24..27, big-endian,
// whatever the address; and exactly what the encoder wrote.
TEST(FaderLevel, ReadsBytes24To27AndRoundTripsTheEncoder) {
  Block block;
  BuildOscMessage(block.bytes, kMessageBlockSize, "/bus/01/mix/on", ",i", 0.0f);
  const unsigned char threeQuarters[] = {0x3F, 0x40, 0x00, 0x00};
  std::memcpy(block.bytes + kFaderLevelOffset, threeQuarters, 4);
  EXPECT_EQ(LoadFloatBigEndian(block.bytes + kFaderLevelOffset), 0.75f);

  for (float value : {0.0f, 0.0005f, 0.794f, 1.0f, -0.0f, 1.0e-38f}) {
    ASSERT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, "/ch/32/mix/fader", ",f", value), 28);
    const float read = LoadFloatBigEndian(block.bytes + kFaderLevelOffset);
    EXPECT_EQ(std::memcmp(&read, &value, sizeof value), 0) << value;
  }
}

// Every entry of the fader list names the address its fades go to, as the
// console's OSC documentation gives them, in the order the README lists them.
TEST(FaderTable, EveryListLabelNamesTheAddressItSendsTo) {
  struct Published {
    const char* name;
    int count;
    const char* address;  // given the number
    int messageLength;    // of BuildOscMessage(address, ",f", level)
  };
  const Published published[] = {
      {"Main", 1, "/main/st/mix/fader", 28},      {"Ch", 32, "/ch/%02d/mix/fader", 28}, {"AuxIn", 8, "/auxin/%02d/mix/fader", 28},
      {"FxRtn", 8, "/fxrtn/%02d/mix/fader", 28}, {"Bus", 16, "/bus/%02d/mix/fader", 28}, {"Mtx", 6, "/mtx/%02d/mix/fader", 28},
      {"Mono", 1, "/main/m/mix/fader", 28},      {"DCA", 8, "/dca/%d/fader", 24},
  };
  FillFaderAddressTable();
  int index = 0;
  for (const Published& fader : published) {
    for (int number = 1; number <= fader.count; ++number, ++index) {
      char label[16], address[32], shown[kLongestFaderLabel + 1];
      std::snprintf(label, sizeof label, fader.count == 1 ? "%s" : "%s %d", fader.name, number);
      std::snprintf(address, sizeof address, fader.address, number);
      FaderLabel(index, shown, sizeof shown);
      EXPECT_STREQ(shown, label) << "entry " << index;
      EXPECT_STREQ(FaderAddressTable[index], address) << label;
      Block block;
      EXPECT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, FaderAddressTable[index], ",f", 0.5f),
                fader.messageLength)
          << label;
    }
  }
  EXPECT_EQ(index, kFaderCount);
  char past[8] = "x";
  FaderLabel(kFaderCount, past, sizeof past);
  EXPECT_STREQ(past, "");
}

// The console's four-segment law, at its breakpoints and ends and inside
// each segment, written with one decimal and a sign.
TEST(FaderTable, DecibelsByTheConsolesLaw) {
  const struct {
    float level;
    const char* text;
  } rows[] = {
      {0.0f, "-\u221e dB"}, {0.0005f, "-89.8 dB"}, {0.03f, "-75.6 dB"}, {0.0625f, "-60.0 dB"}, {0.1f, "-54.0 dB"},
      {0.25f, "-30.0 dB"},  {0.3f, "-26.0 dB"},    {0.5f, "-10.0 dB"},  {0.7499f, "0.0 dB"},   {0.75f, "0.0 dB"},
      {1.0f, "+10.0 dB"},
  };
  for (const auto& row : rows) {
    char text[24];
    FaderDecibelText(row.level, text, sizeof text);
    EXPECT_STREQ(text, row.text) << row.level;
  }
}

}  // namespace
