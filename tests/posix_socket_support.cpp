#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "socket_support.h"

static int Descriptor(RawSocket socket) {
  return static_cast<int>(socket);
}

int RawLocalPort(RawSocket socket) {
  sockaddr_in local{};
  socklen_t localLength = sizeof local;
  if (::getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&local), &localLength) != 0) return 0;
  return ntohs(local.sin_port);
}

int RawBindLoopback(RawSocket socket, int port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  local.sin_port = htons(static_cast<std::uint16_t>(port));
  return ::bind(Descriptor(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 1 : 0;
}

// Windows reports an ICMP port unreachable for an earlier datagram on the
// next receive of any UDP socket; Linux does so on an unconnected socket only
// with IP_RECVERR. Systems without it never report one.
int RawReportUnreachable(RawSocket socket) {
#ifdef IP_RECVERR
  int on = 1;
  return ::setsockopt(Descriptor(socket), IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0 ? 1 : 0;
#else
  (void)socket;
  return 0;
#endif
}
