// The UDP link to the mixer: what Windows and POSIX share. The raw socket calls
// live in win32_udp_socket.cpp / posix_udp_socket.cpp behind link/udp_socket.h.
#include "link/mixer_link.h"

#include <cstdlib>
#include <cstring>

#include "link/osc.h"
#include "link/udp_socket.h"

static int g_networkingStarted = 0;
static MixerLink* g_openLinks = nullptr;

int StartNetworking() {
  if (g_networkingStarted) return 1;
  g_networkingStarted = RawStartNetworking() ? 1 : 0;
  return g_networkingStarted;
}

static void DropPending(MixerLink* link) {
  std::free(link->pending);
  link->pending = nullptr;
  link->pendingLength = 0;
  link->readPosition = 0;
}

// Unhooks the link from the open list; 0 when it is not an open link.
static int UnlinkOpen(MixerLink* link) {
  for (MixerLink** slot = &g_openLinks; *slot; slot = &(*slot)->nextOpen) {
    if (*slot == link) {
      *slot = link->nextOpen;
      return 1;
    }
  }
  return 0;
}

static void ReleaseLink(MixerLink* link) {
  RawCloseSocket(link->socket);
  RawUnwatchReadable(link->readable);
  DropPending(link);
  std::free(link);
}

void StopNetworking() {
  while (g_openLinks) {
    MixerLink* link = g_openLinks;
    g_openLinks = link->nextOpen;
    ReleaseLink(link);
  }
  if (g_networkingStarted) RawStopNetworking();
  g_networkingStarted = 0;
}

MixerConnection OpenMixerLink(const char* addressText, int port) {
  if (!addressText || !*addressText) return nullptr;
  if (port < 1 || port > 65535) return nullptr;

  RawSocket socket = RawOpenSocket();
  if (socket == kNoSocket) return nullptr;

  const std::uint32_t address = RawResolveIPv4(addressText);
  MixerLink* link = nullptr;
  if (address != kNoAddress && RawSetNonBlocking(socket))
    link = static_cast<MixerLink*>(std::calloc(1, sizeof(MixerLink)));
  if (!link) {
    RawCloseSocket(socket);
    return nullptr;
  }

  link->socket = socket;
  link->readable = RawWatchReadable(socket);
  link->consoleAddress = address;
  link->consolePort = port;
  link->nextOpen = g_openLinks;
  g_openLinks = link;
  return link;
}

void CloseMixerLink(MixerConnection link) {
  if (!link || !UnlinkOpen(link)) return;
  ReleaseLink(link);
}

int PollMixerLink(MixerConnection link) {
  if (!link) return 0;

  // One byte more than the longest datagram taken, so a longer one shows.
  unsigned char staging[kMessageBlockSize + 1];
  std::uint32_t from = 0;
  int fromPort = 0;
  RawRearmReadable(link->readable);
  int received = RawReceiveFrom(link->socket, staging, static_cast<int>(sizeof staging), &from, &fromPort);
  if (received <= 0 || received > kMessageBlockSize) return 0;

  auto* block = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(received)));
  if (!block) return 0;
  std::memcpy(block, staging, static_cast<std::size_t>(received));

  DropPending(link);
  link->pending = block;
  link->pendingLength = received;
  link->readPosition = 0;
  link->hasSender = 1;
  link->senderAddress = from;
  link->senderPort = fromPort;
  return 2;
}

int ReceiveFromMixer(MixerConnection link, unsigned char* buffer, int size) {
  if (!link || !link->pending || !buffer || size <= 0) return 0;

  int count = size < link->pendingLength ? size : link->pendingLength;
  std::memcpy(buffer, link->pending + link->readPosition, static_cast<std::size_t>(count));
  link->readPosition += count;
  link->pendingLength -= count;
  if (link->pendingLength == 0) DropPending(link);
  return count;
}

int SendToMixer(MixerConnection link, const unsigned char* data, int length) {
  if (!link || !data || length < 0) return -1;
  return RawSendTo(link->socket, link->consoleAddress, link->consolePort, data, length);
}

int LastSenderOfMixerLink(MixerConnection link, std::uint32_t* address, int* port) {
  if (!link || !link->hasSender) return 0;
  if (address) *address = link->senderAddress;
  if (port) *port = link->senderPort;
  return 1;
}

std::uint32_t ConsoleAddressOfMixerLink(MixerConnection link) {
  return link ? link->consoleAddress : 0;
}

int ConsolePortOfMixerLink(MixerConnection link) {
  return link ? link->consolePort : 0;
}

std::intptr_t WaitableOfMixerLink(MixerConnection link) {
  return link ? link->readable : kNoWaitable;
}
