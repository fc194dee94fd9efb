// IsReportOfFader on any datagram from any sender, for any selected fader.
// Properties: whenever it accepts, the sender is the console (127.0.0.1:10023),
// the datagram is byte for byte BuildOscMessage(faderAddress, ",f", level) and
// the level is finite in 0..1; when it refuses, the level is left alone; and
// every proper report of the selected fader from the console is accepted with
// its level to the bit. ReadConsoleInfo on the same datagram: whenever it
// accepts, the sender is the console, the datagram starts "/xinfo" ",ssss",
// and every text it gives is at most 32 printable ASCII characters.
//
// Input: [0] selected fader, [1] flags, [2..5] sender address, [6..7] sender
// port, [8..11] level bits, [12] the reported fader, [13] a byte to change in
// the report, the rest a raw datagram. Missing bytes read as 0.
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "app/capture_filter.h"
#include "fuzz_check.h"
#include "link/fader_table.h"
#include "link/osc.h"

namespace {

enum Flags {
  kFromConsoleAddress = 1,
  kFromConsolePort = 2,
  kSendReport = 4,       // a report built by BuildOscMessage instead of the raw bytes
  kChangeReportByte = 8  // ...with one byte replaced by the raw data's first
};

constexpr std::size_t kHeaderSize = 14;

std::uint32_t Word(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = at; i < at + 4; ++i) value = value << 8 | (i < size ? data[i] : 0);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool filled = (FillFaderAddressTable(), true);
  (void)filled;
  auto byte = [&](std::size_t at) -> std::uint8_t { return at < size ? data[at] : 0; };

  UdpEndpoint console;
  const unsigned char loopback[4] = {127, 0, 0, 1};
  std::memcpy(&console.address, loopback, 4);  // network byte order
  console.port = 10023;

  const std::uint8_t flags = byte(1);
  UdpEndpoint sender;
  sender.address = flags & kFromConsoleAddress ? console.address : Word(data, size, 2);
  sender.port = flags & kFromConsolePort ? console.port : static_cast<int>(Word(data, size, 6) >> 16);
  const char* faderAddress = FaderAddressTable[byte(0) % kFaderCount];
  const int reportedFader = byte(12) % kFaderCount;
  const std::uint32_t levelBits = Word(data, size, 8);
  float sent;
  std::memcpy(&sent, &levelBits, sizeof sent);

  std::vector<unsigned char> bytes;
  if (flags & kSendReport) {
    bytes.resize(kMessageBlockSize);
    bytes.resize(static_cast<std::size_t>(
        BuildOscMessage(bytes.data(), kMessageBlockSize, FaderAddressTable[reportedFader], ",f", sent)));
    FUZZ_CHECK(bytes.size() == (std::strncmp(FaderAddressTable[reportedFader], "/dca/", 5) == 0 ? 24u : 28u));
    if (flags & kChangeReportByte) bytes[byte(13) % bytes.size()] = byte(kHeaderSize);
  } else if (size > kHeaderSize) {
    bytes.assign(data + kHeaderSize, data + size);
  }
  // Exactly the datagram's size on the heap: a read past it is caught.
  std::unique_ptr<unsigned char[]> datagram(new unsigned char[bytes.size()]);
  if (!bytes.empty()) std::memcpy(datagram.get(), bytes.data(), bytes.size());

  const float untouched = std::nanf("7");
  float level = untouched;
  const int accepted =
      IsReportOfFader(datagram.get(), static_cast<int>(bytes.size()), sender, console, faderAddress, &level);
  if (accepted) {
    FUZZ_CHECK(sender.address == console.address && sender.port == console.port);
    FUZZ_CHECK(std::isfinite(level) && level >= 0.0f && level <= 1.0f);
    unsigned char expected[kFaderReportLength];
    const int length = BuildOscMessage(expected, kFaderReportLength, faderAddress, ",f", level);
    FUZZ_CHECK(length > 0 && bytes.size() == static_cast<std::size_t>(length) &&
               std::memcmp(datagram.get(), expected, bytes.size()) == 0);
  } else {
    FUZZ_CHECK(std::memcmp(&level, &untouched, sizeof level) == 0);
  }

  ConsoleInfo info;
  if (ReadConsoleInfo(datagram.get(), static_cast<int>(bytes.size()), sender, console, &info)) {
    FUZZ_CHECK(sender.address == console.address && sender.port == console.port);
    FUZZ_CHECK(bytes.size() >= 16 && std::memcmp(datagram.get(), "/xinfo\0\0,ssss\0\0\0", 16) == 0);
    for (const char* text : {info.address, info.name, info.model, info.firmware}) {
      const std::size_t length = std::strlen(text);
      FUZZ_CHECK(length <= 32);
      for (std::size_t i = 0; i < length; ++i) FUZZ_CHECK(text[i] >= 0x20 && text[i] < 0x7F);
    }
  }

  const bool properReport = (flags & (kSendReport | kChangeReportByte)) == kSendReport &&
                            std::strcmp(FaderAddressTable[reportedFader], faderAddress) == 0 && std::isfinite(sent) &&
                            sent >= 0.0f && sent <= 1.0f;
  if (properReport && sender.address == console.address && sender.port == console.port) {
    FUZZ_CHECK(accepted && std::memcmp(&level, &sent, sizeof level) == 0);
  }
  return 0;
}
