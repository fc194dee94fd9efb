#include "app/capture_filter.h"

#include <cmath>
#include <cstring>

#include "link/osc.h"

int IsReportOfFader(const unsigned char* datagram, int length, UdpEndpoint sender, UdpEndpoint console,
                    const char* faderAddress, float* level) {
  if (datagram == nullptr || length != kFaderReportLength) return 0;
  // The console answers from the port we send to; a second program on the
  // console's host, or anyone else on the show network, is not the console.
  if (sender.address != console.address || sender.port != console.port) return 0;

  unsigned char expected[kFaderReportLength];
  if (BuildOscMessage(expected, kFaderReportLength, faderAddress, ",f", 0.0f) != kFaderReportLength) return 0;
  if (std::memcmp(datagram, expected, kFaderLevelOffset) != 0) return 0;

  const float value = LoadFloatBigEndian(datagram + kFaderLevelOffset);
  if (!std::isfinite(value) || value < 0.0f || value > 1.0f) return 0;
  if (level != nullptr) *level = value;
  return 1;
}
