// console-sim: a stand-in for the X32 console on the loopback interface.
// It takes /xremote subscriptions, keeps the 80 fader levels, reports
// "touches" of faders to its subscribers, can send malformed or foreign
// datagrams on request, logs every datagram it receives or sends, and
// measures the pace of each fade that it receives.
//
// One thread: a poll() loop over the console socket, a second "foreign"
// socket, stdin and a signal pipe, with timers for scheduled commands, the
// end of a fade and the overall timeout.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fade_stats.h"
#include "sim_osc.h"

namespace {

using sim::Bytes;

constexpr int kExitOk = 0;
constexpr int kExitRuntimeError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitTimedOut = 3;
constexpr size_t kMaxDatagram = 65536;
constexpr size_t kMaxSubscribers = 64;

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
    "  --initial L          starting level of all 80 faders (default 0.75)\n"
    "  --log FILE           write every datagram received and sent as a JSON line\n"
    "  --summary-json FILE  write each fade summary as a JSON line\n"
    "  --touch F:L@MS       touch fader F at level L, MS ms after the first /xremote\n"
    "  --at MS:COMMAND      run any command below MS ms after the first /xremote\n"
    "                       (both repeatable; MS counts from the first /xremote the\n"
    "                       simulator receives, so a test can start its client late)\n"
    "  --fade-gap MS        a fade ends after MS ms without fader messages (default 300)\n"
    "  --exit-after-fades N exit after N completed fades\n"
    "  --timeout SECONDS    exit after this long; exit code 3 if --exit-after-fades\n"
    "                       was given and not reached\n"
    "  --no-bar             no live level bar even on a terminal\n"
    "  --verbose            report subscriptions and datagrams on stderr\n"
    "  --help               this text\n"
    "\n"
    "commands (stdin, one a line, or scheduled with --at). F is main, 0 (main), 1..32,\n"
    "auxin1..8, fxrtn1..8, bus1..16, mtx1..6, mono or dca1..8.\n"
    "Every report goes to every live subscriber:\n"
    "  touch F L        F's report (28 bytes, a DCA's 24) at L (0..1), and F is set to L\n"
    "  level F V        F's report at any float V (-0.1, 1.5, nan, inf ...); F keeps its level\n"
    "  nan F / inf F    short for level F nan / level F inf\n"
    "  short F          F's report at its level, cut to 27 bytes\n"
    "  typetag F [N]    F's address with type tag \",i\" and the integer N (default 1)\n"
    "  eq F [V]         another parameter: \"/ch/NN/eq/1/g\" (\"/main/st/eq/1/g\") \",f\" V,\n"
    "                   24 bytes (V default 0.5)\n"
    "  other F [V]      another parameter in 28 bytes: \"/ch/NN/mix/01/level\"\n"
    "                   (\"/main/st/mix/pan\") \",f\" V (default 0.5)\n"
    "  foreign [F [L]]  F's report (default main, at its level) from a second socket\n"
    "                   on another loopback port, so the source differs\n"
    "  raw HEX          these bytes, e.g. raw 2f 78 00 00\n"
    "  empty            a datagram of 0 bytes\n"
    "  big [N]          N bytes (default 2049): main's report, then zeros\n"
    "  status           print the fader levels and live subscribers\n"
    "  help             list the commands\n"
    "  quit             exit\n"
    "\n"
    "Received fader messages (\",f\" to a fader address) set the level (clamped to 0..1,\n"
    "NaN ignored) and are echoed to the other live subscribers. A bare fader address\n"
    "is a query: the sender gets the report. End of stdin does not stop the simulator.\n";

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  int saved = errno;
  char byte = 1;
  ssize_t ignored = write(g_signalPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

int64_t MonotonicUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool IsLoopback(const in_addr& address) {
  return (ntohl(address.s_addr) >> 24) == 127;
}

std::string AddressText(const in_addr& address) {
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

std::string PeerText(const sockaddr_in& peer) {
  return AddressText(peer.sin_addr);
}

bool ParseLong(const std::string& text, long lo, long hi, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != 0 || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// Any float strtof reads, including nan and inf.
bool ParseFloat(const std::string& text, float* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  float v = std::strtof(text.c_str(), &end);
  if (*end != 0) return false;
  *out = v;
  return true;
}

bool ParseSeconds(const std::string& text, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (*end != 0 || !(v >= 0.0) || v > 1e6) return false;
  *out = v;
  return true;
}

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  size_t k = 0;
  while (k < line.size()) {
    while (k < line.size() && (line[k] == ' ' || line[k] == '\t' || line[k] == '\r')) ++k;
    size_t start = k;
    while (k < line.size() && line[k] != ' ' && line[k] != '\t' && line[k] != '\r') ++k;
    if (k > start) words.push_back(line.substr(start, k - start));
  }
  return words;
}

// A parsed command: what to send (if anything) and how to describe it.
struct Command {
  enum Kind { kSend, kTouch, kStatus, kHelp, kQuit } kind = kSend;
  int fader = 0;
  float level = 0.0f;  // kTouch
  bool fromForeign = false;
  Bytes bytes;       // kSend and kTouch: the datagram
  std::string text;  // the command line, for logs and summaries
};

struct Scheduled {
  long afterMs = 0;
  std::string command;
  bool done = false;
};

struct Options {
  std::string address = "127.0.0.1";
  long port = 10023;
  double xremoteSeconds = 10.0;
  float initial = 0.75f;
  std::string logPath;
  std::string summaryPath;
  std::vector<Scheduled> scheduled;
  long fadeGapMs = 300;
  long exitAfterFades = 0;
  double timeoutSeconds = 0.0;
  bool bar = true;
  bool verbose = false;
};

struct Subscriber {
  sockaddr_in peer{};
  int64_t expiresUs = 0;
};

// Opens PATH for writing into *FILE, saying why on stderr when it can't; an
// empty PATH asks for no file.
bool OpenForWriting(const std::string& path, FILE** file) {
  if (path.empty()) return true;
  *file = std::fopen(path.c_str(), "w");
  if (*file == nullptr) std::fprintf(stderr, "console-sim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
  return *file != nullptr;
}

class ConsoleSim {
 public:
  explicit ConsoleSim(const Options& options) : options_(options) {
    for (float& level : levels_) level = options.initial;
  }
  ~ConsoleSim();

  // Parses one command line. On failure returns false and sets *error.
  bool ParseCommand(const std::string& line, Command* command, std::string* error) const;
  int Run();

 private:
  bool Open();
  int OpenSocket(const in_addr& address, int port, int* boundPort);
  void HandleSignalPipe();
  void ReadSocket(int fd);
  void ReadStdin();
  void HandleLine(const std::string& line);
  void Execute(const Command& command);
  void HandleDatagram(const uint8_t* data, size_t length, const sockaddr_in& peer, int fd, int64_t nowUs);
  void Subscribe(const sockaddr_in& peer, int64_t nowUs);
  void ApplyFaderMessage(int fader, float value, const sockaddr_in& peer, int64_t nowUs);
  // Sends data to every live subscriber except `except`; returns how many got it.
  int SendToSubscribers(int fd, const Bytes& data, const std::string& note, const sockaddr_in* except);
  bool SendTo(int fd, const sockaddr_in& to, const Bytes& data, const std::string& note);
  void RunTimers(int64_t nowUs);
  int64_t NextTimerUs() const;
  void FinishFade();
  void DrawBar();
  void ClearBar();
  void PrintLine(const std::string& line);
  void PrintStatus(int64_t nowUs);
  void Log(int64_t nowUs, const char* direction, int fd, const sockaddr_in& peer, const uint8_t* data, size_t length,
           const std::string& action);
  const char* SocketName(int fd) const { return fd == foreignSock_ ? "foreign" : "main"; }
  int LocalPort(int fd) const { return fd == foreignSock_ ? foreignPort_ : port_; }
  int64_t Elapsed(int64_t nowUs) const { return nowUs - startUs_; }

  Options options_;
  float levels_[sim::kFaderCount];
  int sock_ = -1;
  int foreignSock_ = -1;
  int port_ = 0;
  int foreignPort_ = 0;
  in_addr bindAddress_{};
  FILE* log_ = nullptr;
  FILE* summaryFile_ = nullptr;
  bool stdinOpen_ = true;
  std::string stdinBuffer_;
  bool tty_ = false;
  bool barShown_ = false;
  bool quit_ = false;
  int exitCode_ = kExitOk;
  int64_t startUs_ = 0;
  int64_t firstXremoteUs_ = -1;
  int64_t lastStimulusUs_ = -1;
  std::string lastStimulus_;
  long fadesDone_ = 0;
  std::vector<Subscriber> subscribers_;
  sim::FadeRun run_;
  std::vector<uint8_t> receiveBuffer_ = std::vector<uint8_t>(kMaxDatagram);
};

ConsoleSim::~ConsoleSim() {
  if (sock_ >= 0) close(sock_);
  if (foreignSock_ >= 0) close(foreignSock_);
  if (log_) std::fclose(log_);
  if (summaryFile_) std::fclose(summaryFile_);
}

bool ConsoleSim::ParseCommand(const std::string& line, Command* command, std::string* error) const {
  std::vector<std::string> w = SplitWords(line);
  *command = Command{};
  command->text = line;
  if (w.empty()) {
    *error = "empty command";
    return false;
  }
  const std::string& verb = w[0];
  auto fader = [&](size_t index, int fallback, int* out) {
    if (index >= w.size()) {
      if (fallback < 0) {
        *error = verb + ": which fader? (main, 0..32, bus16, dca1 ...)";
        return false;
      }
      *out = fallback;
      return true;
    }
    *out = sim::ParseFader(w[index]);
    if (*out < 0) {
      *error = verb + ": no fader \"" + w[index] + "\" (main, 0..32, bus16, dca1 ...)";
      return false;
    }
    return true;
  };
  auto value = [&](size_t index, float fallback, float* out) {
    if (index >= w.size()) {
      *out = fallback;
      return true;
    }
    if (!ParseFloat(w[index], out)) {
      *error = verb + ": not a number \"" + w[index] + "\"";
      return false;
    }
    return true;
  };
  auto arity = [&](size_t least, size_t most) {
    if (w.size() - 1 < least || w.size() - 1 > most) {
      *error = verb + ": wrong number of arguments (see help)";
      return false;
    }
    return true;
  };

  if (verb == "touch") {
    if (!arity(2, 2) || !fader(1, -1, &command->fader) || !value(2, 0.0f, &command->level)) {
      return false;
    }
    if (!(command->level >= 0.0f && command->level <= 1.0f)) {
      *error = "touch: a fader stands between 0 and 1 (use level for other values)";
      return false;
    }
    command->kind = Command::kTouch;
    command->bytes = sim::EncodeFloatMessage(sim::FaderAddress(command->fader), command->level);
    return true;
  }
  if (verb == "level" || verb == "nan" || verb == "inf") {
    float v = verb == "nan" ? std::nanf("") : HUGE_VALF;
    if (verb == "level" ? !arity(2, 2) : !arity(1, 1)) return false;
    if (!fader(1, -1, &command->fader)) return false;
    if (verb == "level" && !value(2, 0.0f, &v)) return false;
    command->bytes = sim::EncodeFloatMessage(sim::FaderAddress(command->fader), v);
    return true;
  }
  if (verb == "short") {
    if (!arity(1, 1) || !fader(1, -1, &command->fader)) return false;
    command->bytes = sim::EncodeFloatMessage(sim::FaderAddress(command->fader), levels_[command->fader]);
    command->bytes.pop_back();
    return true;
  }
  if (verb == "typetag") {
    long n = 1;
    if (!arity(1, 2) || !fader(1, -1, &command->fader)) return false;
    if (w.size() > 2 && !ParseLong(w[2], INT32_MIN, INT32_MAX, &n)) {
      *error = "typetag: not an integer \"" + w[2] + "\"";
      return false;
    }
    command->bytes = sim::EncodeIntMessage(sim::FaderAddress(command->fader), static_cast<int32_t>(n));
    return true;
  }
  if (verb == "eq" || verb == "other") {
    float v = 0.5f;
    if (!arity(1, 2) || !fader(1, -1, &command->fader) || !value(2, 0.5f, &v)) return false;
    std::string address;
    if (command->fader == 0) {
      address = verb == "eq" ? "/main/st/eq/1/g" : "/main/st/mix/pan";
    } else {
      char text[32];
      std::snprintf(text, sizeof text, verb == "eq" ? "/ch/%02d/eq/1/g" : "/ch/%02d/mix/01/level", command->fader);
      address = text;
    }
    command->bytes = sim::EncodeFloatMessage(address, v);
    return true;
  }
  if (verb == "foreign") {
    if (!arity(0, 2) || !fader(1, 0, &command->fader)) return false;
    float v = levels_[command->fader];
    if (!value(2, v, &v)) return false;
    command->fromForeign = true;
    command->bytes = sim::EncodeFloatMessage(sim::FaderAddress(command->fader), v);
    return true;
  }
  if (verb == "raw") {
    std::string hex = line.substr(line.find("raw") + 3);
    if (!sim::ParseHex(hex, &command->bytes)) {
      *error = "raw: give hex bytes, e.g. raw 2f 78 00 00";
      return false;
    }
    if (command->bytes.size() > 65507) {
      *error = "raw: at most 65507 bytes";
      return false;
    }
    return true;
  }
  if (verb == "empty") {
    return arity(0, 0);
  }
  if (verb == "big") {
    long n = 2049;
    if (!arity(0, 1)) return false;
    if (w.size() > 1 && !ParseLong(w[1], 28, 65507, &n)) {
      *error = "big: a size from 28 to 65507";
      return false;
    }
    command->bytes = sim::EncodeFloatMessage(sim::FaderAddress(0), levels_[0]);
    command->bytes.resize(static_cast<size_t>(n), 0);
    return true;
  }
  if (verb == "status" || verb == "help" || verb == "quit") {
    if (!arity(0, 0)) return false;
    command->kind = verb == "status" ? Command::kStatus : verb == "help" ? Command::kHelp : Command::kQuit;
    return true;
  }
  *error = "unknown command \"" + verb + "\" (try help)";
  return false;
}

int ConsoleSim::OpenSocket(const in_addr& address, int port, int* boundPort) {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return -1;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr = address;
  local.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t size = sizeof local;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  *boundPort = ntohs(local.sin_port);
  return fd;
}

bool ConsoleSim::Open() {
  std::string address = options_.address == "localhost" ? "127.0.0.1" : options_.address;
  if (inet_pton(AF_INET, address.c_str(), &bindAddress_) != 1) {
    std::fprintf(stderr, "console-sim: --address %s is not an IPv4 address\n", options_.address.c_str());
    exitCode_ = kExitUsage;
    return false;
  }
  if (!IsLoopback(bindAddress_)) {
    std::fprintf(stderr,
                 "console-sim: refusing --address %s: only loopback addresses "
                 "(127.0.0.0/8) are allowed\n",
                 options_.address.c_str());
    exitCode_ = kExitUsage;
    return false;
  }
  sock_ = OpenSocket(bindAddress_, static_cast<int>(options_.port), &port_);
  if (sock_ < 0) {
    std::fprintf(stderr, "console-sim: cannot listen on %s:%ld: %s\n", address.c_str(), options_.port,
                 std::strerror(errno));
    exitCode_ = kExitRuntimeError;
    return false;
  }
  foreignSock_ = OpenSocket(bindAddress_, 0, &foreignPort_);
  if (foreignSock_ < 0) {
    std::fprintf(stderr, "console-sim: cannot open the second socket: %s\n", std::strerror(errno));
    exitCode_ = kExitRuntimeError;
    return false;
  }
  if (!OpenForWriting(options_.logPath, &log_) || !OpenForWriting(options_.summaryPath, &summaryFile_)) {
    exitCode_ = kExitRuntimeError;
    return false;
  }
  if (pipe(g_signalPipe) != 0) {
    exitCode_ = kExitRuntimeError;
    return false;
  }
  fcntl(g_signalPipe[0], F_SETFL, O_NONBLOCK);
  fcntl(g_signalPipe[1], F_SETFL, O_NONBLOCK);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  tty_ = options_.bar && isatty(STDOUT_FILENO);
  return true;
}

int ConsoleSim::Run() {
  startUs_ = MonotonicUs();
  if (!Open()) return exitCode_;
  PrintLine("console-sim listening on " + AddressText(bindAddress_) + ":" + std::to_string(port_));
  if (options_.verbose) {
    std::fprintf(stderr, "console-sim: foreign datagrams come from port %d\n", foreignPort_);
  }

  while (!quit_) {
    RunTimers(MonotonicUs());
    if (quit_) break;
    int timeoutMs = -1;
    int64_t next = NextTimerUs();
    if (next >= 0) {
      int64_t waitUs = next - MonotonicUs();
      timeoutMs = waitUs <= 0 ? 0 : static_cast<int>((waitUs + 999) / 1000);
    }
    pollfd fds[4] = {{sock_, POLLIN, 0},
                     {foreignSock_, POLLIN, 0},
                     {g_signalPipe[0], POLLIN, 0},
                     {stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0}};
    int ready = poll(fds, 4, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "console-sim: poll: %s\n", std::strerror(errno));
      exitCode_ = kExitRuntimeError;
      break;
    }
    if (fds[2].revents) HandleSignalPipe();
    if (fds[0].revents) ReadSocket(sock_);
    if (fds[1].revents) ReadSocket(foreignSock_);
    if (fds[3].revents & (POLLIN | POLLHUP)) {
      ReadStdin();
    } else if (fds[3].revents) {
      stdinOpen_ = false;  // POLLNVAL or POLLERR: no usable stdin
    }
  }
  if (run_.Active()) FinishFade();
  ClearBar();
  std::fflush(stdout);
  return exitCode_;
}

void ConsoleSim::HandleSignalPipe() {
  char bytes[16];
  while (read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
  }
  quit_ = true;
}

void ConsoleSim::ReadSocket(int fd) {
  for (int k = 0; k < 256; ++k) {
    sockaddr_in peer{};
    socklen_t peerSize = sizeof peer;
    ssize_t n =
        recvfrom(fd, receiveBuffer_.data(), receiveBuffer_.size(), 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
    if (n < 0) {
      // EAGAIN: drained. Anything else (an ICMP error from an earlier send)
      // is consumed; the next poll tells whether more is waiting.
      return;
    }
    HandleDatagram(receiveBuffer_.data(), static_cast<size_t>(n), peer, fd, MonotonicUs());
  }
}

void ConsoleSim::ReadStdin() {
  char chunk[4096];
  ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
  if (n <= 0) {
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    stdinOpen_ = false;  // end of input: keep running, stop reading
    return;
  }
  stdinBuffer_.append(chunk, static_cast<size_t>(n));
  size_t newline;
  while ((newline = stdinBuffer_.find('\n')) != std::string::npos) {
    std::string line = stdinBuffer_.substr(0, newline);
    stdinBuffer_.erase(0, newline + 1);
    HandleLine(line);
    if (quit_) return;
  }
  if (stdinBuffer_.size() > 200000) stdinBuffer_.clear();  // no newline in sight: drop it
}

void ConsoleSim::HandleLine(const std::string& line) {
  std::vector<std::string> words = SplitWords(line);
  if (words.empty() || words[0][0] == '#') return;  // blank line or comment
  Command command;
  std::string error;
  if (!ParseCommand(line, &command, &error)) {
    PrintLine("console-sim: " + error);
    return;
  }
  Execute(command);
}

void ConsoleSim::Execute(const Command& command) {
  int64_t nowUs = MonotonicUs();
  switch (command.kind) {
    case Command::kQuit:
      quit_ = true;
      return;
    case Command::kHelp:
      ClearBar();
      std::fputs(std::strstr(kUsage, "commands (stdin"), stdout);
      std::fflush(stdout);
      return;
    case Command::kStatus:
      PrintStatus(nowUs);
      return;
    case Command::kTouch:
      levels_[command.fader] = command.level;
      break;
    case Command::kSend:
      break;
  }
  int fd = command.fromForeign ? foreignSock_ : sock_;
  int sent = SendToSubscribers(fd, command.bytes, command.text, nullptr);
  if (sent == 0) {
    PrintLine("console-sim: no live subscriber (send /xremote first); \"" + command.text + "\" went nowhere");
    return;
  }
  lastStimulusUs_ = MonotonicUs();
  lastStimulus_ = command.text;
}

void ConsoleSim::HandleDatagram(const uint8_t* data, size_t length, const sockaddr_in& peer, int fd, int64_t nowUs) {
  sim::OscMessage m = sim::DecodeOsc(data, length);
  std::string action = "ignored";
  int fader = m.ok ? sim::FaderIndexOf(m.address) : -1;
  if (!m.ok) {
    action = "malformed";
  } else if (fd != sock_) {
    action = "ignored (foreign socket)";
  } else if (m.address == "/xremote") {
    action = "subscribe";
  } else if (fader >= 0 && m.typeTag == ",f") {
    action = "fader";
  } else if (fader >= 0 && !m.hasTypeTag) {
    action = "query";
  }
  Log(nowUs, "in", fd, peer, data, length, action);
  if (options_.verbose) {
    std::fprintf(stderr, "console-sim: in %s:%d %zu bytes %s %s\n", PeerText(peer).c_str(), ntohs(peer.sin_port),
                 length, m.address.c_str(), action.c_str());
  }
  if (action == "subscribe") {
    Subscribe(peer, nowUs);
  } else if (action == "fader") {
    ApplyFaderMessage(fader, m.args[0].f, peer, nowUs);
  } else if (action == "query") {
    SendTo(sock_, peer, sim::EncodeFloatMessage(m.address, levels_[fader]), "query reply");
  }
}

void ConsoleSim::Subscribe(const sockaddr_in& peer, int64_t nowUs) {
  if (firstXremoteUs_ < 0) firstXremoteUs_ = nowUs;
  int64_t expires = nowUs + static_cast<int64_t>(options_.xremoteSeconds * 1e6);
  for (Subscriber& s : subscribers_) {
    if (s.peer.sin_addr.s_addr == peer.sin_addr.s_addr && s.peer.sin_port == peer.sin_port) {
      s.expiresUs = expires;
      return;
    }
  }
  // Forget expired subscribers before adding one.
  std::erase_if(subscribers_, [nowUs](const Subscriber& s) { return s.expiresUs <= nowUs; });
  if (subscribers_.size() >= kMaxSubscribers) subscribers_.erase(subscribers_.begin());
  subscribers_.push_back(Subscriber{peer, expires});
  if (options_.verbose) {
    std::fprintf(stderr, "console-sim: subscriber %s:%d\n", PeerText(peer).c_str(), ntohs(peer.sin_port));
  }
}

void ConsoleSim::ApplyFaderMessage(int fader, float value, const sockaddr_in& peer, int64_t nowUs) {
  // The console's faders stand between 0 and 1: clamp, and ignore NaN.
  if (!std::isnan(value)) levels_[fader] = value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
  int port = ntohs(peer.sin_port);
  if (run_.Active() && run_.Fader() != fader) FinishFade();
  if (run_.Active()) {
    run_.Add(nowUs, value, port);
  } else {
    run_.Begin(fader, nowUs, value, port, lastStimulusUs_, lastStimulus_);
    lastStimulusUs_ = -1;
  }
  // The console reports a change to every other client that subscribed.
  SendToSubscribers(sock_, sim::EncodeFloatMessage(sim::FaderAddress(fader), levels_[fader]), "echo", &peer);
  DrawBar();
}

int ConsoleSim::SendToSubscribers(int fd, const Bytes& data, const std::string& note, const sockaddr_in* except) {
  int64_t nowUs = MonotonicUs();
  int sent = 0;
  for (const Subscriber& s : subscribers_) {
    if (s.expiresUs <= nowUs) continue;
    if (except && s.peer.sin_addr.s_addr == except->sin_addr.s_addr && s.peer.sin_port == except->sin_port) {
      continue;
    }
    if (SendTo(fd, s.peer, data, note)) ++sent;
  }
  return sent;
}

bool ConsoleSim::SendTo(int fd, const sockaddr_in& to, const Bytes& data, const std::string& note) {
  int64_t nowUs = MonotonicUs();
  // The simulator talks to this machine only.
  if (to.sin_family != AF_INET || !IsLoopback(to.sin_addr)) {
    Log(nowUs, "refused", fd, to, data.data(), data.size(), note + ": not loopback");
    std::fprintf(stderr, "console-sim: refusing to send to %s: not a loopback address\n", PeerText(to).c_str());
    return false;
  }
  ssize_t n = sendto(fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (n < 0) {
    Log(nowUs, "failed", fd, to, data.data(), data.size(), note + ": " + std::strerror(errno));
    return false;
  }
  Log(nowUs, "out", fd, to, data.data(), data.size(), note);
  return true;
}

void ConsoleSim::RunTimers(int64_t nowUs) {
  if (options_.timeoutSeconds > 0.0 && Elapsed(nowUs) >= static_cast<int64_t>(options_.timeoutSeconds * 1e6)) {
    quit_ = true;
    if (options_.exitAfterFades > 0 && fadesDone_ < options_.exitAfterFades) {
      std::fprintf(stderr, "console-sim: timed out after %ld of %ld fades\n", fadesDone_, options_.exitAfterFades);
      exitCode_ = kExitTimedOut;
    }
    return;
  }
  if (run_.Active() && nowUs - run_.LastUs() >= options_.fadeGapMs * 1000) FinishFade();
  if (quit_) return;
  if (firstXremoteUs_ >= 0) {
    for (Scheduled& s : options_.scheduled) {
      if (s.done || nowUs < firstXremoteUs_ + s.afterMs * 1000) continue;
      s.done = true;
      HandleLine(s.command);
      if (quit_) return;
    }
  }
}

int64_t ConsoleSim::NextTimerUs() const {
  int64_t next = -1;
  auto consider = [&next](int64_t t) {
    if (next < 0 || t < next) next = t;
  };
  if (options_.timeoutSeconds > 0.0) {
    consider(startUs_ + static_cast<int64_t>(options_.timeoutSeconds * 1e6));
  }
  if (run_.Active()) consider(run_.LastUs() + options_.fadeGapMs * 1000);
  if (firstXremoteUs_ >= 0) {
    for (const Scheduled& s : options_.scheduled) {
      if (!s.done) consider(firstXremoteUs_ + s.afterMs * 1000);
    }
  }
  return next;
}

void ConsoleSim::FinishFade() {
  sim::FadeSummary summary = run_.Finish();
  summary.startUs -= startUs_;
  summary.endUs -= startUs_;
  PrintLine(sim::FormatSummaryText(summary));
  if (summaryFile_) {
    std::fputs((sim::FormatSummaryJson(summary) + "\n").c_str(), summaryFile_);
    std::fflush(summaryFile_);
  }
  ++fadesDone_;
  if (options_.exitAfterFades > 0 && fadesDone_ >= options_.exitAfterFades) quit_ = true;
}

void ConsoleSim::DrawBar() {
  if (!tty_ || !run_.Active()) return;
  constexpr int kWidth = 40;
  float level = levels_[run_.Fader()];
  int filled = static_cast<int>(level * kWidth + 0.5f);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '-');
  std::printf("\r\x1b[K%s [%s] %.4f  %d msgs", sim::FaderName(run_.Fader()).c_str(), bar.c_str(),
              static_cast<double>(level), run_.Count());
  std::fflush(stdout);
  barShown_ = true;
}

void ConsoleSim::ClearBar() {
  if (!barShown_) return;
  std::fputs("\r\x1b[K", stdout);
  barShown_ = false;
}

void ConsoleSim::PrintLine(const std::string& line) {
  ClearBar();
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void ConsoleSim::PrintStatus(int64_t nowUs) {
  std::string text = "levels:";
  for (int k = 0; k < sim::kFaderCount; ++k) {
    char item[32];
    std::snprintf(item, sizeof item, "%s %s=%.4f", k % 8 == 1 ? "\n " : "", sim::FaderName(k).c_str(),
                  static_cast<double>(levels_[k]));
    text += item;
  }
  text += "\nsubscribers:";
  int live = 0;
  for (const Subscriber& s : subscribers_) {
    if (s.expiresUs <= nowUs) continue;
    char item[96];
    std::snprintf(item, sizeof item, " %s:%d (%.1f s left)", PeerText(s.peer).c_str(), ntohs(s.peer.sin_port),
                  static_cast<double>(s.expiresUs - nowUs) / 1e6);
    text += item;
    ++live;
  }
  if (live == 0) text += " none";
  char tail[64];
  std::snprintf(tail, sizeof tail, "\nfades completed: %ld", fadesDone_);
  PrintLine(text + tail);
}

void ConsoleSim::Log(int64_t nowUs, const char* direction, int fd, const sockaddr_in& peer, const uint8_t* data,
                     size_t length, const std::string& action) {
  if (!log_) return;
  sim::OscMessage m = sim::DecodeOsc(data, length);
  std::string line = "{\"t_us\":" + std::to_string(Elapsed(nowUs)) + ",\"dir\":\"" + direction + "\",\"socket\":\"" +
                     SocketName(fd) + "\",\"local_port\":" + std::to_string(LocalPort(fd)) +
                     ",\"peer\":" + sim::JsonString(PeerText(peer)) +
                     ",\"port\":" + std::to_string(ntohs(peer.sin_port)) + ",\"len\":" + std::to_string(length) +
                     ",\"action\":" + sim::JsonString(action);
  if (!m.address.empty() || m.ok) line += ",\"address\":" + sim::JsonString(m.address);
  int fader = sim::FaderIndexOf(m.address);
  if (fader >= 0) line += ",\"fader\":" + std::to_string(fader);
  if (m.hasTypeTag) line += ",\"typetag\":" + sim::JsonString(m.typeTag);
  if (m.ok) {
    line += ",\"args\":" + sim::ArgsJson(m);
  } else {
    line += ",\"malformed\":true,\"reason\":" + sim::JsonString(m.reason);
  }
  // The level a fader-sized datagram carries at bytes 24..27, whatever it is:
  // what a reader that trusts the offset would take.
  if (length >= 28) {
    uint32_t bits =
        (uint32_t{data[24]} << 24) | (uint32_t{data[25]} << 16) | (uint32_t{data[26]} << 8) | uint32_t{data[27]};
    line += ",\"bytes24_27\":" + sim::JsonNumber(sim::FloatFromBits(bits));
  }
  line += ",\"hex\":\"" + sim::HexBytes(data, length) + "\"}\n";
  std::fputs(line.c_str(), log_);
  std::fflush(log_);
}

// "F:L@MS" -> after MS ms: "touch F L".
bool ParseTouchFlag(const std::string& text, Scheduled* out) {
  size_t colon = text.find(':');
  size_t at = text.find('@');
  if (colon == std::string::npos || at == std::string::npos || at < colon) return false;
  if (!ParseLong(text.substr(at + 1), 0, 86400000, &out->afterMs)) return false;
  out->command = "touch " + text.substr(0, colon) + " " + text.substr(colon + 1, at - colon - 1);
  return true;
}

// "MS:COMMAND".
bool ParseAtFlag(const std::string& text, Scheduled* out) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  if (!ParseLong(text.substr(0, colon), 0, 86400000, &out->afterMs)) return false;
  out->command = text.substr(colon + 1);
  return true;
}

int Usage(const std::string& error) {
  std::fprintf(stderr, "console-sim: %s\n(console-sim --help lists the options)\n", error.c_str());
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed stdin would hand fd 0 to the first socket, which would then be read
  // as commands: put /dev/null there instead.
  if (fcntl(STDIN_FILENO, F_GETFD) < 0) open("/dev/null", O_RDONLY);
  Options options;
  for (int k = 1; k < argc; ++k) {
    std::string flag = argv[k];
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (flag == "--no-bar") {
      options.bar = false;
      continue;
    }
    if (flag == "--verbose") {
      options.verbose = true;
      continue;
    }
    if (k + 1 >= argc) return Usage(flag + " needs a value");
    std::string value = argv[++k];
    Scheduled scheduled;
    if (flag == "--address") {
      options.address = value;
    } else if (flag == "--port") {
      if (!ParseLong(value, 0, 65535, &options.port)) return Usage("bad --port " + value);
    } else if (flag == "--xremote-seconds") {
      if (!ParseSeconds(value, &options.xremoteSeconds)) {
        return Usage("bad --xremote-seconds " + value);
      }
    } else if (flag == "--initial") {
      if (!ParseFloat(value, &options.initial) || !(options.initial >= 0.0f && options.initial <= 1.0f)) {
        return Usage("bad --initial " + value + " (0..1)");
      }
    } else if (flag == "--log") {
      options.logPath = value;
    } else if (flag == "--summary-json") {
      options.summaryPath = value;
    } else if (flag == "--touch") {
      if (!ParseTouchFlag(value, &scheduled)) return Usage("bad --touch " + value + " (F:L@MS)");
      options.scheduled.push_back(scheduled);
    } else if (flag == "--at") {
      if (!ParseAtFlag(value, &scheduled)) return Usage("bad --at " + value + " (MS:COMMAND)");
      options.scheduled.push_back(scheduled);
    } else if (flag == "--fade-gap") {
      if (!ParseLong(value, 1, 3600000, &options.fadeGapMs)) return Usage("bad --fade-gap " + value);
    } else if (flag == "--exit-after-fades") {
      if (!ParseLong(value, 0, 1000000, &options.exitAfterFades)) {
        return Usage("bad --exit-after-fades " + value);
      }
    } else if (flag == "--timeout") {
      if (!ParseSeconds(value, &options.timeoutSeconds)) return Usage("bad --timeout " + value);
    } else {
      return Usage("unknown option " + flag);
    }
  }
  ConsoleSim console(options);
  // Scheduled commands are checked now, so a typo fails at once rather than
  // seconds into a test.
  for (const Scheduled& s : options.scheduled) {
    Command command;
    std::string error;
    if (!console.ParseCommand(s.command, &command, &error)) {
      return Usage("scheduled \"" + s.command + "\": " + error);
    }
  }
  return console.Run();
}
