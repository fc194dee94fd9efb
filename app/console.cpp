#include "app/console.h"

#include <cstdlib>

#include "link/clock.h"
#include "link/osc.h"

void SendRemoteSubscriptionWithoutPause(MixerConnection link) {
  auto* buffer = static_cast<unsigned char*>(std::malloc(kMessageBlockSize));
  if (buffer) {
    int length = BuildOscMessage(buffer, kMessageBlockSize, "/xremote", ",f", 0.0f);
    SendToMixer(link, buffer, length);
  }
  std::free(buffer);
}

void SendRemoteSubscriptionAndPause(MixerConnection link) {
  SendRemoteSubscriptionWithoutPause(link);
  SleepMilliseconds(20);
}
