// Windows Sockets under the mixer link. Version 2.2 is asked for: waiting
// for a datagram together with the window's input needs WSAEventSelect, which
// Winsock 1.1 doesn't have.
#include <winsock2.h>

#include <cstring>

#include "link/udp_socket.h"

static int g_winsockStarted = 0;

static SOCKET Handle(RawSocket socket) {
  return static_cast<SOCKET>(socket);
}

int RawStartNetworking() {
  if (g_winsockStarted) return 1;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 0;
  g_winsockStarted = 1;
  return 1;
}

// Releases every socket still open.
void RawStopNetworking() {
  if (g_winsockStarted) WSACleanup();
  g_winsockStarted = 0;
}

RawSocket RawOpenSocket() {
  SOCKET handle = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (handle == INVALID_SOCKET) return kNoSocket;
  return static_cast<RawSocket>(handle);
}

void RawCloseSocket(RawSocket socket) {
  if (socket != kNoSocket) closesocket(Handle(socket));
}

int RawSetNonBlocking(RawSocket socket) {
  u_long nonBlocking = 1;
  return ioctlsocket(Handle(socket), FIONBIO, &nonBlocking) == 0 ? 1 : 0;
}

std::uint32_t RawResolveIPv4(const char* text) {
  std::uint32_t resolved = inet_addr(text);
  if (resolved == kNoAddress) {
    const hostent* host = gethostbyname(text);
    if (host && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list && host->h_addr_list[0])
      std::memcpy(&resolved, host->h_addr_list[0], sizeof resolved);
  }
  return resolved;
}

int RawSendTo(RawSocket socket, std::uint32_t address, int port, const unsigned char* data, int length) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(static_cast<u_short>(port));
  int sent = sendto(Handle(socket), reinterpret_cast<const char*>(data), length, 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int RawReceiveFrom(RawSocket socket, unsigned char* buffer, int capacity, std::uint32_t* from, int* fromPort) {
  sockaddr_in sender{};
  int senderLength = sizeof sender;
  int received = recvfrom(Handle(socket), reinterpret_cast<char*>(buffer), capacity, 0,
                          reinterpret_cast<sockaddr*>(&sender), &senderLength);
  // WSAEWOULDBLOCK (nothing waiting), WSAEINVAL (not bound before the first
  // send), WSAECONNRESET (ICMP port unreachable for an earlier datagram),
  // WSAEMSGSIZE (longer than buffer, and discarded): nothing taken, and the
  // error is consumed, so the next receive sees the next datagram.
  if (received == SOCKET_ERROR) return -1;
  if (from) *from = sender.sin_addr.s_addr;
  if (fromPort) *fromPort = ntohs(sender.sin_port);
  return received;
}

// An event set while a datagram waits (FD_READ). Winsock records FD_READ again
// after each receive that leaves one waiting, so an event reset just before
// the receive is set exactly when there is something left to take.
std::intptr_t RawWatchReadable(RawSocket socket) {
  WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) return kNoWaitable;
  if (WSAEventSelect(Handle(socket), event, FD_READ) != 0) {
    WSACloseEvent(event);
    return kNoWaitable;
  }
  return reinterpret_cast<std::intptr_t>(event);
}

void RawRearmReadable(std::intptr_t waitable) {
  if (waitable != kNoWaitable) WSAResetEvent(reinterpret_cast<WSAEVENT>(waitable));
}

void RawUnwatchReadable(std::intptr_t waitable) {
  if (waitable != kNoWaitable) WSACloseEvent(reinterpret_cast<WSAEVENT>(waitable));
}
