// The UDP link to the mixer: it carries datagrams and knows nothing of what
// they say. One neutral header; win32_udp_socket.cpp and posix_udp_socket.cpp
// hold the platform code behind link/udp_socket.h, mixer_link.cpp what they
// share.
#pragma once

#include <cstdint>

inline constexpr int kMixerPort = 10023;

struct MixerLink;                    // owns its socket and its pending datagram
using MixerConnection = MixerLink*;  // null: the last opening failed

// 1 once the socket layer is ready (Winsock 2.2 on Windows), 0 if it could not
// be started; a later call tries again. Idempotent after a success.
int StartNetworking();
// Shuts the socket layer down, releasing every link still open: their
// handles are no longer valid afterwards.
void StopNetworking();

// A non-blocking, unbound, unconnected IPv4 UDP socket that sends to address:port.
// Returns null when the text is null, does not resolve, resolves to
// 255.255.255.255, or the socket cannot be made non-blocking.
MixerConnection OpenMixerLink(const char* addressText, int port);
void CloseMixerLink(MixerConnection link);

// Takes one datagram without waiting. Returns 2 when one (1..2048 bytes) is now
// pending, otherwise 0 (nothing waiting, empty or over-long datagram, any socket
// error such as an ICMP port-unreachable for an earlier send, or a null link).
int PollMixerLink(MixerConnection link);
// Copies up to size bytes of the pending datagram into buffer and returns how
// many; bytes of buffer past that count are left alone. 0 when nothing is pending.
int ReceiveFromMixer(MixerConnection link, unsigned char* buffer, int size);
// Sends one datagram to the console. Returns length, or -1 when refused.
int SendToMixer(MixerConnection link, const unsigned char* data, int length);

// The sender of the datagram taken by the last successful poll, as an IPv4
// address in network byte order and a port in host order. Returns 0 when the
// link is null or no poll has taken a datagram yet.
int LastSenderOfMixerLink(MixerConnection link, std::uint32_t* address, int* port);
// The console's address, network byte order, and port, as fixed at opening
// (0 for null).
std::uint32_t ConsoleAddressOfMixerLink(MixerConnection link);
int ConsolePortOfMixerLink(MixerConnection link);

// What a wait blocks on until a datagram waits on the link: the socket's
// descriptor on POSIX, an event handle on Windows. kNoWaitable for null, or
// where none could be made.
inline constexpr std::intptr_t kNoWaitable = -1;
std::intptr_t WaitableOfMixerLink(MixerConnection link);
