// The console simulator as a process: started on a free loopback port, driven
// through its stdin and a UDP client, checked through its datagrams, stdout,
// log and summary file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim_osc.h"

namespace {

using sim::Bytes;

constexpr int kWaitMs = 5000;  // generous: the machine is shared

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// OSC strings, each 0-padded to a multiple of 4: written here, not by liblo.
Bytes OscStrings(std::initializer_list<std::string> texts) {
  Bytes out;
  for (const std::string& text : texts) {
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), 4 - text.size() % 4, 0);
  }
  return out;
}

// The log's lines of one direction and action.
std::vector<sim::Json> LogEntries(const std::string& log, const std::string& dir, const std::string& action) {
  std::vector<sim::Json> entries;
  for (const std::string& line : Lines(log)) {
    sim::Json entry = sim::Json::parse(line);
    if (entry["dir"] == dir && entry["action"] == action) entries.push_back(entry);
  }
  return entries;
}

// A running console-sim with pipes to its stdin, stdout and stderr.
class SimProcess {
 public:
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {in_, out_, err_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Start(std::vector<std::string> args) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return false;
    args.insert(args.begin(), CONSOLE_SIM_PATH);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
    return pid_ > 0;
  }

  // The next stdout line, or "" after timeoutMs.
  std::string ReadLine(int timeoutMs = kWaitMs) {
    int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
      size_t newline = outBuffer_.find('\n');
      if (newline != std::string::npos) {
        std::string line = outBuffer_.substr(0, newline);
        outBuffer_.erase(0, newline + 1);
        return line;
      }
      int64_t left = deadline - NowMs();
      pollfd p{out_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return "";
      char chunk[1024];
      ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return "";
      outBuffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  // Reads stdout lines until one starts with prefix; "" on timeout.
  std::string WaitForLine(const std::string& prefix, int timeoutMs = kWaitMs) {
    int64_t deadline = NowMs() + timeoutMs;
    while (NowMs() < deadline) {
      std::string line = ReadLine(static_cast<int>(deadline - NowMs()));
      if (line.rfind(prefix, 0) == 0) return line;
    }
    return "";
  }

  // The port from the first line, "console-sim listening on A:P"; 0 if none.
  int ReadPort() {
    std::string line = ReadLine();
    if (line.rfind("console-sim listening on 127.0.0.1:", 0) != 0) return 0;
    return std::atoi(line.c_str() + line.rfind(':') + 1);
  }

  void Write(const std::string& text) {
    ssize_t n = write(in_, text.data(), text.size());
    (void)n;
  }

  // Exit code, or -1 if it doesn't exit within timeoutMs.
  int Wait(int timeoutMs = kWaitMs) {
    int64_t deadline = NowMs() + timeoutMs;
    while (NowMs() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      usleep(5000);
    }
    return -1;
  }

  std::string Stderr() {
    std::string text;
    char chunk[1024];
    fcntl(err_, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(err_, chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
    return text;
  }

  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string outBuffer_;
};

// A UDP client on its own loopback port.
class Client {
 public:
  explicit Client(int simPort) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t size = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
    port_ = ntohs(local.sin_port);
    sim_.sin_family = AF_INET;
    sim_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sim_.sin_port = htons(static_cast<uint16_t>(simPort));
  }
  ~Client() { close(fd_); }

  void Send(const Bytes& bytes) {
    sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sim_), sizeof sim_);
  }
  void Subscribe() { Send(sim::EncodeFloatMessage("/xremote", 0.0f)); }

  // The next datagram and its source port; false on timeout.
  bool Receive(Bytes* bytes, int* fromPort = nullptr, int timeoutMs = kWaitMs) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    bytes->resize(70000);
    sockaddr_in from{};
    socklen_t size = sizeof from;
    ssize_t n = recvfrom(fd_, bytes->data(), bytes->size(), 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (n < 0) return false;
    bytes->resize(static_cast<size_t>(n));
    if (fromPort) *fromPort = ntohs(from.sin_port);
    return true;
  }

  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  sockaddr_in sim_{};
};

class ConsoleSimProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "console-sim-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    log_ = dir_ + "/log.jsonl";
    summary_ = dir_ + "/summary.jsonl";
  }
  void TearDown() override {
    std::remove(log_.c_str());
    std::remove(summary_.c_str());
    rmdir(dir_.c_str());
  }
  // Starts the simulator on a free port with a log and a summary file.
  int Start(SimProcess& sim, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--port", "0", "--log", log_, "--summary-json", summary_, "--timeout", "60"};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!sim.Start(args)) return 0;
    return sim.ReadPort();
  }

  // Asks for ch 1..32 with the options of loss given, then takes the losses
  // away and asks for main: which channels were answered before main, as a
  // '1' or '0' each.
  std::string AnsweredQueries(const std::vector<std::string>& options) {
    SimProcess sim;
    int port = Start(sim, options);
    if (port == 0) return "no simulator";
    Client client(port);
    for (int ch = 1; ch <= 32; ++ch) client.Send(OscStrings({sim::FaderAddress(ch)}));
    sim.Write("lose in 0\nlose out 0\n");
    sim.WaitForLine("console-sim: losing 0 of what arrives and 0 of what is sent");
    client.Send(OscStrings({sim::FaderAddress(0)}));
    std::string answered(32, '0');
    Bytes bytes;
    while (client.Receive(&bytes)) {
      const int fader = sim::FaderIndexOf(sim::DecodeOsc(bytes.data(), bytes.size()).address);
      if (fader <= 0) break;  // main's answer, which comes after all the others
      answered[fader - 1] = '1';
    }
    sim.Write("quit\n");
    return sim.Wait() == 0 ? answered : "no clean end";
  }

  std::string dir_, log_, summary_;
};

// 0123456789012345 6789 0123 4567
const Bytes kCh5At08 = {0x2F, 0x63, 0x68, 0x2F, 0x30, 0x35, 0x2F, 0x6D, 0x69, 0x78, 0x2F, 0x66, 0x61, 0x64,
                        0x65, 0x72, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x66, 0x00, 0x00, 0x3F, 0x4C, 0xCC, 0xCD};
// Its address alone: how a client asks for the fader's level.
const Bytes kQueryCh5(kCh5At08.begin(), kCh5At08.begin() + 20);

TEST_F(ConsoleSimProcess, TouchReportsToSubscriberAndAFadeIsSummarised) {
  SimProcess sim;
  int port = Start(sim);
  ASSERT_NE(port, 0) << sim.Stderr();
  Client client(port);
  client.Subscribe();
  // Datagrams are handled in order: the answer to a query shows that the
  // subscription has been taken before the touch is typed.
  client.Send(kQueryCh5);
  Bytes reply;
  ASSERT_TRUE(client.Receive(&reply));
  EXPECT_EQ(reply, sim::EncodeFloatMessage("/ch/05/mix/fader", 0.75f));

  sim.Write("touch 5 0.8\n");
  Bytes report;
  int from = 0;
  ASSERT_TRUE(client.Receive(&report, &from));
  EXPECT_EQ(report, kCh5At08);
  EXPECT_EQ(from, port);

  // A fade of six messages, paced like the program's.
  float level = 0.8f, lastSent = 0.0f;
  for (int k = 0; k < 6; ++k) {
    client.Send(sim::EncodeFloatMessage("/ch/05/mix/fader", level));
    lastSent = level;
    level -= 0.006f;
    usleep(10000);
  }
  std::string line = sim.WaitForLine("fade ");
  EXPECT_TRUE(Has(line, "fade ch05: 6 messages, 0.8 -> 0.77,")) << line;
  EXPECT_TRUE(Has(line, "capture latency")) << line;
  sim.Write("quit\n");
  EXPECT_EQ(sim.Wait(), 0);

  std::vector<std::string> summaries = Lines(ReadFile(summary_));
  ASSERT_EQ(summaries.size(), 1u);
  EXPECT_TRUE(Has(summaries[0], "\"fader\":5,")) << summaries[0];
  EXPECT_TRUE(Has(summaries[0], "\"count\":6,")) << summaries[0];
  EXPECT_TRUE(Has(summaries[0], "\"first\":0.8,")) << summaries[0];
  EXPECT_TRUE(Has(summaries[0], "\"last\":" + sim::JsonLine(sim::JsonNumber(lastSent)) + ",")) << summaries[0];
  EXPECT_TRUE(Has(summaries[0], "\"stimulus\":\"touch 5 0.8\"")) << summaries[0];
  EXPECT_TRUE(Has(summaries[0], "\"port\":" + std::to_string(client.Port()) + ",")) << summaries[0];

  std::string log = ReadFile(log_);
  int faderIn = 0;
  for (const std::string& l : Lines(log)) {
    if (Has(l, "\"dir\":\"in\"") && Has(l, "\"action\":\"fader\"")) ++faderIn;
  }
  EXPECT_EQ(faderIn, 6);
  EXPECT_TRUE(Has(log, "\"dir\":\"in\",\"socket\":\"main\",\"local_port\":" + std::to_string(port) +
                           ",\"peer\":\"127.0.0.1\",\"port\":" + std::to_string(client.Port()) +
                           ",\"len\":20,\"action\":\"subscribe\",\"address\":\"/xremote\""))
      << log;
  EXPECT_TRUE(Has(log, "\"dir\":\"out\"") &&
              Has(log,
                  "\"action\":\"touch 5 0.8\",\"address\":\"/ch/05/mix/fader\",\"fader\":5,"
                  "\"typetag\":\",f\",\"args\":[0.8],\"bytes24_27\":0.8,"
                  "\"hex\":\"2f63682f30352f6d69782f6661646572000000002c6600003f4ccccd\""))
      << log;
}

TEST_F(ConsoleSimProcess, EchoesFaderChangesToOtherSubscribersOnly) {
  SimProcess sim;
  int port = Start(sim);
  ASSERT_NE(port, 0);
  Client a(port), b(port);
  a.Subscribe();
  b.Subscribe();
  Bytes bytes;
  // b's query is answered after both subscriptions were taken.
  b.Send(kQueryCh5);
  ASSERT_TRUE(b.Receive(&bytes));

  a.Send(sim::EncodeFloatMessage("/ch/03/mix/fader", 0.5f));
  ASSERT_TRUE(b.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/ch/03/mix/fader", 0.5f));
  // Out-of-range levels are applied clamped, as the console's fader stops at 1.
  a.Send(sim::EncodeFloatMessage("/ch/03/mix/fader", 1.5f));
  ASSERT_TRUE(b.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/ch/03/mix/fader", 1.0f));

  // a got no echo of its own changes: the next thing it receives is the touch.
  sim.Write("touch 1 0.25\n");
  ASSERT_TRUE(a.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/ch/01/mix/fader", 0.25f));
  sim.Write("quit\n");
  EXPECT_EQ(sim.Wait(), 0);
}

TEST_F(ConsoleSimProcess, SendsMalformedAndForeignDatagramsOnRequest) {
  SimProcess sim;
  // Scheduled from the first /xremote, in the order given.
  int port = Start(sim, {"--at", "0:touch main 0.9", "--at", "0:short 5", "--at", "0:typetag 5", "--at", "0:nan 5",
                         "--at", "0:level 5 -0.1"});
  ASSERT_NE(port, 0);
  Client client(port);
  client.Subscribe();
  Bytes bytes;
  int from = 0;
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/main/st/mix/fader", 0.9f));
  ASSERT_TRUE(client.Receive(&bytes));
  Bytes shortReport = sim::EncodeFloatMessage("/ch/05/mix/fader", 0.75f);
  shortReport.pop_back();
  EXPECT_EQ(bytes, shortReport);
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeIntMessage("/ch/05/mix/fader", 1));
  ASSERT_TRUE(client.Receive(&bytes));
  ASSERT_EQ(bytes.size(), 28u);
  EXPECT_EQ(sim::HexBytes(bytes.data() + 24, 4), "7fc00000");
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/ch/05/mix/fader", -0.1f));

  sim.Write("eq 5\nother 5 0.25\nforeign 5 0.3\nempty\nbig\nraw 2f 78 00 00\n");
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/ch/05/eq/1/g", 0.5f));
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/ch/05/mix/01/level", 0.25f));
  EXPECT_EQ(bytes.size(), 28u);
  ASSERT_TRUE(client.Receive(&bytes, &from));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/ch/05/mix/fader", 0.3f));
  EXPECT_NE(from, port);
  ASSERT_TRUE(client.Receive(&bytes, &from));
  EXPECT_EQ(bytes.size(), 0u);
  EXPECT_EQ(from, port);
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes.size(), 2049u);
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes, (Bytes{0x2F, 0x78, 0x00, 0x00}));

  // A mistyped command is reported and changes nothing.
  sim.Write("touch 5 1.5\n");
  EXPECT_TRUE(Has(sim.ReadLine(), "touch: a fader stands between 0 and 1"));
  sim.Write("quit\n");
  EXPECT_EQ(sim.Wait(), 0);
  std::string log = ReadFile(log_);
  EXPECT_TRUE(Has(log,
                  "\"len\":27,\"action\":\"short 5\",\"address\":\"/ch/05/mix/fader\",\"fader\":5,"
                  "\"typetag\":\",f\",\"malformed\":true"))
      << log;
  EXPECT_TRUE(Has(log, "\"socket\":\"foreign\"")) << log;
}

TEST_F(ConsoleSimProcess, SurvivesMalformedDatagramsAndLogsThem) {
  SimProcess sim;
  int port = Start(sim);
  ASSERT_NE(port, 0);
  Client client(port);
  client.Send(Bytes{});
  client.Send(Bytes{1, 2, 3});
  client.Send(Bytes{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0});
  client.Send(Bytes(3000, 0x2F));
  Bytes cut = kCh5At08;
  cut.resize(26);
  client.Send(cut);
  // Still alive and answering.
  client.Subscribe();
  Bytes bytes;
  client.Send(kQueryCh5);
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes.size(), 28u);
  sim.Write("quit\n");
  EXPECT_EQ(sim.Wait(), 0);

  int malformed = 0;
  for (const std::string& l : Lines(ReadFile(log_))) {
    if (Has(l, "\"malformed\":true")) ++malformed;
  }
  EXPECT_EQ(malformed, 5);
  // No fade was started by the cut fader message.
  EXPECT_EQ(ReadFile(summary_), "");
}

TEST_F(ConsoleSimProcess, RefusesAnythingButLoopback) {
  for (const char* address : {"192.0.2.1", "0.0.0.0", "10.0.0.1", "not-an-address"}) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--address", address, "--port", "0"}));
    EXPECT_EQ(sim.Wait(), 2) << address;
    EXPECT_EQ(sim.ReadLine(100), "") << address;  // never listened
  }
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--address", "127.0.0.2", "--port", "0", "--timeout", "60"}));
  EXPECT_EQ(sim.ReadLine().rfind("console-sim listening on 127.0.0.2:", 0), 0u);
  kill(sim.Pid(), SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST_F(ConsoleSimProcess, EndsOnQuitOrTimeoutAndRejectsBadSchedules) {
  {
    SimProcess sim;
    int port = Start(sim, {"--fade-gap", "100"});
    ASSERT_NE(port, 0);
    Client client(port);
    client.Send(sim::EncodeFloatMessage("/main/st/mix/fader", 0.5f));
    EXPECT_TRUE(Has(sim.WaitForLine("fade "), "fade main: 1 message, 0.5 -> 0.5"));
    sim.Write("quit\n");
    EXPECT_EQ(sim.Wait(), 0);
  }
  {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--timeout", "0.2"}));
    EXPECT_EQ(sim.Wait(), 0);
  }
  // A mistyped option or schedule stops it at once, saying why.
  const std::pair<std::vector<std::string>, const char*> mistakes[] = {
      {{"--at", "100:touch 40 0.5"}, "no fader \"40\""}, {{"--at", "0:hand 5 0.8 1.5 100"}, "give hand F FROM TO MS"},
      {{"--at", "0:xinfo maybe"}, "give xinfo on"},      {{"--at", "0:lose in 2"}, "give lose in P"},
      {{"--lose-out", "1.5"}, "bad --lose-out 1.5"},
  };
  for (const auto& [options, why] : mistakes) {
    SimProcess sim;
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_TRUE(sim.Start(args));
    EXPECT_EQ(sim.Wait(), 2) << why;
    EXPECT_TRUE(Has(sim.Stderr(), why)) << why;
  }
}

TEST_F(ConsoleSimProcess, SubscriptionLapsesWithoutRenewal) {
  SimProcess sim;
  int port = Start(sim, {"--xremote-seconds", "0.2"});
  ASSERT_NE(port, 0);
  Client client(port);
  client.Subscribe();
  Bytes bytes;
  client.Send(kQueryCh5);
  ASSERT_TRUE(client.Receive(&bytes));
  usleep(400000);  // the lapse itself is what is tested
  sim.Write("touch 5 0.8\n");
  EXPECT_TRUE(Has(sim.ReadLine(), "no live subscriber"));
  client.Subscribe();
  client.Send(kQueryCh5);
  ASSERT_TRUE(client.Receive(&bytes));
  sim.Write("touch 5 0.8\n");
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes, kCh5At08);
  sim.Write("quit\n");
  EXPECT_EQ(sim.Wait(), 0);
}

TEST_F(ConsoleSimProcess, AnswersXinfoAsTheConsoleDoesWhenItShould) {
  const Bytes request = OscStrings({"/xinfo", ","});
  const Bytes standard = OscStrings({"/xinfo", ",ssss", "127.0.0.1", "X32-SIM", "X32", "3.04"});
  // The options, the answer to /xinfo (none: not answered), a command, and then the answer.
  const struct {
    std::vector<std::string> options;
    std::optional<Bytes> before;
    const char* command;
    std::optional<Bytes> after;
  } cases[] = {
      {{}, standard, "xinfo off", std::nullopt},
      {{"--no-xinfo"}, std::nullopt, "xinfo on", standard},
      {{"--xinfo-address", "127.0.0.9", "--xinfo-name", "X32-02-4A-53", "--xinfo-model", "X32C", "--xinfo-firmware",
        "4.06"},
       OscStrings({"/xinfo", ",ssss", "127.0.0.9", "X32-02-4A-53", "X32C", "4.06"}),
       "xinfo raw 2f 78 00 00",
       Bytes{0x2F, 0x78, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SimProcess sim;
    int port = Start(sim, c.options);
    ASSERT_NE(port, 0);
    Client client(port);
    auto ask = [&](const std::optional<Bytes>& answer) {
      client.Send(request);
      client.Send(kQueryCh5);  // answered after /xinfo, if that is
      Bytes bytes;
      int from = 0;
      ASSERT_TRUE(client.Receive(&bytes, &from));
      if (answer) {
        EXPECT_EQ(bytes, *answer) << c.command;
        EXPECT_EQ(from, port);
        ASSERT_TRUE(client.Receive(&bytes));
      }
      EXPECT_EQ(bytes.size(), 28u) << c.command;
    };
    ask(c.before);
    sim.Write(std::string(c.command) + "\n");
    EXPECT_NE(sim.WaitForLine("console-sim: /xinfo is"), "");
    ask(c.after);
    sim.Write("quit\n");
    EXPECT_EQ(sim.Wait(), 0);
    const std::string log = ReadFile(log_);
    EXPECT_EQ(LogEntries(log, "in", "xinfo").size(), 2u);
    EXPECT_EQ(LogEntries(log, "out", "xinfo reply").size(), size_t{c.before.has_value()} + c.after.has_value());
  }
}

TEST_F(ConsoleSimProcess, LosesWhatItIsToldToTheSameWayForASeed) {
  EXPECT_EQ(AnsweredQueries({"--lose-out", "1"}), std::string(32, '0'));
  EXPECT_EQ(LogEntries(ReadFile(log_), "lost out", "query reply").size(), 32u);
  EXPECT_EQ(AnsweredQueries({"--lose-in", "1"}), std::string(32, '0'));
  EXPECT_EQ(LogEntries(ReadFile(log_), "lost in", "query").size(), 32u);
  EXPECT_EQ(AnsweredQueries({"--lose-in", "0", "--lose-out", "0"}), std::string(32, '1'));
  for (const char* way : {"--lose-in", "--lose-out"}) {
    const std::string answered = AnsweredQueries({way, "0.5", "--seed", "7"});
    EXPECT_EQ(AnsweredQueries({way, "0.5", "--seed", "7"}), answered) << way;
    EXPECT_TRUE(Has(answered, "0") && Has(answered, "1")) << way << " " << answered;
  }
}

TEST_F(ConsoleSimProcess, LosesTheFirstXremoteOfEachFadeWhenToldTo) {
  SimProcess sim;
  int port = Start(sim, {"--lose-fade-xremote", "--fade-gap", "100"});
  ASSERT_NE(port, 0);
  Client client(port);
  Bytes bytes;
  client.Subscribe();  // no fade yet
  for (float level : {0.5f, 0.4f}) {
    client.Send(sim::EncodeFloatMessage("/ch/03/mix/fader", level));  // a fade begins
    client.Subscribe();
    client.Subscribe();
    EXPECT_TRUE(Has(sim.WaitForLine("fade "), "fade ch03: 1 message"));
  }
  sim.Write("quit\n");
  EXPECT_EQ(sim.Wait(), 0);
  std::vector<std::string> subscriptions;
  for (const std::string& line : Lines(ReadFile(log_))) {
    sim::Json entry = sim::Json::parse(line);
    if (entry["action"] == "subscribe") subscriptions.push_back(entry["dir"]);
  }
  EXPECT_EQ(subscriptions, (std::vector<std::string>{"in", "lost in", "in", "lost in", "in"}));
}

TEST_F(ConsoleSimProcess, HandMovesAFaderInReportsSpreadOverItsTime) {
  SimProcess sim;
  int port = Start(sim, {"--at", "0:hand 5 0.8 0.2 150"});
  ASSERT_NE(port, 0);
  Client client(port);
  client.Subscribe();
  // 150 ms at a report every 15 ms: 11 reports, from exactly 0.8 down to exactly 0.2.
  std::vector<float> levels;
  Bytes bytes;
  for (int k = 0; k < 11; ++k) {
    ASSERT_TRUE(client.Receive(&bytes)) << k;
    if (k == 0) {
      EXPECT_EQ(bytes, kCh5At08);
    }
    sim::OscMessage m = sim::DecodeOsc(bytes.data(), bytes.size());
    ASSERT_EQ(m.address, "/ch/05/mix/fader");
    levels.push_back(m.args.at(0));
  }
  EXPECT_EQ(levels.back(), 0.2f);
  EXPECT_EQ(std::adjacent_find(levels.begin(), levels.end(), std::less_equal<float>()), levels.end());
  // No twelfth, and the fader stays where the hand left it.
  client.Send(kQueryCh5);
  ASSERT_TRUE(client.Receive(&bytes));
  EXPECT_EQ(bytes, sim::EncodeFloatMessage("/ch/05/mix/fader", 0.2f));
  sim.Write("quit\n");
  EXPECT_EQ(sim.Wait(), 0);
  // Each report comes no sooner than its share of the 150 ms after the first.
  std::vector<sim::Json> reports = LogEntries(ReadFile(log_), "out", "hand 5 0.8 0.2 150");
  ASSERT_EQ(reports.size(), 11u);
  for (size_t k = 1; k < reports.size(); ++k) {
    EXPECT_GE(reports[k]["t_us"].get<int64_t>() - reports[0]["t_us"].get<int64_t>(), int64_t(k) * 15000) << k;
  }
}

}  // namespace
