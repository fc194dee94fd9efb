#include "app/console.h"

#include <cstdlib>

#include "app/quorlen.h"
#include "app/status_line.h"
#include "app/timer_list.h"
#include "link/clock.h"
#include "link/osc.h"

namespace {

constexpr std::intptr_t kAnswerInterval = 1000;   // ms an /xinfo waits for its answer
constexpr std::intptr_t kAskingInterval = 10000;  // ms between /xinfo at idle while none came
constexpr int kMostDatagramsAtIdle = 256;         // a flood can't keep the main loop from the window

// "/xinfo" and an empty type-tag string: the console's "who are you".
constexpr unsigned char kConsoleQuery[12] = {'/', 'x', 'i', 'n', 'f', 'o', 0, 0, ',', 0, 0, 0};

UdpEndpoint ConsoleOfLink() {
  return UdpEndpoint{ConsoleAddressOfMixerLink(g_mixerConnection), ConsolePortOfMixerLink(g_mixerConnection)};
}

}  // namespace

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

void AskConsole() {
  SendToMixer(g_mixerConnection, kConsoleQuery, sizeof kConsoleQuery);
  RemoveTimer(kConsoleAnswerKey);
  AddTimer(static_cast<std::intptr_t>(ClockMilliseconds()), kAnswerInterval, kConsoleAnswerKey);
  RemoveTimer(kConsoleAskKey);
  AddTimer(static_cast<std::intptr_t>(ClockMilliseconds()), kAskingInterval, kConsoleAskKey);
}

int TakeConsoleAnswer(const unsigned char* datagram, int length) {
  UdpEndpoint sender;
  ConsoleInfo info;
  if (LastSenderOfMixerLink(g_mixerConnection, &sender.address, &sender.port) == 0 ||
      ReadConsoleInfo(datagram, length, sender, ConsoleOfLink(), &info) == 0) {
    return 0;
  }
  RemoveTimer(kConsoleAnswerKey);
  RemoveTimer(kConsoleAskKey);
  ShowConsoleAnswered(info);
  return 1;
}

void FollowConsoleCheck(int idle) {
  if (idle != 0) {
    unsigned char datagram[kMessageBlockSize];
    for (int taken = 0; taken < kMostDatagramsAtIdle && PollMixerLink(g_mixerConnection) != 0; ++taken) {
      TakeConsoleAnswer(datagram, ReceiveFromMixer(g_mixerConnection, datagram, kMessageBlockSize));
    }
  }
  if (CheckTimer(kConsoleAnswerKey) != 0) {
    RemoveTimer(kConsoleAnswerKey);
    ShowConsoleSilent();
  }
  if (idle != 0 && ConsoleIsSilent() != 0 && CheckTimer(kConsoleAskKey) != 0) AskConsole();
}

int MillisecondsUntilConsoleCheck(int idle) {
  const auto answer = static_cast<int>(MillisecondsUntilDue(kConsoleAnswerKey));
  const auto ask = idle != 0 && ConsoleIsSilent() != 0 ? static_cast<int>(MillisecondsUntilDue(kConsoleAskKey)) : -1;
  if (answer < 0) return ask;
  return ask < 0 || answer < ask ? answer : ask;
}
