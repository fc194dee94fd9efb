// The console's answer to /xinfo as the program reads it, against the bytes
// that reach it: a reader on the network takes nothing on trust.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/capture_filter.h"

namespace {

// An OSC string: the text, then one to four zeros up to a multiple of 4.
std::string Padded(const std::string& text) {
  return text + std::string(4 - text.size() % 4, '\0');
}

std::string Answer(const std::string& name) {
  return Padded("/xinfo") + Padded(",ssss") + Padded("192.168.1.62") + Padded(name) + Padded("X32") + Padded("3.04");
}

TEST(ReadConsoleInfo, TakesOnlyAWellFormedAnswerFromTheConsole) {
  const UdpEndpoint console{0x1001A8C0, 10023};
  const std::string good = Answer("X32-02-4A-53");
  const std::string longName(2048 - Answer("").size(), 'N');  // 4 zeros pad it, as they pad ""
  struct Case {
    const char* name;
    std::string bytes;
    UdpEndpoint sender;
    const char* shownName;  // null: refused
  };
  const Case cases[] = {
      {"the console's answer", good, console, "X32-02-4A-53"},
      {"another port", good, {console.address, 10024}, nullptr},
      {"another host", good, {0x1101A8C0, 10023}, nullptr},
      {"another address", "/xinfx\0\0" + good.substr(8), console, nullptr},
      {"no type tags", Padded("/xinfo") + good.substr(16), console, nullptr},
      {"three strings", Padded("/xinfo") + Padded(",sss") + good.substr(16, 32), console, nullptr},
      {"the last string cut", good.substr(0, good.size() - 4), console, nullptr},
      {"the last padding cut", good.substr(0, good.size() - 1), console, nullptr},
      {"a 2048-byte answer", Answer(longName), console, "NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN"},
      {"control bytes in the name", Answer("X32\x01\x1b[2J\x7f\xc3\xa9"), console, "X32??[2J???"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConsoleInfo info{};
    const auto* bytes = reinterpret_cast<const unsigned char*>(c.bytes.data());
    const int length = static_cast<int>(c.bytes.size());
    ASSERT_EQ(ReadConsoleInfo(bytes, length, c.sender, console, &info), c.shownName != nullptr ? 1 : 0);
    if (c.shownName == nullptr) continue;
    EXPECT_STREQ(info.name, c.shownName);
    EXPECT_STREQ(info.address, "192.168.1.62");
    EXPECT_STREQ(info.model, "X32");
    EXPECT_STREQ(info.firmware, "3.04");
  }
  EXPECT_EQ(Answer(longName).size(), 2048u);
}

}  // namespace
