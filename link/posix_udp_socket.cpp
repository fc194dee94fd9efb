// BSD sockets under the mixer link. POSIX needs no socket layer start-up.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/udp_socket.h"

static int Descriptor(RawSocket socket) {
  return static_cast<int>(socket);
}

int RawStartNetworking() {
  return 1;
}

void RawStopNetworking() {}

RawSocket RawOpenSocket() {
  int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (descriptor < 0) return kNoSocket;
  return static_cast<RawSocket>(descriptor);
}

void RawCloseSocket(RawSocket socket) {
  if (socket != kNoSocket) ::close(Descriptor(socket));
}

int RawSetNonBlocking(RawSocket socket) {
  int flags = ::fcntl(Descriptor(socket), F_GETFL, 0);
  if (flags < 0 || ::fcntl(Descriptor(socket), F_SETFL, flags | O_NONBLOCK) < 0) return 0;
  return 1;
}

std::uint32_t RawResolveIPv4(const char* text) {
  in_addr numeric{};
  std::uint32_t resolved = kNoAddress;
  if (::inet_pton(AF_INET, text, &numeric) == 1) {
    resolved = numeric.s_addr;
  } else {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* answer = nullptr;
    if (::getaddrinfo(text, nullptr, &hints, &answer) == 0) {
      for (addrinfo* entry = answer; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
          sockaddr_in found{};
          std::memcpy(&found, entry->ai_addr, sizeof found);
          resolved = found.sin_addr.s_addr;
          break;
        }
      }
      ::freeaddrinfo(answer);
    }
  }
  return resolved;
}

int RawSendTo(RawSocket socket, std::uint32_t address, int port, const unsigned char* data, int length) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  ssize_t sent = ::sendto(Descriptor(socket), data, static_cast<std::size_t>(length), 0,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent < 0 ? -1 : static_cast<int>(sent);
}

int RawReceiveFrom(RawSocket socket, unsigned char* buffer, int capacity, std::uint32_t* from, int* fromPort) {
  sockaddr_in sender{};
  socklen_t senderLength = sizeof sender;
  ssize_t received = ::recvfrom(Descriptor(socket), buffer, static_cast<std::size_t>(capacity), 0,
                                reinterpret_cast<sockaddr*>(&sender), &senderLength);
  // EAGAIN (nothing waiting), ECONNREFUSED (an earlier datagram was refused)
  // and every other error alike: nothing taken; the error is now consumed.
  if (received < 0) return -1;
  if (from) *from = sender.sin_addr.s_addr;
  if (fromPort) *fromPort = ntohs(sender.sin_port);
  return static_cast<int>(received);
}

// poll() waits on the descriptor itself, and it stays ready while anything waits.
std::intptr_t RawWatchReadable(RawSocket socket) {
  return static_cast<std::intptr_t>(Descriptor(socket));
}

void RawRearmReadable(std::intptr_t) {}

void RawUnwatchReadable(std::intptr_t) {}
