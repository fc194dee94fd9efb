// Test-only socket helpers; product code never includes this header.
#pragma once

#include "link/socket.h"
#include "link/udp.h"

// Binds the socket to 127.0.0.1:port (0: any free port); 1 on success. The
// tests' peers play the console and strangers with such sockets.
int RawBindLoopback(RawSocket socket, int port);
// Makes the socket report an ICMP port unreachable for an earlier datagram
// (WSAECONNRESET, ECONNREFUSED) on its next receive, as the console's absence
// does on Windows. 1 when it will; 0 where the system never reports one
// (Wine, systems without IP_RECVERR).
int RawReportUnreachable(RawSocket socket);
// The socket under a link, or kNoSocket for null.
RawSocket SocketOfMixerLink(MixerConnection link);
