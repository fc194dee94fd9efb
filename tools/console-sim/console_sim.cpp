// console-sim: a stand-in for the X32 console on the loopback interface (see
// README.md). One thread: a poll() loop over the console socket, a second
// "foreign" socket, stdin and a signalfd, with timers for scheduled commands,
// the end of a fade and the overall timeout.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "fade_stats.h"
#include "sim_osc.h"

namespace {

using sim::Bytes;

constexpr int kExitOk = 0;
constexpr int kExitRuntimeError = 1;
constexpr int kExitUsage = 2;
constexpr size_t kMaxSubscribers = 64;
// Roughly how often the X32 reports a fader that a hand moves.
constexpr long kHandReportMs = 15;

const char kUsage[] =
    "usage: console-sim [options]\n"
    "\n"
    "A stand-in for the X32 console on the loopback interface (127.0.0.0/8 only).\n"
    "\n"
    "options:\n"
    "  --address A          address to listen on, loopback only (default 127.0.0.1)\n"
    "  --port P             UDP port (default 10023; 0 picks a free one). The first\n"
    "                       line on stdout is always \"console-sim listening on A:P\"\n"
    "  --xremote-seconds S  how long an /xremote subscription lasts (default 10)\n"
    "  --log FILE           write every datagram received and sent as a JSON line\n"
    "  --summary-json FILE  write each fade summary as a JSON line\n"
    "  --at MS:COMMAND      run a command below MS ms after the first /xremote, so a\n"
    "                       test can start its client late (repeatable)\n"
    "  --fade-gap MS        a fade ends after MS ms without fader messages (default 300)\n"
    "  --timeout SECONDS    exit after this long\n"
    "  --no-bar             no live level bar, even on a terminal\n"
    "  --no-xinfo           don't answer /xinfo (until the command \"xinfo on\")\n"
    "  --xinfo-address A    the network address /xinfo answers (default the --address)\n"
    "  --xinfo-name N       the network name /xinfo answers (default X32-SIM)\n"
    "  --xinfo-model M      the model /xinfo answers (default X32)\n"
    "  --xinfo-firmware V   the firmware version /xinfo answers (default 3.04)\n"
    "  --lose-in P          lose this fraction (0..1) of the datagrams that arrive, as if\n"
    "                       lost on the way: not acted on, logged with dir \"lost in\"\n"
    "  --lose-out P         lose this fraction of the datagrams it sends: not sent,\n"
    "                       logged with dir \"lost out\"\n"
    "  --seed N             seed of the losses, so that a run repeats (default 1)\n"
    "  --lose-fade-xremote  lose the first /xremote that arrives after each fade began\n"
    "\n"
    "commands (stdin, one a line, or from --at). F is main, 0 (main), 1..32, auxin1..8,\n"
    "fxrtn1..8, bus1..16, mtx1..6, mono or dca1..8. Reports go to every live subscriber:\n"
    "  touch F L        F's report (28 bytes, a DCA's 24) at L (0..1), and F is set to L\n"
    "  level F V        F's report at any float V (-0.1, 1.5, nan, inf ...); F keeps its level\n"
    "  nan F / inf F    short for level F nan / level F inf\n"
    "  short F          F's report at its level, cut to 27 bytes\n"
    "  typetag F [N]    F's address with type tag \",i\" and the integer N (default 1)\n"
    "  eq F [V]         \"/ch/NN/eq/1/g\" (\"/main/st/eq/1/g\") \",f\" V (default 0.5), 24 bytes\n"
    "  other F [V]      \"/ch/NN/mix/01/level\" (\"/main/st/mix/pan\") \",f\" V (default 0.5)\n"
    "  foreign [F [L]]  F's report (default main, at its level) from a second loopback port\n"
    "  raw HEX          these bytes, e.g. raw 2f 78 00 00\n"
    "  empty            a datagram of 0 bytes\n"
    "  big              2049 bytes: main's report, then zeros\n"
    "  hand F A B MS    F moved by a hand from A to B (0..1) over MS ms: a report about\n"
    "                   every 15 ms (MS/15 + 1 of them, at least 2), evenly spaced, the\n"
    "                   first at A, the last exactly B; F is set to each. A new hand on\n"
    "                   F drops the reports of the last one still to come\n"
    "  xinfo on|off     answer /xinfo, or don't\n"
    "  xinfo raw HEX    answer /xinfo with these bytes instead, until \"xinfo on\"\n"
    "  lose in P, lose out P, lose seed N, lose fade-xremote on|off\n"
    "                   what --lose-in, --lose-out, --seed and --lose-fade-xremote set\n"
    "  quit             exit\n"
    "\n"
    "Received fader messages (\",f\" to a fader address) set the level (clamped to 0..1,\n"
    "NaN ignored) and are echoed to the other live subscribers. A bare fader address\n"
    "is a query: the sender gets the report. /xinfo is answered, as the X32 does, with\n"
    "/xinfo \",ssss\": network address, network name, model, firmware. End of stdin does\n"
    "not stop the simulator.\n";

// The clock of the log, the summaries and the timers: microseconds since the
// simulator started.
const auto kStarted = std::chrono::steady_clock::now();

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - kStarted).count();
}

bool IsLoopback(const in_addr& address) {
  return (ntohl(address.s_addr) >> 24) == 127;
}

std::string AddressText(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

bool SamePeer(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

// The whole of `text` as a number from lo to hi, or NaN where `nan` allows it.
template <typename T>
bool Parse(const std::string& text, T lo, T hi, T* out, bool nan = false) {
  T value{};
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || stop != end || error != std::errc{}) return false;
  if (!(value >= lo && value <= hi) && !(nan && std::isnan(static_cast<double>(value)))) return false;
  *out = value;
  return true;
}

std::vector<std::string> SplitWords(const std::string& line) {
  std::istringstream words(line);
  return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

// A parsed command: what to send, if anything, or what to set.
struct Command {
  int fader = 0;
  float level = 0.0f;   // the fader's new level, for touch; where hand starts
  float to = 0.0f;      // hand: where it ends
  long ms = 0;          // hand: over how long
  Bytes bytes;          // the datagram; for xinfo raw, the answer
  std::string setting;  // xinfo: on, off or raw; lose: in, out, seed or fade-xremote
  double value = 0.0;   // lose: the fraction, the seed, or 1 for on and 0 for off
};

// Each command: how many words may follow it, and whether the first of them
// names a fader (main when it may be left out).
struct Verb {
  const char* name;
  size_t least, most;
  bool fader;
};

constexpr Verb kVerbs[] = {
    {"touch", 2, 2, true},   {"level", 2, 2, true},         {"nan", 1, 1, true},    {"inf", 1, 1, true},
    {"short", 1, 1, true},   {"typetag", 1, 2, true},       {"eq", 1, 2, true},     {"other", 1, 2, true},
    {"foreign", 0, 2, true}, {"raw", 0, SIZE_MAX, false},   {"empty", 0, 0, false}, {"big", 0, 0, false},
    {"hand", 4, 4, true},    {"xinfo", 1, SIZE_MAX, false}, {"lose", 2, 2, false},  {"quit", 0, 0, false},
};

struct Scheduled {
  long afterMs = 0;
  std::string command;
  bool done = false;
};

struct Options {
  std::string address = "127.0.0.1";
  double port = 10023;
  double xremoteSeconds = 10.0;
  std::string logPath;
  std::string summaryPath;
  std::vector<Scheduled> scheduled;
  double fadeGapMs = 300;
  double timeoutSeconds = 0.0;
  bool bar = true;
  // What /xinfo answers, and whether it does; "" for the address is --address.
  bool xinfo = true;
  std::string xinfoAddress, xinfoName = "X32-SIM", xinfoModel = "X32", xinfoFirmware = "3.04";
  double loseIn = 0.0, loseOut = 0.0;  // the fractions lost
  double seed = 1;
  bool loseFadeXremote = false;
};

// The options that take a number: the range of each, and whether it counts.
struct NumberOption {
  const char* flag;
  double Options::*field;
  double lo, hi;
  bool whole;
};

constexpr NumberOption kNumberOptions[] = {
    {"--port", &Options::port, 0, 65535, true},
    {"--xremote-seconds", &Options::xremoteSeconds, 0, 1e6, false},
    {"--fade-gap", &Options::fadeGapMs, 1, 3600000, true},
    {"--timeout", &Options::timeoutSeconds, 0, 1e6, false},
    {"--lose-in", &Options::loseIn, 0, 1, false},
    {"--lose-out", &Options::loseOut, 0, 1, false},
    {"--seed", &Options::seed, 0, UINT32_MAX, true},
};

struct TextOption {
  const char* flag;
  std::string Options::*field;
};

constexpr TextOption kTextOptions[] = {
    {"--address", &Options::address},
    {"--log", &Options::logPath},
    {"--summary-json", &Options::summaryPath},
    {"--xinfo-address", &Options::xinfoAddress},
    {"--xinfo-name", &Options::xinfoName},
    {"--xinfo-model", &Options::xinfoModel},
    {"--xinfo-firmware", &Options::xinfoFirmware},
};

// The options without a value, and the setting each gives.
struct FlagOption {
  const char* flag;
  bool Options::*field;
  bool value;
};

constexpr FlagOption kFlagOptions[] = {
    {"--no-bar", &Options::bar, false},
    {"--no-xinfo", &Options::xinfo, false},
    {"--lose-fade-xremote", &Options::loseFadeXremote, true},
};

struct Subscriber {
  sockaddr_in peer{};
  int64_t expiresUs = 0;
};

// A report of a hand's move still to be sent.
struct HandReport {
  int64_t atUs = 0;
  int fader = 0;
  float level = 0.0f;
  std::string command;
};

// One draw of `draws`: true for about `fraction` of them (all for 1, none for 0).
bool Lost(std::mt19937& draws, double fraction) {
  return static_cast<double>(draws()) < fraction * 4294967296.0;
}

// Says why on stderr and returns the exit code.
int Fail(int code, const std::string& why) {
  std::fprintf(stderr, "console-sim: %s\n", why.c_str());
  return code;
}

// A non-blocking UDP socket in *fd, bound to address:port; false with errno set
// on failure.
bool OpenSocket(const in_addr& address, int port, int* fd, int* boundPort) {
  sockaddr_in local{
      .sin_family = AF_INET, .sin_port = htons(static_cast<uint16_t>(port)), .sin_addr = address, .sin_zero = {}};
  socklen_t size = sizeof local;
  if ((*fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0)) < 0 ||
      bind(*fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      getsockname(*fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    return false;
  }
  *boundPort = ntohs(local.sin_port);
  return true;
}

// The simulator lives as long as its process, whose end closes its sockets and
// files; every line written to a file is flushed at once.
class ConsoleSim {
 public:
  explicit ConsoleSim(const Options& options) : options_(options) { SeedLosses(); }

  // Parses one command line into *command; returns why it can't, or "".
  std::string ParseCommand(const std::string& line, Command* command) const {
    const std::vector<std::string> w = SplitWords(line);
    const std::string verb = w.empty() ? "" : w[0];
    const Verb* rule =
        std::find_if(std::begin(kVerbs), std::end(kVerbs), [&](const Verb& v) { return verb == v.name; });
    auto fail = [&](const std::string& why) { return rule == std::end(kVerbs) ? why : verb + ": " + why; };
    if (w.empty()) return fail("empty command");
    if (rule == std::end(kVerbs)) return fail("unknown command \"" + verb + "\" (see --help)");
    if (w.size() - 1 < rule->least || w.size() - 1 > rule->most) return fail("wrong number of arguments (see --help)");
    int& fader = command->fader;
    if (rule->fader && (fader = w.size() > 1 ? sim::ParseFader(w[1]) : 0) < 0) {
      return fail("no fader \"" + w[1] + "\" (main, 0..32, bus16, dca1 ...)");
    }
    // The word after the fader, or after the command where there is none.
    const size_t valueAt = rule->fader ? 2 : 1;
    const std::string* word = w.size() > valueAt ? &w[valueAt] : nullptr;
    const std::string address = sim::FaderAddress(fader);
    Bytes& bytes = command->bytes;
    if (verb == "raw" || (verb == "xinfo" && w[1] == "raw")) {
      if (!sim::ParseHex(line.substr(line.find("raw") + 3), &bytes)) {
        return fail("give hex bytes, e.g. raw 2f 78 00 00");
      }
      if (bytes.size() > 65507) return fail("at most 65507 bytes");
      command->setting = "raw";
    } else if (verb == "xinfo") {
      if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return fail("give xinfo on, xinfo off or xinfo raw HEX");
      command->setting = w[1];
    } else if (verb == "lose") {
      const std::string &what = w[1], &value = w[2];
      bool ok = false;
      if (what == "in" || what == "out") ok = Parse(value, 0.0, 1.0, &command->value);
      if (what == "seed")
        ok = Parse(value, 0.0, double{UINT32_MAX}, &command->value) && std::floor(command->value) == command->value;
      if (what == "fade-xremote") {
        ok = value == "on" || value == "off";
        command->value = value == "on";
      }
      if (!ok) return fail("give lose in P, lose out P (P from 0 to 1), lose seed N or lose fade-xremote on|off");
      command->setting = what;
    } else if (verb == "big") {
      bytes = sim::EncodeFloatMessage(sim::FaderAddress(0), levels_[0]);
      bytes.resize(2049, 0);
    } else if (verb == "typetag") {
      long n = 1;
      if (word && !Parse<long>(*word, INT32_MIN, INT32_MAX, &n)) return fail("not an integer \"" + *word + "\"");
      bytes = sim::EncodeIntMessage(address, static_cast<int32_t>(n));
    } else if (rule->fader) {
      float value = verb == "nan"                     ? std::nanf("")
                    : verb == "inf"                   ? HUGE_VALF
                    : verb == "eq" || verb == "other" ? 0.5f
                                                      : levels_[fader];
      if (word && !Parse(*word, -HUGE_VALF, HUGE_VALF, &value, true)) return fail("not a number \"" + *word + "\"");
      if ((verb == "touch" || verb == "hand") && !(value >= 0.0f && value <= 1.0f)) {
        return fail("a fader stands between 0 and 1 (use level for other values)");
      }
      if (verb == "hand" && !(Parse(w[3], 0.0f, 1.0f, &command->to) && Parse(w[4], 1L, 600000L, &command->ms))) {
        return fail("give hand F FROM TO MS, the levels from 0 to 1 and 1 to 600000 ms");
      }
      command->level = value;
      bytes = sim::EncodeFloatMessage(verb == "eq" || verb == "other" ? OtherAddress(verb, fader) : address, value);
      if (verb == "short") bytes.pop_back();
    }
    return "";
  }

  int Run() {
    if (int failed = Open(); failed != kExitOk) return failed;
    PrintLine("console-sim listening on " + AddressText(bindAddress_) + ":" + std::to_string(port_));
    while (!quit_) {
      int64_t next = RunTimers(NowUs());
      if (quit_) break;
      int timeoutMs = next < 0 ? -1 : static_cast<int>((std::max<int64_t>(next - NowUs(), 0) + 999) / 1000);
      pollfd fds[4] = {{sock_, POLLIN, 0},
                       {foreignSock_, POLLIN, 0},
                       {signals_, POLLIN, 0},
                       {stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0}};
      int ready = poll(fds, 4, timeoutMs);
      if (ready < 0 && errno != EINTR) {
        exitCode_ = Fail(kExitRuntimeError, std::string("poll: ") + std::strerror(errno));
        break;
      }
      if (ready < 0) continue;           // EINTR
      if (fds[2].revents) quit_ = true;  // SIGINT or SIGTERM
      if (fds[0].revents) ReadSocket(sock_);
      if (fds[1].revents) ReadSocket(foreignSock_);
      if (fds[3].revents) ReadStdin();  // after POLLHUP, POLLERR or POLLNVAL, the read fails and says so
    }
    // The bar is only up while a fade runs, and ending the fade takes it down.
    if (!fade_.messages.empty()) FinishFade();
    return exitCode_;
  }

 private:
  // "eq" and "other": a parameter of F's strip other than its fader.
  static std::string OtherAddress(const std::string& verb, int fader) {
    if (fader == 0) return verb == "eq" ? "/main/st/eq/1/g" : "/main/st/mix/pan";
    return sim::Printf(verb == "eq" ? "/ch/%02d/eq/1/g" : "/ch/%02d/mix/01/level", fader);
  }

  // kExitOk, or the exit code that says why the simulator can't run.
  int Open() {
    if (inet_pton(AF_INET, options_.address.c_str(), &bindAddress_) != 1 || !IsLoopback(bindAddress_)) {
      return Fail(kExitUsage,
                  "refusing --address " + options_.address + ": only loopback addresses (127.0.0.0/8) are allowed");
    }
    if (!OpenSocket(bindAddress_, static_cast<int>(options_.port), &sock_, &port_)) {
      return Fail(kExitRuntimeError, sim::Printf("cannot listen on %s:%.0f: %s", options_.address.c_str(),
                                                 options_.port, std::strerror(errno)));
    }
    if (!OpenSocket(bindAddress_, 0, &foreignSock_, &foreignPort_)) {
      return Fail(kExitRuntimeError, std::string("cannot open the second socket: ") + std::strerror(errno));
    }
    for (auto [path, file] : {std::pair{options_.logPath, &log_}, std::pair{options_.summaryPath, &summaryFile_}}) {
      if (!path.empty()) *file = std::fopen(path.c_str(), "w");
      if (!path.empty() && *file == nullptr) {
        return Fail(kExitRuntimeError, "cannot write " + path + ": " + std::strerror(errno));
      }
    }
    // SIGINT and SIGTERM are read in the poll loop, so that an interrupted
    // run still prints its last fade.
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &quitSignals, nullptr);
    if ((signals_ = signalfd(-1, &quitSignals, SFD_NONBLOCK)) < 0) return kExitRuntimeError;
    signal(SIGPIPE, SIG_IGN);
    tty_ = options_.bar && isatty(STDOUT_FILENO);
    return kExitOk;
  }

  void ReadSocket(int fd) {
    static uint8_t buffer[65536];
    for (int k = 0; k < 256; ++k) {
      sockaddr_in peer{};
      socklen_t peerSize = sizeof peer;
      ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
      // EAGAIN: drained. Anything else (an ICMP error from an earlier send)
      // is consumed; the next poll tells whether more is waiting.
      if (n < 0) return;
      HandleDatagram(buffer, static_cast<size_t>(n), peer, fd, NowUs());
    }
  }

  void ReadStdin() {
    char chunk[4096];
    ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      stdinOpen_ = false;  // end of input, or none usable: keep running, stop reading
      return;
    }
    stdinBuffer_.append(chunk, static_cast<size_t>(n));
    for (size_t newline; !quit_ && (newline = stdinBuffer_.find('\n')) != std::string::npos;) {
      std::string line = stdinBuffer_.substr(0, newline);
      stdinBuffer_.erase(0, newline + 1);
      HandleLine(line);
    }
    if (stdinBuffer_.size() > 200000) stdinBuffer_.clear();  // no newline in sight: drop it
  }

  void HandleLine(const std::string& line) {
    std::vector<std::string> words = SplitWords(line);
    if (words.empty() || words[0][0] == '#') return;  // blank line or comment
    const std::string& verb = words[0];
    Command command;
    if (std::string error = ParseCommand(line, &command); !error.empty()) {
      PrintLine("console-sim: " + error);
    } else if (verb == "quit") {
      quit_ = true;
    } else if (verb == "xinfo") {
      // Said on stdout, so that a test knows from when it holds.
      options_.xinfo = command.setting != "off";
      xinfoBytes_ = command.setting == "raw" ? std::optional(command.bytes) : std::nullopt;
      PrintLine(!options_.xinfo ? "console-sim: /xinfo is not answered"
                : xinfoBytes_
                    ? sim::Printf("console-sim: /xinfo is answered with the %zu bytes given", xinfoBytes_->size())
                    : "console-sim: /xinfo is answered");
    } else if (verb == "lose") {
      const std::string& what = command.setting;
      if (what == "in") options_.loseIn = command.value;
      if (what == "out") options_.loseOut = command.value;
      if (what == "fade-xremote") options_.loseFadeXremote = command.value != 0.0;
      if (what == "seed") {
        options_.seed = command.value;
        SeedLosses();
      }
      PrintLine(sim::Printf("console-sim: losing %g of what arrives and %g of what is sent (seed %.0f)%s",
                            options_.loseIn, options_.loseOut, options_.seed,
                            options_.loseFadeXremote ? ", and the first /xremote of each fade" : ""));
    } else {
      if (verb == "touch" || verb == "hand") levels_[command.fader] = command.level;
      if (!Report(verb == "foreign" ? foreignSock_ : sock_, command.bytes, line)) {
        PrintLine("console-sim: no live subscriber (send /xremote first); \"" + line + "\" went nowhere");
      }
      if (verb == "hand") QueueHand(command, line);
    }
  }

  // Sends a report to every live subscriber; false when there is none.
  bool Report(int fd, const Bytes& data, const std::string& command) {
    if (SendToSubscribers(fd, data, command) == 0) return false;
    lastStimulusUs_ = NowUs();
    lastStimulus_ = command;
    return true;
  }

  // The reports of a hand after its first, which went out just now: evenly
  // spaced from now, so that none is closer to the first than its share of
  // the time. A hand on a fader takes it from the last one.
  void QueueHand(const Command& hand, const std::string& command) {
    const int64_t startUs = NowUs();
    const long steps = std::max(hand.ms / kHandReportMs, 1L);
    std::erase_if(handReports_, [&](const HandReport& r) { return r.fader == hand.fader; });
    for (long k = 1; k <= steps; ++k) {
      const float share = static_cast<float>(k) / static_cast<float>(steps);
      const float level = k == steps ? hand.to : hand.level + (hand.to - hand.level) * share;
      handReports_.push_back({startUs + k * hand.ms * 1000 / steps, hand.fader, level, command});
    }
    std::stable_sort(handReports_.begin(), handReports_.end(),
                     [](const HandReport& a, const HandReport& b) { return a.atUs < b.atUs; });
  }

  void SeedLosses() {
    std::seed_seq in{static_cast<uint32_t>(options_.seed), 1u}, out{static_cast<uint32_t>(options_.seed), 2u};
    lossIn_.seed(in);
    lossOut_.seed(out);
  }

  // What /xinfo is answered with.
  Bytes XinfoReply() const {
    const std::string& address = options_.xinfoAddress.empty() ? options_.address : options_.xinfoAddress;
    return xinfoBytes_ ? *xinfoBytes_
                       : sim::EncodeStringsMessage(
                             "/xinfo", {address, options_.xinfoName, options_.xinfoModel, options_.xinfoFirmware});
  }

  void HandleDatagram(const uint8_t* data, size_t length, const sockaddr_in& peer, int fd, int64_t nowUs) {
    sim::OscMessage m = sim::DecodeOsc(data, length);
    int fader = m.ok ? sim::FaderIndexOf(m.address) : -1;
    std::string action = !m.ok                             ? "malformed"
                         : fd != sock_                     ? "ignored (foreign socket)"
                         : m.address == "/xremote"         ? "subscribe"
                         : m.address == "/xinfo"           ? "xinfo"
                         : fader >= 0 && m.typeTag == ",f" ? "fader"
                         : fader >= 0 && m.typeTag.empty() ? "query"
                                                           : "ignored";
    // Every datagram draws, lost or not, so that a seed gives the same losses
    // whatever the settings.
    bool lost = Lost(lossIn_, options_.loseIn);
    if (action == "subscribe" && !fade_.messages.empty() && !fadeSubscribed_) {
      fadeSubscribed_ = true;
      lost = lost || options_.loseFadeXremote;
    }
    Log(nowUs, lost ? "lost in" : "in", fd, peer, data, length, action);
    if (lost) return;
    if (action == "subscribe") {
      Subscribe(peer, nowUs);
    } else if (action == "xinfo") {
      if (options_.xinfo) SendTo(sock_, peer, XinfoReply(), "xinfo reply");
    } else if (action == "fader") {
      ApplyFaderMessage(fader, m.args[0], peer, nowUs);
    } else if (action == "query") {
      SendTo(sock_, peer, sim::EncodeFloatMessage(m.address, levels_[fader]), "query reply");
    }
  }

  void Subscribe(const sockaddr_in& peer, int64_t nowUs) {
    if (firstXremoteUs_ < 0) firstXremoteUs_ = nowUs;
    // The expired go, and a renewal moves its peer to the end: when the list
    // is full, the first is the one that renewed longest ago.
    std::erase_if(subscribers_, [&](const Subscriber& s) { return s.expiresUs <= nowUs || SamePeer(s.peer, peer); });
    if (subscribers_.size() >= kMaxSubscribers) subscribers_.erase(subscribers_.begin());
    subscribers_.push_back(Subscriber{peer, nowUs + static_cast<int64_t>(options_.xremoteSeconds * 1e6)});
  }

  void ApplyFaderMessage(int fader, float value, const sockaddr_in& peer, int64_t nowUs) {
    // The console's faders stand between 0 and 1: clamp, and ignore NaN.
    if (!std::isnan(value)) levels_[fader] = std::clamp(value, 0.0f, 1.0f);
    if (!fade_.messages.empty() && fade_.fader != fader) FinishFade();
    if (fade_.messages.empty()) {
      fade_ = {fader, lastStimulusUs_, lastStimulus_, {}};
      lastStimulusUs_ = -1;
      fadeSubscribed_ = false;
    }
    fade_.messages.push_back({nowUs, value, ntohs(peer.sin_port)});
    // The console reports a change to every other client that subscribed.
    SendToSubscribers(sock_, sim::EncodeFloatMessage(sim::FaderAddress(fader), levels_[fader]), "echo", &peer);
    DrawBar();
  }

  // Sends data to every live subscriber except `except`; returns how many got it.
  int SendToSubscribers(int fd, const Bytes& data, const std::string& note, const sockaddr_in* except = nullptr) {
    int64_t nowUs = NowUs();
    int sent = 0;
    for (const Subscriber& s : subscribers_) {
      if (s.expiresUs > nowUs && !(except && SamePeer(s.peer, *except)) && SendTo(fd, s.peer, data, note)) ++sent;
    }
    return sent;
  }

  bool SendTo(int fd, const sockaddr_in& to, const Bytes& data, const std::string& note) {
    int64_t nowUs = NowUs();
    // The simulator talks to this machine only.
    if (to.sin_family != AF_INET || !IsLoopback(to.sin_addr)) {
      Log(nowUs, "refused", fd, to, data.data(), data.size(), note + ": not loopback");
      std::fprintf(stderr, "console-sim: refusing to send to %s: not a loopback address\n",
                   AddressText(to.sin_addr).c_str());
      return false;
    }
    if (Lost(lossOut_, options_.loseOut)) {
      Log(nowUs, "lost out", fd, to, data.data(), data.size(), note);
      return true;  // sent, as far as the simulator knows
    }
    if (sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
      Log(nowUs, "failed", fd, to, data.data(), data.size(), note + ": " + std::strerror(errno));
      return false;
    }
    Log(nowUs, "out", fd, to, data.data(), data.size(), note);
    return true;
  }

  // Runs what is due by nowUs; returns when the next timer is due, or -1.
  int64_t RunTimers(int64_t nowUs) {
    int64_t next = -1;
    auto due = [&](int64_t atUs) {
      if (atUs <= nowUs) return true;
      if (next < 0 || atUs < next) next = atUs;
      return false;
    };
    if (options_.timeoutSeconds > 0.0 && due(static_cast<int64_t>(options_.timeoutSeconds * 1e6))) {
      quit_ = true;
      return -1;
    }
    if (!fade_.messages.empty() && due(fade_.messages.back().us + static_cast<int64_t>(options_.fadeGapMs * 1000))) {
      FinishFade();
    }
    for (Scheduled& s : options_.scheduled) {
      if (quit_ || firstXremoteUs_ < 0 || s.done || !due(firstXremoteUs_ + s.afterMs * 1000)) continue;
      s.done = true;
      HandleLine(s.command);
    }
    while (!quit_ && !handReports_.empty() && due(handReports_.front().atUs)) {
      const HandReport r = handReports_.front();
      handReports_.erase(handReports_.begin());
      levels_[r.fader] = r.level;
      Report(sock_, sim::EncodeFloatMessage(sim::FaderAddress(r.fader), r.level), r.command);
    }
    return next;
  }

  void FinishFade() {
    sim::FadeSummary summary = sim::Summarise(fade_);
    fade_.messages.clear();
    PrintLine(sim::FormatSummaryText(summary));
    if (summaryFile_) {
      std::fputs((sim::FormatSummaryJson(summary) + "\n").c_str(), summaryFile_);
      std::fflush(summaryFile_);
    }
  }

  // On a terminal, the faded fader's level while the fade runs.
  void DrawBar() {
    if (!tty_) return;
    constexpr int kWidth = 40;
    float level = levels_[fade_.fader];
    auto filled = static_cast<size_t>(level * kWidth + 0.5f);
    std::printf("\r\x1b[K%s [%s%s] %.4f  %zu msgs", sim::FaderName(fade_.fader).c_str(),
                std::string(filled, '#').c_str(), std::string(kWidth - filled, '-').c_str(), static_cast<double>(level),
                fade_.messages.size());
    std::fflush(stdout);
  }

  void PrintLine(const std::string& line) {
    if (tty_) std::fputs("\r\x1b[K", stdout);  // takes the place of the bar, if one is drawn
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
  }

  void Log(int64_t nowUs, const char* direction, int fd, const sockaddr_in& peer, const uint8_t* data, size_t length,
           const std::string& action) {
    if (!log_) return;
    sim::OscMessage m = sim::DecodeOsc(data, length);
    const bool foreign = fd == foreignSock_;
    sim::Json line = {{"t_us", nowUs},
                      {"dir", direction},
                      {"socket", foreign ? "foreign" : "main"},
                      {"local_port", foreign ? foreignPort_ : port_},
                      {"peer", AddressText(peer.sin_addr)},
                      {"port", ntohs(peer.sin_port)},
                      {"len", length},
                      {"action", sim::JsonText(action)}};
    if (!m.address.empty() || m.ok) line["address"] = sim::JsonText(m.address);
    int fader = sim::FaderIndexOf(m.address);
    if (fader >= 0) line["fader"] = fader;
    if (!m.typeTag.empty()) line["typetag"] = sim::JsonText(m.typeTag);
    if (m.ok) {
      line["args"] = m.argsJson;
    } else {
      line["malformed"] = true;
      line["reason"] = m.reason;
    }
    // The level a fader-sized datagram carries at bytes 24..27, whatever it is:
    // what a reader that trusts the offset would take.
    if (length >= 28) {
      uint32_t bits = uint32_t{data[24]} << 24 | uint32_t{data[25]} << 16 | uint32_t{data[26]} << 8 | data[27];
      line["bytes24_27"] = sim::JsonNumber(std::bit_cast<float>(bits));
    }
    line["hex"] = sim::HexBytes(data, length);
    std::fputs((sim::JsonLine(line) + "\n").c_str(), log_);
    std::fflush(log_);
  }

  Options options_;
  std::vector<float> levels_ = std::vector<float>(sim::kFaderCount, 0.75f);  // where every fader starts
  int sock_ = -1;
  int foreignSock_ = -1;
  int signals_ = -1;
  int port_ = 0;
  int foreignPort_ = 0;
  in_addr bindAddress_{};
  FILE* log_ = nullptr;
  FILE* summaryFile_ = nullptr;
  bool stdinOpen_ = true;
  std::string stdinBuffer_;
  bool tty_ = false;
  bool quit_ = false;
  int exitCode_ = kExitOk;
  int64_t firstXremoteUs_ = -1;
  int64_t lastStimulusUs_ = -1;
  std::string lastStimulus_;
  std::vector<Subscriber> subscribers_;
  sim::Fade fade_;                       // the fade under way, if it has messages
  bool fadeSubscribed_ = false;          // an /xremote arrived since it began
  std::optional<Bytes> xinfoBytes_;      // what xinfo raw gave, while it holds
  std::vector<HandReport> handReports_;  // in the order they are due
  std::mt19937 lossIn_, lossOut_;        // the draws of what is lost, one series each way
};

int Usage(const std::string& error) {
  return Fail(kExitUsage, error + "\n(console-sim --help lists the options)");
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stdin would hand fd 0 to the first socket, which would then be read
  // as commands: put /dev/null there instead.
  if (fcntl(STDIN_FILENO, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  Options options;
  for (int k = 1; k < argc; ++k) {
    const std::string flag = argv[k];
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    auto named = [&](const auto& option) { return flag == option.flag; };
    auto set = std::find_if(std::begin(kFlagOptions), std::end(kFlagOptions), named);
    if (set != std::end(kFlagOptions)) {
      options.*(set->field) = set->value;
      continue;
    }
    if (k + 1 >= argc) return Usage(flag + " needs a value");
    const std::string value = argv[++k];
    auto number = std::find_if(std::begin(kNumberOptions), std::end(kNumberOptions), named);
    auto text = std::find_if(std::begin(kTextOptions), std::end(kTextOptions), named);
    if (number != std::end(kNumberOptions)) {
      double& field = options.*(number->field);
      if (!Parse(value, number->lo, number->hi, &field) || (number->whole && field != std::floor(field))) {
        return Usage("bad " + flag + " " + value);
      }
    } else if (text != std::end(kTextOptions)) {
      options.*(text->field) = value;
    } else if (flag == "--at") {
      size_t colon = value.find(':');
      Scheduled& at = options.scheduled.emplace_back(Scheduled{0, value.substr(colon + 1)});
      if (colon == std::string::npos || !Parse(value.substr(0, colon), 0L, 86400000L, &at.afterMs)) {
        return Usage("bad --at " + value + " (MS:COMMAND)");
      }
    } else {
      return Usage("unknown option " + flag);
    }
  }
  ConsoleSim console(options);
  // Scheduled commands are checked now, so a typo fails at once rather than
  // seconds into a test.
  for (const Scheduled& s : options.scheduled) {
    Command command;
    if (std::string error = console.ParseCommand(s.command, &command); !error.empty()) {
      return Usage("scheduled \"" + s.command + "\": " + error);
    }
  }
  return console.Run();
}
