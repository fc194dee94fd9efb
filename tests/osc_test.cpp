#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

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

TEST(BuildOscMessage, RemoteSubscriptionIsTwentyBytes) {
  Block block;
  // clang-format off
    const unsigned char expected[20] = {
        // 0     1     2     3     4     5     6     7     8     9    10    11
        0x2F, 0x78, 0x72, 0x65, 0x6D, 0x6F, 0x74, 0x65, 0x00, 0x00, 0x00, 0x00,  // "/xremote" + 4 zeros
        // 12   13    14    15
        0x2C, 0x66, 0x00, 0x00,                                                  // ",f"
        // 16   17    18    19
        0x00, 0x00, 0x00, 0x00,                                                  // 0.0
    };
  // clang-format on
  ASSERT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, "/xremote", ",f", 0.0f), 20);
  ExpectBytes(block.bytes, expected, 20);
  ExpectUntouchedFrom(block, 20);
}

TEST(BuildOscMessage, ChannelFiveAtHalf) {
  Block block;
  // clang-format off
    const unsigned char expected[28] = {
        // 0     1     2     3     4     5     6     7     8     9    10    11    12    13    14    15
        0x2F, 0x63, 0x68, 0x2F, 0x30, 0x35, 0x2F, 0x6D, 0x69, 0x78, 0x2F, 0x66, 0x61, 0x64, 0x65, 0x72,
        // 16   17    18    19
        0x00, 0x00, 0x00, 0x00,                                                  // pad to 20
        // 20   21    22    23
        0x2C, 0x66, 0x00, 0x00,                                                  // ",f"
        // 24   25    26    27
        0x3F, 0x00, 0x00, 0x00,                                                  // 0.5
    };
  // clang-format on
  ASSERT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, "/ch/05/mix/fader", ",f", 0.5f), 28);
  ExpectBytes(block.bytes, expected, 28);
  ExpectUntouchedFrom(block, 28);
}

TEST(BuildOscMessage, MainFaderAtTop) {
  Block block;
  // clang-format off
    const unsigned char expected[28] = {
        // 0 .. 17: "/main/st/mix/fader"
        '/', 'm', 'a', 'i', 'n', '/', 's', 't', '/', 'm', 'i', 'x', '/', 'f', 'a', 'd', 'e', 'r',
        // 18   19
        0x00, 0x00,
        // 20   21    22    23
        0x2C, 0x66, 0x00, 0x00,
        // 24   25    26    27
        0x3F, 0x80, 0x00, 0x00,                                                  // 1.0
    };
  // clang-format on
  ASSERT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, "/main/st/mix/fader", ",f", 1.0f), 28);
  ExpectBytes(block.bytes, expected, 28);
  ExpectUntouchedFrom(block, 28);
}

TEST(BuildOscMessage, AddressFillingItsFieldGetsExactlyOneZero) {
  Block block;
  // clang-format off
    const unsigned char three[12] = {
        // 0    1    2     3     4     5     6     7     8     9    10    11
        '/', 'a', 'b', 0x00, 0x2C, 0x66, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,    // -2.0
    };
  // clang-format on
  ASSERT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, "/ab", ",f", -2.0f), 12);
  ExpectBytes(block.bytes, three, 12);
  ExpectUntouchedFrom(block, 12);

  Block seven;
  // clang-format off
    const unsigned char expected[16] = {
        // 0    1    2    3    4    5    6     7     8     9    10    11    12    13    14    15
        '/', 'a', 'b', 'c', 'd', 'e', 'f', 0x00, 0x2C, 0x66, 0x00, 0x00, 0x3E, 0x80, 0x00, 0x00,  // 0.25
    };
  // clang-format on
  ASSERT_EQ(BuildOscMessage(seven.bytes, kMessageBlockSize, "/abcdef", ",f", 0.25f), 16);
  ExpectBytes(seven.bytes, expected, 16);
  ExpectUntouchedFrom(seven, 16);
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

TEST(FaderAddressTable, EveryFaderInListOrderWithItsMessageLength) {
  struct Run {
    int first;
    int last;
    const char* format;  // the address, given the number in the run
    int messageLength;   // of BuildOscMessage(address, ",f", level)
  };
  const Run runs[] = {
      {0, 0, "/main/st/mix/fader", 28},      {1, 32, "/ch/%02d/mix/fader", 28},   {33, 40, "/auxin/%02d/mix/fader", 28},
      {41, 48, "/fxrtn/%02d/mix/fader", 28}, {49, 64, "/bus/%02d/mix/fader", 28}, {65, 70, "/mtx/%02d/mix/fader", 28},
      {71, 71, "/main/m/mix/fader", 28},     {72, 79, "/dca/%d/fader", 24},
  };
  FillFaderAddressTable();
  int next = 0;
  for (const Run& run : runs) {
    ASSERT_EQ(run.first, next);
    for (int index = run.first; index <= run.last; ++index, ++next) {
      char expected[32];
      std::snprintf(expected, sizeof expected, run.format, index - run.first + 1);
      EXPECT_STREQ(FaderAddressTable[index], expected);
      Block block;
      EXPECT_EQ(BuildOscMessage(block.bytes, kMessageBlockSize, FaderAddressTable[index], ",f", 0.5f),
                run.messageLength)
          << expected;
    }
  }
  EXPECT_EQ(next, kFaderCount);
  EXPECT_STREQ(FaderAddressTable[13], "/ch/13/mix/fader");
  EXPECT_STREQ(FaderAddressTable[72], "/dca/1/fader");
}

}  // namespace
