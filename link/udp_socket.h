// Raw IPv4 datagram socket operations under the mixer link. Internal to link/:
// posix_udp_socket.cpp and win32_udp_socket.cpp implement them, mixer_link.cpp builds the
// link on top, so the pending-datagram logic exists once.
#pragma once

#include <cstdint>

#include "link/mixer_link.h"

// A socket handle wide enough for a Winsock SOCKET and a POSIX descriptor.
using RawSocket = std::uintptr_t;
inline constexpr RawSocket kNoSocket = ~RawSocket{0};

// The record behind a MixerConnection; mixer_link.cpp alone changes it.
struct MixerLink {
  RawSocket socket;
  std::uint32_t consoleAddress;  // network byte order
  int consolePort;
  unsigned char* pending;  // the datagram the last poll took, exactly its length
  int pendingLength;       // bytes of it not read yet
  int readPosition;        // where the next receive starts
  int hasSender;
  std::uint32_t senderAddress;  // network byte order
  int senderPort;
  std::intptr_t readable;  // what a wait blocks on until a datagram waits
  MixerLink* nextOpen;     // every open link, so stopping networking releases them
};

// Starts / stops the platform's socket layer; start returns 1 when ready.
int RawStartNetworking();
void RawStopNetworking();

// socket(AF_INET, SOCK_DGRAM, 0), or kNoSocket.
RawSocket RawOpenSocket();
void RawCloseSocket(RawSocket socket);
// 1 when the socket no longer waits on receive and send.
int RawSetNonBlocking(RawSocket socket);

// 255.255.255.255: the lookup's marker for "no address".
inline constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

// Dotted IPv4 text first, then a host-name lookup (first IPv4 answer). The
// address in network byte order, or kNoAddress when the text doesn't resolve
// - a text that names 255.255.255.255 included.
std::uint32_t RawResolveIPv4(const char* text);

// One datagram to address (network order) : port (host order), without waiting.
// Returns length, or -1 when the operating system refused it.
int RawSendTo(RawSocket socket, std::uint32_t address, int port, const unsigned char* data, int length);

// Takes one datagram without waiting into buffer (capacity bytes). Returns its
// length (a longer one comes back as at least capacity, or as an error), or -1
// when nothing was taken: nothing waiting, not bound yet, or any socket error
// (ICMP port unreachable for an earlier send, over-long datagram). The error is
// consumed; the socket goes on working. from / fromPort may be null.
int RawReceiveFrom(RawSocket socket, unsigned char* buffer, int capacity, std::uint32_t* from, int* fromPort);

// What a wait can block on until a datagram waits on the socket (see
// WaitableOfMixerLink), or kNoWaitable when none can be made. Before each
// receive RawRearmReadable; when the socket closes RawUnwatchReadable.
std::intptr_t RawWatchReadable(RawSocket socket);
void RawRearmReadable(std::intptr_t waitable);
void RawUnwatchReadable(std::intptr_t waitable);

