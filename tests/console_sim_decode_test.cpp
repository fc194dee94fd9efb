// The console simulator's OSC, written and decoded by liblo and read by the
// simulator, and its fade figures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "fade_stats.h"
#include "sim_osc.h"

namespace {

using sim::Bytes;

// Exactly the bytes given, in a buffer of exactly that size, so that the
// sanitizers catch any read past the end.
sim::OscMessage Decode(const Bytes& bytes) {
  return sim::DecodeOsc(bytes.data(), bytes.size());
}

Bytes Text(const char* text, size_t length) {
  return Bytes(reinterpret_cast<const uint8_t*>(text), reinterpret_cast<const uint8_t*>(text) + length);
}

// OSC's padded string and big-endian word, written here rather than by the
// simulator's writer, so that the inputs don't depend on what is tested.
void AppendOscString(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.insert(out.end(), 4 - text.size() % 4, 0);
}

void AppendBigEndian32(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

TEST(ConsoleSimOsc, WritesAndReadsTheFaderReportAndSubscription) {
  // 0123456789012345 6789 0123 4567
  const Bytes ch5At08 = {0x2F, 0x63, 0x68, 0x2F, 0x30, 0x35, 0x2F, 0x6D, 0x69, 0x78, 0x2F, 0x66, 0x61, 0x64,
                         0x65, 0x72, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x66, 0x00, 0x00, 0x3F, 0x4C, 0xCC, 0xCD};
  EXPECT_EQ(sim::EncodeFloatMessage(sim::FaderAddress(5), 0.8f), ch5At08);
  sim::OscMessage m = Decode(ch5At08);
  ASSERT_TRUE(m.ok) << m.reason;
  EXPECT_EQ(m.address, "/ch/05/mix/fader");
  EXPECT_EQ(m.typeTag, ",f");
  ASSERT_EQ(m.args.size(), 1u);
  EXPECT_EQ(m.args[0], 0.8f);

  const Bytes xremote = {0x2F, 0x78, 0x72, 0x65, 0x6D, 0x6F, 0x74, 0x65, 0x00, 0x00,
                         0x00, 0x00, 0x2C, 0x66, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(sim::EncodeFloatMessage("/xremote", 0.0f), xremote);

  Bytes main = sim::EncodeFloatMessage(sim::FaderAddress(0), 1.0f);
  ASSERT_EQ(main.size(), 28u);
  EXPECT_EQ(main[18], 0);
  EXPECT_EQ(main[19], 0);
  EXPECT_EQ(main[24], 0x3F);
  EXPECT_EQ(main[25], 0x80);
}

TEST(ConsoleSimOsc, ReadsOtherArgumentKindsAndBareAddresses) {
  Bytes bytes;
  AppendOscString(bytes, "/a/b");
  AppendOscString(bytes, ",isbTShdtcNFI");
  AppendBigEndian32(bytes, static_cast<uint32_t>(-7));
  AppendOscString(bytes, "abc");
  AppendBigEndian32(bytes, 5);
  bytes.insert(bytes.end(), {0x55, 0x55, 0x55, 0x55, 0x55, 0, 0, 0});  // 5 blob bytes + 3 padding
  AppendOscString(bytes, "sym");
  for (uint32_t word : {0xFFFFFFFFu, 0xFFFFFFFEu, 0x3FF80000u, 0u, 1u, 2u, uint32_t{'q'}}) {
    AppendBigEndian32(bytes, word);
  }
  sim::OscMessage m = Decode(bytes);
  ASSERT_TRUE(m.ok) << m.reason;
  EXPECT_EQ(m.typeTag, ",isbTShdtcNFI");
  // Every value in host order, as the log writes it.
  EXPECT_EQ(sim::JsonLine(m.argsJson),
            "[-7,\"abc\",{\"blob\":5},true,\"sym\",-2,1.5,4294967298,113,null,false,\"impulse\"]");

  // A query: the address alone, no type tag.
  Bytes query;
  AppendOscString(query, "/ch/05/mix/fader");
  m = Decode(query);
  EXPECT_TRUE(m.ok);
  EXPECT_EQ(m.typeTag, "");
  EXPECT_EQ(sim::FaderIndexOf(m.address), 5);
}

TEST(ConsoleSimOsc, FlagsMalformedDatagramsWithoutReadingPastThem) {
  Bytes report = sim::EncodeFloatMessage(sim::FaderAddress(5), 0.8f);
  Bytes cut(report.begin(), report.end() - 1);         // 27 bytes
  Bytes tagOnly(report.begin(), report.begin() + 24);  // ",f" but no float
  Bytes extra = report;                                // 4 bytes too many
  for (int k = 0; k < 4; ++k) extra.push_back(0);
  Bytes dirtyBlobPad;
  AppendOscString(dirtyBlobPad, "/b");
  AppendOscString(dirtyBlobPad, ",b");
  AppendBigEndian32(dirtyBlobPad, 1);
  AppendBigEndian32(dirtyBlobPad, 0x55555555);
  Bytes dirtyPad = report;
  dirtyPad[17] = 'x';
  Bytes unknownType = report;
  unknownType[21] = 'q';
  Bytes noTerminator = Text("/ch/05/mix/fader", 16);
  Bytes noComma = report;
  noComma[20] = 'f';
  Bytes bigBlob;
  AppendOscString(bigBlob, "/b");
  AppendOscString(bigBlob, ",b");
  AppendBigEndian32(bigBlob, 0xFFFFFFF0u);
  const Bytes cases[] = {Bytes{},     Bytes{1, 2, 3}, Text("#bundle\0", 8), Text("x\0\0\0,\0\0\0", 8),
                         cut,         tagOnly,        extra,                dirtyPad,
                         unknownType, noTerminator,   noComma,              bigBlob,
                         dirtyBlobPad};
  for (const Bytes& c : cases) {
    sim::OscMessage m = Decode(c);
    EXPECT_FALSE(m.ok) << sim::HexBytes(c.data(), c.size());
    EXPECT_FALSE(m.reason.empty()) << sim::HexBytes(c.data(), c.size());
  }
  // The address and type tag of a cut report are still readable for the log.
  EXPECT_EQ(Decode(cut).address, "/ch/05/mix/fader");
  EXPECT_EQ(Decode(cut).typeTag, ",f");
}

TEST(ConsoleSimOsc, FaderNamesHexAndJson) {
  EXPECT_EQ(sim::FaderAddress(0), "/main/st/mix/fader");
  EXPECT_EQ(sim::FaderAddress(32), "/ch/32/mix/fader");
  EXPECT_EQ(sim::FaderAddress(33), "/auxin/01/mix/fader");
  EXPECT_EQ(sim::FaderAddress(64), "/bus/16/mix/fader");
  EXPECT_EQ(sim::FaderAddress(71), "/main/m/mix/fader");
  EXPECT_EQ(sim::FaderAddress(79), "/dca/8/fader");
  EXPECT_EQ(sim::FaderAddress(80), "");
  EXPECT_EQ(sim::EncodeFloatMessage(sim::FaderAddress(72), 0.5f).size(), 24u);
  EXPECT_EQ(sim::FaderIndexOf("/ch/5/mix/fader"), -1);
  EXPECT_EQ(sim::FaderIndexOf("/dca/1/fader"), 72);
  EXPECT_EQ(sim::ParseFader("main"), 0);
  EXPECT_EQ(sim::ParseFader("07"), 7);
  EXPECT_EQ(sim::ParseFader("33"), -1);
  EXPECT_EQ(sim::ParseFader("-1"), -1);
  for (int fader = 33; fader < sim::kFaderCount; ++fader) EXPECT_EQ(sim::ParseFader(sim::FaderName(fader)), fader);
  EXPECT_EQ(sim::FaderName(72), "dca1");
  EXPECT_EQ(sim::ParseFader("bus16"), 64);
  EXPECT_EQ(sim::ParseFader("dca9"), -1);

  Bytes bytes;
  EXPECT_TRUE(sim::ParseHex("2f 7800 FF", &bytes));
  EXPECT_EQ(bytes, (Bytes{0x2F, 0x78, 0x00, 0xFF}));
  EXPECT_TRUE(sim::ParseHex("", &bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(sim::ParseHex("2f7", &bytes));
  EXPECT_FALSE(sim::ParseHex("2 f", &bytes));
  EXPECT_FALSE(sim::ParseHex("zz", &bytes));

  EXPECT_EQ(sim::JsonLine(sim::JsonNumber(std::nan(""))), "\"nan\"");
  EXPECT_EQ(sim::JsonLine(sim::JsonNumber(-HUGE_VALF)), "\"-inf\"");
  EXPECT_EQ(sim::JsonLine(sim::JsonNumber(0.8f)), "0.8");
  EXPECT_EQ(sim::JsonLine(sim::JsonNumber(1e-40f)), "1e-40");
  EXPECT_EQ(sim::JsonLine(sim::JsonText("a\"\\\n\x7f\xff")), "\"a\\\"\\\\\\n\\u007f\\u00ff\"");
}

TEST(ConsoleSimFade, FiguresOfARun) {
  EXPECT_EQ(sim::NearestRankPercentile({}, 99), 0.0);
  std::vector<double> hundred;
  for (int k = 1; k <= 100; ++k) hundred.push_back(k);
  EXPECT_EQ(sim::NearestRankPercentile(hundred, 99), 99.0);
  EXPECT_EQ(sim::NearestRankPercentile({3, 1, 2}, 99), 3.0);

  sim::FadeSummary s =
      sim::Summarise({5, 996000, "touch 5 0.8", {{1000000, 0.8f, 4000}, {1010000, 0.794f, 4000}, {1030000, 0.788f, 4001}}});
  EXPECT_EQ(s.count, 3);
  EXPECT_EQ(s.first, 0.8f);
  EXPECT_EQ(s.last, 0.788f);
  EXPECT_DOUBLE_EQ(s.meanIntervalMs, 15.0);
  EXPECT_DOUBLE_EQ(s.p99IntervalMs, 20.0);
  EXPECT_DOUBLE_EQ(s.captureLatencyMs, 4.0);
  EXPECT_TRUE(s.mixedPorts);
  std::string json = sim::FormatSummaryJson(s);
  EXPECT_NE(json.find("\"count\":3"), std::string::npos) << json;
  EXPECT_NE(json.find("\"capture_latency_ms\":4.0,"), std::string::npos) << json;

  // One message: no interval, and no latency when nothing was reported first.
  s = sim::Summarise({0, -1, "", {{0, 0.5f, 1}}});
  EXPECT_FALSE(s.hasIntervals);
  EXPECT_FALSE(s.hasLatency);
  json = sim::FormatSummaryJson(s);
  EXPECT_NE(json.find("\"mean_interval_ms\":null"), std::string::npos) << json;
  EXPECT_NE(sim::FormatSummaryText(s).find("fade main: 1 message,"), std::string::npos);
}

}  // namespace
