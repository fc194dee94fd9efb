// Socket helpers for the tests: loopback peers that play the console and
// strangers, and what a link's socket shows from outside. The programs never
// compile these.
#pragma once

#include "link/mixer_link.h"
#include "link/udp_socket.h"

// The local port the socket is bound to, 0 when it is not bound yet.
int RawLocalPort(RawSocket socket);
// Binds the socket to 127.0.0.1:port (0: any free port); 1 on success.
int RawBindLoopback(RawSocket socket, int port);
// Makes the socket report an ICMP port unreachable for an earlier datagram
// (WSAECONNRESET, ECONNREFUSED) on its next receive, as the console's absence
// does on Windows. 1 when it will; 0 where the system never reports one
// (Wine, systems without IP_RECVERR).
int RawReportUnreachable(RawSocket socket);
// The socket under a link, or kNoSocket for null.
RawSocket SocketOfMixerLink(MixerConnection link);
// The local UDP port the link sends from, 0 before its first send or for null.
int LocalPortOfMixerLink(MixerConnection link);
