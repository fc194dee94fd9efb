#include "app/capture_filter.h"

#include <cmath>
#include <cstring>

#include "link/fader_table.h"
#include "link/osc.h"

int IsReportOfFader(const unsigned char* datagram, int length, UdpEndpoint sender, UdpEndpoint console,
                    const char* faderAddress, float* level) {
  if (datagram == nullptr) return 0;
  // The console answers from the port we send to; a second program on the
  // console's host, or anyone else on the show network, is not the console.
  if (sender.address != console.address || sender.port != console.port) return 0;

  // The report the console sends for this fader, but for its level: the
  // length follows from the address (24 bytes for a DCA, 28 for the others),
  // and the level is its last four bytes.
  unsigned char expected[kFaderReportLength];
  const int reportLength = BuildOscMessage(expected, kFaderReportLength, faderAddress, ",f", 0.0f);
  if (reportLength == 0 || length != reportLength) return 0;
  const int levelOffset = reportLength - 4;
  if (std::memcmp(datagram, expected, static_cast<std::size_t>(levelOffset)) != 0) return 0;

  const float value = LoadFloatBigEndian(datagram + levelOffset);
  if (!std::isfinite(value) || value < 0.0f || value > 1.0f) return 0;
  if (level != nullptr) *level = value;
  return 1;
}

namespace {

void CopyPrintable(const char* from, char (&to)[33]) {
  std::size_t length = 0;
  for (; from[length] != '\0' && length + 1 < sizeof to; ++length) {
    const unsigned char c = static_cast<unsigned char>(from[length]);
    to[length] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  to[length] = '\0';
}

}  // namespace

int ReadConsoleInfo(const unsigned char* datagram, int length, UdpEndpoint sender, UdpEndpoint console,
                    ConsoleInfo* info) {
  if (sender.address != console.address || sender.port != console.port) return 0;
  const char* address = nullptr;
  const char* typeTags = nullptr;
  int offset = ReadOscString(datagram, length, 0, &address);
  if (offset < 0 || std::strcmp(address, "/xinfo") != 0) return 0;
  offset = ReadOscString(datagram, length, offset, &typeTags);
  if (offset < 0 || std::strcmp(typeTags, ",ssss") != 0) return 0;
  const char* texts[4] = {};
  for (const char*& text : texts) {
    offset = ReadOscString(datagram, length, offset, &text);
    if (offset < 0) return 0;
  }
  CopyPrintable(texts[0], info->address);
  CopyPrintable(texts[1], info->name);
  CopyPrintable(texts[2], info->model);
  CopyPrintable(texts[3], info->firmware);
  return 1;
}
