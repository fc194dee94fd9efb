#include <winsock2.h>

#include "socket_support.h"

static SOCKET Handle(RawSocket socket) {
  return static_cast<SOCKET>(socket);
}

int RawLocalPort(RawSocket socket) {
  sockaddr_in local{};
  int localLength = sizeof local;
  if (getsockname(Handle(socket), reinterpret_cast<sockaddr*>(&local), &localLength) != 0) return 0;
  return ntohs(local.sin_port);
}

int RawBindLoopback(RawSocket socket, int port) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  local.sin_port = htons(static_cast<u_short>(port));
  return bind(Handle(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 1 : 0;
}

// Windows reports an ICMP port unreachable for an earlier datagram on the
// next receive of any UDP socket, with nothing to ask for. Wine doesn't
// report it at all.
int RawReportUnreachable(RawSocket) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr ? 0 : 1;
}
