// fade-floor: what one fade step costs at the least. Each step does only what
// the program's fade has to do, with the program's own link and clock code:
// one datagram to the console, the wait for the next 10 ms deadline, two
// looks at the window's input queue and, unless told not to, one look at the
// socket without waiting. It prints the CPU time per step, which the bench
// (tools/bench.py) puts beside the program's.
//
//   fade-floor [steps] [address] [port] [look|nolook]
//
// Defaults: 1000 steps to 127.0.0.3:10023, with the look at the socket (what
// a step costs with "Stop When Fader Is Moved" on). Send only to 127.0.0.0/8
// from the tests and the bench.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "floor.h"
#include "link/clock.h"
#include "link/osc.h"
#include "link/mixer_link.h"

namespace {

constexpr std::int64_t kPeriod = 10000;  // us, as in the fade

}  // namespace

int main(int argc, char** argv) {
  const int steps = argc > 1 ? std::atoi(argv[1]) : 1000;
  const char* address = argc > 2 ? argv[2] : "127.0.0.3";
  const int port = argc > 3 ? std::atoi(argv[3]) : 10023;
  const int look = argc > 4 ? std::strcmp(argv[4], "nolook") != 0 : 1;
  if (steps <= 0 || OpenFloorWindow() == 0) return 1;

  StartNetworking();
  MixerConnection link = OpenMixerLink(address, port);
  if (link == nullptr) return 1;
  // A real fader address and level, built once: building the message is the
  // program's own business, not part of the floor.
  unsigned char message[64];
  const int length = BuildOscMessage(message, sizeof message, "/ch/01/mix/fader", ",f", 0.5f);

  // Set-up (window, socket, first clock reading) stays out of the figure.
  std::int64_t due = ClockMicroseconds();
  const std::int64_t cpuBefore = ProcessCpuMicroseconds();
  const std::int64_t wallBefore = due;
  for (int step = 0; step < steps; ++step) {
    SendToMixer(link, message, length);
    due += kPeriod;
    SleepUntilMicroseconds(due);
    PeekFloorQueue();
    PeekFloorQueue();
    if (look) PollMixerLink(link);
  }
  const std::int64_t cpu = ProcessCpuMicroseconds() - cpuBefore;
  const std::int64_t wall = ClockMicroseconds() - wallBefore;

  CloseMixerLink(link);
  StopNetworking();
  CloseFloorWindow();
  std::printf("{\"steps\": %d, \"look\": %d, \"cpu_us_per_step\": %.2f, \"wall_us_per_step\": %.2f}\n", steps, look,
              static_cast<double>(cpu) / steps, static_cast<double>(wall) / steps);
  std::fflush(stdout);
  return 0;
}
