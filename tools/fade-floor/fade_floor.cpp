// fade-floor: the least a fade step costs, which the bench (tools/bench.py)
// puts beside the program's, reading both CPU times from outside. A step does
// only what the fade must, with the program's own link, clock and window code:
// one datagram to the console, the wait for the next 10 ms deadline, two drains
// of the window's input queue and, with "look", one look at the socket without
// waiting, as "Stop When Fader Is Moved" adds.
//
//   fade-floor STEPS ADDRESS PORT look|nolook
//
// Send only to 127.0.0.0/8 from the tests and the bench.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/clock.h"
#include "link/mixer_link.h"
#include "link/osc.h"
#include "ui/controls.h"

int main(int argc, char** argv) {
  constexpr std::int64_t kPeriod = 10000;  // us, as in the fade
  if (argc != 5) return 2;
  const int steps = std::atoi(argv[1]);
  const int look = std::strcmp(argv[4], "nolook") != 0;
  if (steps <= 0 || BuildMainWindow() == 0) return 1;
  // What showing the window queued (paint, activation) is taken now, so the
  // steps find the queue as a quiet fade does.
  for (int i = 0; i < 50; ++i) Drain();

  StartNetworking();
  MixerConnection link = OpenMixerLink(argv[2], std::atoi(argv[3]));
  if (link == nullptr) return 1;
  // A real fader address and level, built once: building the message is the
  // program's own business, not part of the floor.
  unsigned char message[64];
  const int length = BuildOscMessage(message, sizeof message, "/ch/01/mix/fader", ",f", 0.5f);

  std::int64_t due = ClockMicroseconds();
  for (int step = 0; step < steps; ++step) {
    SendToMixer(link, message, length);
    due += kPeriod;
    SleepUntilMicroseconds(due);
    Drain();
    Drain();
    if (look) PollMixerLink(link);
  }

  CloseMixerLink(link);
  StopNetworking();
  DestroyMainWindow();
  return 0;
}
