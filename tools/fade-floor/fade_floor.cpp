// fade-floor: what one fade step costs at the least. Each step does only what
// the program's fade has to do, with the program's own link, clock and window
// code: one datagram to the console, the wait for the next 10 ms deadline, two
// drains of the program's window's input queue and, unless told not to, one
// look at the socket without waiting. The bench (tools/bench.py) reads its CPU
// time from outside, as it reads the program's, and puts it beside the
// program's.
//
//   fade-floor [steps] [address] [port] [look|nolook]
//
// Defaults: 1000 steps to 127.0.0.3:10023, with the look at the socket (what
// a step costs with "Stop When Fader Is Moved" on). Send only to 127.0.0.0/8
// from the tests and the bench.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/clock.h"
#include "link/mixer_link.h"
#include "link/osc.h"
#include "ui/controls.h"

namespace {

constexpr std::int64_t kPeriod = 10000;  // us, as in the fade

}  // namespace

int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::atoi(argv[1]) : 1000;
  const char* address = argc > 2 ? argv[2] : "127.0.0.3";
  const int port = argc > 3 ? std::atoi(argv[3]) : 10023;
  const int look = argc > 4 ? std::strcmp(argv[4], "nolook") != 0 : 1;
  if (steps <= 0 || BuildMainWindow() == 0) return 1;
  // What showing the window queued (paint, activation) is taken now, so the
  // steps find the queue as a quiet fade does.
  for (int i = 0; i < 50; ++i) Drain();

  StartNetworking();
  MixerConnection link = OpenMixerLink(address, port);
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
