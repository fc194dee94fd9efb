// What the program takes from the network, and the tests a datagram must
// pass first: a fader's report, before its level may move a fader, and the
// console's answer to /xinfo.
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

// The console's answer to /xinfo, each text cut to at most 32 characters of
// printable ASCII: anything else on the network may send anything.
struct ConsoleInfo {
  char address[33];
  char name[33];
  char model[33];
  char firmware[33];
};
// 1, with *info filled, when the datagram is that answer: sent from the
// console's own address and port, "/xinfo" with the type tags ",ssss" and
// four strings that end inside the datagram. Anything else returns 0.
int ReadConsoleInfo(const unsigned char* datagram, int length, UdpEndpoint sender, UdpEndpoint console,
                    ConsoleInfo* info);
