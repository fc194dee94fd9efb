// The one test a datagram must pass before its level may move a fader.
#pragma once

#include <cstdint>

// An IPv4 address (network byte order) and a UDP port (host order).
struct UdpEndpoint {
  std::uint32_t address = 0;
  int port = 0;
};

// 1, with *level set, when the datagram is the console's report of the fader
// at faderAddress: sent from the console's own address and port, exactly the
// bytes "<faderAddress>" ",f" <float> (28, or 24 for a DCA's short address),
// and a finite level from 0 to 1.
// Anything else - another client's change, another parameter, a stray host,
// a NaN - returns 0 and leaves *level alone.
int IsReportOfFader(const unsigned char* datagram, int length, UdpEndpoint sender, UdpEndpoint console,
                    const char* faderAddress, float* level);
