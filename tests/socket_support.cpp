#include "socket_support.h"

RawSocket SocketOfMixerLink(MixerConnection link) {
  return link ? link->socket : kNoSocket;
}

int LocalPortOfMixerLink(MixerConnection link) {
  return link ? RawLocalPort(link->socket) : 0;
}
