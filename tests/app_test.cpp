// The whole program, headless: the null control layer stands in for the user,
// a real UDP socket on 127.0.0.1:10023 for the console, and the program reads
// config.txt from a scratch working directory.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/fade_cycle.h"
#include "app/quorlen.h"
#include "config/null_launch.h"
#include "link/fader_table.h"
#include "link/osc.h"
#include "link/clock.h"
#include "clock_support.h"
#include "link/mixer_link.h"
#include "ui/controls.h"
#include "ui/null_ui.h"

namespace {

// How many times faster than real time ClockMilliseconds runs (SpeedUpClock).
int g_clockSpeed = 1;

// ClockMilliseconds, and so the keep-alive, runs `factor` times faster than
// real time from now on (1: the real clock); the fade's pace does not.
void SpeedUpClock(int factor) {
  static std::chrono::steady_clock::time_point origin;
  origin = std::chrono::steady_clock::now();
  g_clockSpeed = factor <= 1 ? 1 : factor;
  ClockSource fast = []() -> std::int64_t {
    return g_clockSpeed *
           std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - origin).count();
  };
  SetClockSource(factor <= 1 ? nullptr : fast);
}

struct Datagram {
  std::vector<unsigned char> bytes;
  int fromPort = 0;
  std::int64_t at = 0;  // ClockMilliseconds() when it reached the console

  std::string Address() const { return std::string(reinterpret_cast<const char*>(bytes.data())); }
  bool IsSubscription() const { return bytes.size() == 20 && Address() == "/xremote"; }
  bool IsConsoleQuery() const { return bytes.size() == 12 && Address() == "/xinfo"; }
  // 28 bytes, or 24 for a DCA: "/dca/1/fader" is the one short address.
  bool IsFaderLevel() const {
    const std::string address = Address();
    return bytes.size() == (address.rfind("/dca/", 0) == 0 ? 24u : 28u) && address.find("fader") != std::string::npos;
  }
  float Level() const { return LoadFloatBigEndian(bytes.data() + bytes.size() - 4); }
};

int BoundUdpSocket(const char* address, int port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(static_cast<std::uint16_t>(port));
  inet_pton(AF_INET, address, &local.sin_addr);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

std::vector<unsigned char> Report(const char* address, float level, const char* typeTag = ",f") {
  std::vector<unsigned char> bytes(kMessageBlockSize);
  bytes.resize(static_cast<std::size_t>(BuildOscMessage(bytes.data(), kMessageBlockSize, address, typeTag, level)));
  return bytes;
}

// Everything the scenario needs lives here; the idle hook reaches it through g_world.
struct World {
  int console = -1;  // 127.0.0.1:10023
  int foreign = -1;  // 127.0.0.2, any port
  int stray = -1;    // the console's address, another port
  std::vector<Datagram> received;  // all but /xinfo, which goes to `queries`
  std::vector<Datagram> queries;
  bool answersQueries = false;  // like the console, answer /xinfo
  std::function<void()> script;
  long idleCalls = 0;
  bool waiting = false;  // the program waits in its main loop, not in a drain
  std::chrono::steady_clock::time_point giveUpAt;
  bool gaveUp = false;
  bool clickedResetOff = false;
  // Like the console, forget a subscriber 10 s (on ClockMilliseconds) after
  // its last /xremote: Touch() then sends it nothing.
  bool subscriptionsExpire = false;

  void Collect() {
    unsigned char buffer[4096];
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(timeval))];
    for (;;) {
      sockaddr_in from{};
      iovec data{buffer, sizeof buffer};
      msghdr message{};
      message.msg_name = &from;
      message.msg_namelen = sizeof from;
      message.msg_iov = &data;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(console, &message, MSG_DONTWAIT);
      if (n < 0) return;
      // The kernel's arrival time (SO_TIMESTAMP), not this look's: the
      // program may have slept or sent more in between.
      std::int64_t at = ClockMilliseconds();
      const cmsghdr* stamp = CMSG_FIRSTHDR(&message);
      timeval arrived{}, now{};
      if (stamp != nullptr && stamp->cmsg_type == SCM_TIMESTAMP && gettimeofday(&now, nullptr) == 0) {
        std::memcpy(&arrived, CMSG_DATA(stamp), sizeof arrived);
        at -= g_clockSpeed * ((now.tv_sec - arrived.tv_sec) * 1000000 + (now.tv_usec - arrived.tv_usec)) / 1000;
      }
      Datagram d{std::vector<unsigned char>(buffer, buffer + n), ntohs(from.sin_port), at};
      if (d.IsConsoleQuery() && answersQueries) SendFrom(console, d.fromPort, ConsoleAnswer());
      (d.IsConsoleQuery() ? queries : received).push_back(std::move(d));
    }
  }

  // The console's /xinfo answer: address, name, model, firmware.
  static std::vector<unsigned char> ConsoleAnswer() {
    const char bytes[] = "/xinfo\0\0,ssss\0\0\0" "192.168.1.62\0\0\0\0X32-02-4A-53\0\0\0\0X32\0" "3.04\0\0\0\0";
    return std::vector<unsigned char>(bytes, bytes + sizeof bytes - 1);
  }

  void SendFrom(int fd, int port, const std::vector<unsigned char>& bytes) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  // The console answers the last subscriber, from its own port 10023.
  void Touch(const std::vector<unsigned char>& bytes) const {
    if (subscriptionsExpire && ClockMilliseconds() - LastSubscription().at >= 10000) return;
    SendFrom(console, LastSubscription().fromPort, bytes);
  }

  Datagram LastSubscription() const {
    for (auto it = received.rbegin(); it != received.rend(); ++it) {
      if (it->IsSubscription()) return *it;
    }
    return Datagram{};
  }
  int LastSubscriberPort() const { return LastSubscription().fromPort; }
  int Count(bool (Datagram::*test)() const) const {
    int n = 0;
    for (const Datagram& d : received) n += (d.*test)() ? 1 : 0;
    return n;
  }
  int Subscriptions() const { return Count(&Datagram::IsSubscription); }
  int FaderMessages() const { return Count(&Datagram::IsFaderLevel); }
  std::vector<float> Levels() const {
    std::vector<float> levels;
    for (const Datagram& d : received) {
      if (d.IsFaderLevel()) levels.push_back(d.Level());
    }
    return levels;
  }
};

World* g_world = nullptr;

void OnIdle(int waiting) {
  ++g_world->idleCalls;
  g_world->waiting = waiting != 0;
  g_world->Collect();
  // A scenario that doesn't come to its end within its time fails and says
  // where the program stood, then stops any cycle and closes the window,
  // rather than hanging until CTest's timeout.
  if (std::chrono::steady_clock::now() > g_world->giveUpAt) {
    if (!g_world->gaveUp) {
      g_world->gaveUp = true;
      const std::vector<float> levels = g_world->Levels();
      ADD_FAILURE() << "the scenario did not end within its time; the program was "
                    << (NullControlEnabled(CaptureButton) == 1 ? "idle" : "in a fade cycle") << ", and the console had "
                    << g_world->Subscriptions() << " /xremote and " << levels.size() << " fader messages"
                    << (levels.empty() ? std::string() : ", the last at " + std::to_string(levels.back()));
    }
    // One click: a drain takes events until none is left, so a click at
    // every look would keep it draining for ever. A close request counts
    // only in the main loop.
    if (g_world->waiting) {
      NullRequestClose();
    } else if (!g_world->clickedResetOff) {
      g_world->clickedResetOff = true;
      NullClick(ResetOffButton);
    }
    return;
  }
  if (g_world->script) g_world->script();
}

// The main loop is waiting with every control idle: user actions now reach
// their handlers (inside a cycle's drains they are discarded).
bool Idle() {
  return g_world->waiting && NullControlEnabled(CaptureButton) == 1 &&
         NullControlText(CaptureButton) == kCaptureIdleText;
}

constexpr const char* kLoopbackConfig = "127\n0\n0\n1\n";

class QuorlenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = std::filesystem::current_path();
    char pattern[] = "/tmp/quorlen-app-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    std::filesystem::current_path(directory_);
    world_.console = BoundUdpSocket("127.0.0.1", kMixerPort);
    ASSERT_GE(world_.console, 0) << "port 10023 on 127.0.0.1 is taken";
    // Every datagram comes with its arrival time.
    const int on = 1;
    setsockopt(world_.console, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
    world_.foreign = BoundUdpSocket("127.0.0.2", 0);
    world_.stray = BoundUdpSocket("127.0.0.1", 0);
    g_world = &world_;
    NullResetUi();
    NullSetIdleHook(OnIdle);
    NullStartedPrograms().clear();
  }

  void TearDown() override {
    SpeedUpClock(1);
    NullResetUi();
    g_world = nullptr;
    if (world_.console >= 0) close(world_.console);
    if (world_.foreign >= 0) close(world_.foreign);
    if (world_.stray >= 0) close(world_.stray);
    std::filesystem::current_path(original_);
    std::filesystem::remove_all(directory_);
  }

  static void WriteConfig(const std::string& bytes) { std::ofstream("config.txt", std::ios::binary) << bytes; }

  // Runs the program with the script acting as user and console at every
  // look for input; a scenario has `seconds` to end.
  int Run(std::function<void()> script, int seconds = 20) {
    world_.script = std::move(script);
    world_.giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    world_.gaveUp = false;
    world_.clickedResetOff = false;
    const int exitCode = RunQuorlen();
    world_.Collect();
    return exitCode;
  }

  // One cycle as the engineer and the console play it: once the main loop
  // waits, `prepare` picks the settings and capture is pressed; at the
  // cycle's first /xremote `subscribed` runs (the console's touch, as a
  // rule); `during` runs at every later look until the window is idle
  // again, when `idle` checks it and the window is closed. False when the
  // window never came back to idle.
  struct Cycle {
    std::function<void()> prepare = [] {};
    std::function<void()> subscribed = [] {};
    std::function<void()> during = [] {};
    std::function<void()> idle = [] {};
  };
  bool RunCycle(const Cycle& cycle) {
    bool started = false, subscribed = false, closed = false;
    Run([&] {
      if (!started) {
        if (!world_.waiting) return;
        started = true;
        cycle.prepare();
        NullClick(CaptureButton);
      } else if (!subscribed) {
        if (world_.Subscriptions() == 0) return;
        subscribed = true;
        cycle.subscribed();
      } else if (!closed && Idle()) {
        closed = true;
        cycle.idle();
        NullRequestClose();
      } else if (!closed) {
        cycle.during();
      }
    });
    return closed;
  }
  // The console's report of a fader, as its `subscribed` step.
  std::function<void()> Touch(const char* address, float level) {
    return [this, address, level] { world_.Touch(Report(address, level)); };
  }
  // A fresh program for the next case of a table.
  void NextCase() {
    world_.received.clear();
    world_.queries.clear();
    NullResetUi();
    NullSetIdleHook(OnIdle);
    WriteConfig(kLoopbackConfig);
  }

  // Picks fader, speed and minimum the way a user does, then presses capture.
  static void Prepare(int fader, int speedOption, int minimumSteps) {
    NullSelectListEntry(ChannelList, fader);
    NullClick(speedOption);
    for (int i = 0; i < minimumSteps; ++i) NullSpinStep(MinimumSpin, +1);
  }

  World world_;
  std::filesystem::path original_;
  std::filesystem::path directory_;
};

// When the console saw each /xremote, in ClockMilliseconds.
std::vector<std::int64_t> SubscriptionTimes(const World& world) {
  std::vector<std::int64_t> times;
  for (const Datagram& d : world.received) {
    if (d.IsSubscription()) times.push_back(d.at);
  }
  return times;
}

// The expected levels: the captured one, then each previous minus step, all
// in 32-bit floats, stopping before the first one at or below the minimum.
std::vector<float> ExpectedFade(float start, float step, float minimum) {
  std::vector<float> levels;
  float position = start;
  do {
    levels.push_back(position);
    position = position - step;
  } while (!(position <= minimum));
  return levels;
}

TEST_F(QuorlenTest, StartsIdleShowsTheAddressAndEndsWithExitCodeZeroOnClose) {
  WriteConfig(kLoopbackConfig);
  bool checked = false;
  const int exitCode = Run([&] {
    if (checked || !world_.waiting) return;
    checked = true;
    EXPECT_EQ(NullControlValue(TooSlowOption), 1);
    EXPECT_EQ(NullControlValue(SlowOption) + NullControlValue(NormalOption) + NullControlValue(FastOption), 0);
    EXPECT_EQ(NullControlValue(ChannelList), 0);
    EXPECT_EQ(NullListEntryCount(ChannelList), 33);
    EXPECT_EQ(NullListEntry(ChannelList, 0), "Main");
    EXPECT_EQ(NullListEntry(ChannelList, 13), "Ch 13");
    EXPECT_EQ(NullListEntry(ChannelList, 32), "Ch 32");
    EXPECT_EQ(NullControlText(MinimumSpin), "0");
    EXPECT_EQ(NullControlValue(MinimumSpin), 0);
    EXPECT_EQ(NullControlEnabled(ResetOffButton), 0);
    EXPECT_EQ(NullControlEnabled(MixerIpField), 0);
    EXPECT_EQ(NullControlText(MixerIpField), "127.0.0.1");
    EXPECT_TRUE(Idle());
    EXPECT_EQ(g_fade.step, 0.0005f);
    NullRequestClose();
  });
  EXPECT_EQ(exitCode, 0);
  EXPECT_TRUE(checked);
  EXPECT_EQ(NullWindowExists(), 0);
  EXPECT_TRUE(world_.received.empty()) << "nothing but /xinfo goes out before capture";
  EXPECT_EQ(world_.queries.size(), 1u) << "/xinfo once the window shows";
}

// The credits stand until the console check's first result; an /xinfo
// unanswered for 1 s gives the no-answer line, and at idle /xinfo goes out
// again every 10 s until a console that comes on later answers.
TEST_F(QuorlenTest, TheStatusBarSaysWhetherTheConsoleAnswers) {
  WriteConfig(kLoopbackConfig);
  SpeedUpClock(25);  // 10 s of clock in 0.4 s
  std::vector<std::string> shown;
  std::int64_t answeredAt = -1;
  Run([&] {
    if (!world_.waiting) return;
    const std::string text = NullControlText(MainStatusBar);
    if (shown.empty() || shown.back() != text) shown.push_back(text);
    if (text.rfind("No answer", 0) == 0) world_.answersQueries = true;  // the console comes on
    if (answeredAt < 0 && text.rfind("Console ", 0) == 0) answeredAt = ClockMilliseconds();
    if (answeredAt >= 0 && ClockMilliseconds() - answeredAt > 25000) NullRequestClose();
  });
  const std::vector<std::string> expected = {
      kCreditsLine, "No answer from 127.0.0.1 (UDP 10023): check Edit IP, the network and the firewall",
      "Console X32 \"X32-02-4A-53\", firmware 3.04, at 127.0.0.1"};
  EXPECT_EQ(shown, expected);
  ASSERT_EQ(world_.queries.size(), 2u) << "asked again while unanswered, and no more once answered";
  EXPECT_NEAR(world_.queries[1].at - world_.queries[0].at, 10000, 500);
}

TEST_F(QuorlenTest, HandlersKeepTheMinimumTextEqualToTheValueAndOpenTheMakersPage) {
  WriteConfig(kLoopbackConfig);
  int stage = 0;
  Run([&] {
    if (!world_.waiting) return;
    switch (stage++) {
      case 0:
        NullSpinStep(MinimumSpin, -1);  // at 0 it stays 0
        break;
      case 1:
        EXPECT_EQ(NullControlText(MinimumSpin), "0");
        for (int i = 0; i < 3; ++i) NullSpinStep(MinimumSpin, +1);
        break;
      case 2:
        EXPECT_EQ(NullControlText(MinimumSpin), "3");
        NullTypeText(MinimumSpin, "57");  // typing never reaches the value
        break;
      case 3:
        EXPECT_EQ(NullControlText(MinimumSpin), "3");
        for (int i = 0; i < 120; ++i) NullSpinStep(MinimumSpin, +1);
        break;
      case 4:
        EXPECT_EQ(NullControlText(MinimumSpin), "100");
        NullClick(NormalOption);
        break;
      case 5:
        EXPECT_EQ(g_fade.step, 0.003f);
        NullClick(NormalOption);  // already selected: stays, same step
        break;
      case 6:
        EXPECT_EQ(NullControlValue(NormalOption), 1);
        EXPECT_EQ(NullControlValue(TooSlowOption), 0);
        EXPECT_EQ(g_fade.step, 0.003f);
        NullSelectListEntry(ChannelList, 32);
        NullClick(UpdatesButton);
        NullClick(UpdatesButton);  // merged with the first while it is still queued
        break;
      case 7:
        EXPECT_EQ(g_fade.selectedFader, 32);
        ASSERT_EQ(NullOpenedPages().size(), 1u);
        EXPECT_EQ(NullOpenedPages()[0], kMakerWebAddress);
        NullRequestClose();
        break;
      default:
        break;
    }
  });
  EXPECT_EQ(stage, 8);
}

TEST_F(QuorlenTest, FadesAChannelAtFastFromItsReportDownToTheMinimumAndResets) {
  WriteConfig(kLoopbackConfig);
  std::vector<std::string> lines;  // the status bar's, in turn, from the capture on
  auto look = [&] {
    const std::string text = NullControlText(MainStatusBar);
    if (lines.empty() || lines.back() != text) lines.push_back(text);
  };
  ASSERT_TRUE(RunCycle({[] { Prepare(5, FastOption, 50); },
                        [&] {
                          EXPECT_EQ(NullControlText(CaptureButton), kCaptureBusyText);
                          EXPECT_EQ(NullControlEnabled(CaptureButton), 0);
                          EXPECT_EQ(NullControlEnabled(ResetOffButton), 1);
                          EXPECT_EQ(NullControlEnabled(FastOption), 0);
                          EXPECT_EQ(NullControlEnabled(ChannelList), 0);
                          EXPECT_EQ(NullControlEnabled(MinimumSpin), 0);
                          look();
                          world_.Touch(Report("/ch/05/mix/fader", 0.8f));
                        },
                        look,
                        [&] {
                          look();
                          EXPECT_EQ(NullControlValue(TooSlowOption), 1);
                          EXPECT_EQ(NullControlValue(FastOption), 0);
                          EXPECT_EQ(NullControlValue(ChannelList), 0);
                          EXPECT_EQ(NullControlText(MinimumSpin), "0");
                          EXPECT_EQ(NullControlValue(MinimumSpin), 0);
                          EXPECT_EQ(NullControlEnabled(ResetOffButton), 0);
                          EXPECT_EQ(NullControlEnabled(ChannelList), 1);
                          EXPECT_EQ(NullControlEnabled(MinimumSpin), 1);
                          EXPECT_EQ(g_fade.step, 0.0005f);
                          EXPECT_EQ(g_fade.selectedFader, 0);
                        }}));

  const std::vector<float> expected = ExpectedFade(0.8f, 0.006f, 0.5f);
  const std::vector<float> levels = world_.Levels();
  ASSERT_EQ(levels.size(), expected.size());
  for (std::size_t i = 0; i < levels.size(); ++i) {
    EXPECT_EQ(levels[i], expected[i]) << "message " << i;  // bit-exact 32-bit arithmetic
    EXPECT_GT(levels[i], 0.5f);
  }
  EXPECT_EQ(levels.front(), 0.8f);

  // /xremote first and at the reset, fader messages between, all from one port.
  ASSERT_EQ(world_.Subscriptions(), 2);
  EXPECT_TRUE(world_.received.front().IsSubscription());
  EXPECT_TRUE(world_.received.back().IsSubscription());
  for (const Datagram& d : world_.received) {
    EXPECT_EQ(d.fromPort, world_.received.front().fromPort);
    if (d.IsFaderLevel()) {
      EXPECT_EQ(d.Address(), "/ch/05/mix/fader");
    }
  }
  EXPECT_EQ(world_.received.size(), expected.size() + 2);

  // One message per 10 ms sleep at least.
  const std::int64_t span = world_.received[expected.size()].at - world_.received[1].at;
  EXPECT_GE(span, static_cast<std::int64_t>(10 * (expected.size() - 1)) - 5);

  // The status bar: the touch asked for, then the level of a message sent
  // and the time its successors take, at most ten times a second, then how
  // the fade ended, which stands after the reset.
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(), "Touch Ch 5 on the console");
  EXPECT_LE(lines.size(), 2 + 1 + expected.size() / 10) << "the line changed more than ten times a second";
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    bool sent = false;
    for (std::size_t k = 0; k < expected.size() && !sent; ++k) {
      char level[24], left[24];
      FaderDecibelText(expected[k], level, sizeof level);
      std::snprintf(left, sizeof left, "%.1f", (expected.size() - 1 - k) * 0.01);
      sent = lines[i] == std::string("Ch 5: ") + level + ", fading to -10.0 dB, " + left + " s left";
    }
    EXPECT_TRUE(sent) << lines[i];
  }
  EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"(Ch 5 faded from \+2\.0 dB to -10\.0 dB in 0\.[5-9] s)")))
      << lines.back() << " (the last level sent is a hair above 0.5)";
}

// "Show All Faders": DCA 1's 24-byte report is taken (the same bytes padded
// to 28 are not), the fade goes out in 24-byte messages, the reset returns to
// Main with the option still on, and switching it off with an extra fader
// selected leaves Main as the fader.
TEST_F(QuorlenTest, WithAllFadersShownFadesADcaFromItsShortReport) {
  WriteConfig(kLoopbackConfig);
  constexpr int kDca1 = 72;
  bool started = false, touched = false, switchedOff = false, closed = false;
  Run([&] {
    if (!started && world_.waiting) {
      started = true;
      NullClick(ShowAllFadersOption);
      Prepare(kDca1, FastOption, 50);
      NullClick(CaptureButton);
    } else if (!touched && world_.Subscriptions() == 1) {
      touched = true;
      std::vector<unsigned char> padded = Report("/dca/1/fader", 0.9f);
      padded.insert(padded.begin() + 12, 4, 0);  // 28 bytes: the length of every other report
      world_.Touch(padded);
      world_.Touch(Report("/dca/1/fader", 0.8f));
    } else if (touched && !switchedOff && Idle()) {
      switchedOff = true;
      EXPECT_EQ(NullControlValue(ShowAllFadersOption), 1) << "the option survives the reset";
      EXPECT_EQ(NullControlValue(ChannelList), 0);
      NullSelectListEntry(ChannelList, kDca1);
    } else if (switchedOff && g_fade.selectedFader == kDca1 && Idle()) {
      NullClick(ShowAllFadersOption);
    } else if (switchedOff && NullControlValue(ShowAllFadersOption) == 0 && !closed && Idle()) {
      closed = true;
      EXPECT_EQ(g_fade.selectedFader, 0);
      NullRequestClose();
    }
  });
  ASSERT_TRUE(closed);
  EXPECT_EQ(world_.Levels(), ExpectedFade(0.8f, 0.006f, 0.5f));
  EXPECT_EQ(world_.received[1].Address(), "/dca/1/fader");
  EXPECT_EQ(world_.received.size(), world_.Levels().size() + 2) << "every fader message is a 24-byte one";
}

TEST_F(QuorlenTest, AStallInTheMiddleOfAFadeSendsNoBurstAfterIt) {
  WriteConfig(kLoopbackConfig);
  bool stalled = false;
  ASSERT_TRUE(RunCycle({[] { Prepare(5, FastOption, 50); }, Touch("/ch/05/mix/fader", 0.8f),
                        [&] {
                          if (!stalled && world_.FaderMessages() == 10) {
                            stalled = true;  // the program hangs in a drain for six periods
                            std::this_thread::sleep_for(std::chrono::milliseconds(60));
                          }
                        }}));
  EXPECT_EQ(world_.Levels(), ExpectedFade(0.8f, 0.006f, 0.5f)) << "the same messages, none left out";
  // Catching up on the grid would send the missed messages back to back.
  std::vector<std::int64_t> sent;
  for (const Datagram& d : world_.received) {
    if (d.IsFaderLevel()) sent.push_back(d.at);
  }
  int close = 0;
  for (std::size_t i = 11; i < sent.size(); ++i) close += sent[i] - sent[i - 1] < 3 ? 1 : 0;
  EXPECT_LE(close, 1) << "messages sent in a burst after the stall";
}

// The status line is drawn between a message and the wait for the next; a
// drawing that takes 8 ms, at the fade's first message too, must leave the
// 10 ms grid where it was.
TEST_F(QuorlenTest, ASlowStatusLineMovesNoMessage) {
  WriteConfig(kLoopbackConfig);
  NullSetTextHook([](int control, const char* text) {
    if (control == MainStatusBar && std::strstr(text, "fading to") != nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(8));
    }
  });
  ASSERT_TRUE(RunCycle({[] { Prepare(5, FastOption, 50); }, Touch("/ch/05/mix/fader", 0.8f)}));
  std::vector<std::int64_t> sent;
  for (const Datagram& d : world_.received) {
    if (d.IsFaderLevel()) sent.push_back(d.at);
  }
  ASSERT_EQ(sent.size(), ExpectedFade(0.8f, 0.006f, 0.5f).size());
  for (std::size_t i = 1; i < sent.size(); ++i) {
    EXPECT_LT(sent[i] - sent[i - 1], 15) << "message " << i << " held up by the line drawn before it";
  }
}

// "Stop When Fader Is Moved": a Fast fade of Ch 5 from 0.8 to 0.5 (50
// messages, half a second), with reports sent at the console's side after a
// given number of messages. The console forgets a silent subscriber after
// 10 s; with the clock of the renewals sped up 40 times the fade lasts 20 s on
// it, and only renewed subscriptions let a grab 12 s in through. With the
// option on, a fade renews the subscription every 2 s of that clock.
TEST_F(QuorlenTest, AReportOfTheFadedFaderStopsTheFadeOnlyWhenAskedAndOnlyWhenItIsAGrab) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Late {
    int afterMessages;
    const char* address;
    float level;  // relative to the last level sent when `nearLast`
    bool nearLast = false;
    int from = 0;  // 0 the console, 1 a stranger
  };
  struct Case {
    const char* name;
    bool optionOn;
    std::vector<Late> reports;
    bool stops;
    int clockSpeed = 1;
    int speedOption = FastOption;
    float start = 0.8f;
    int minimumSteps = 50;
  };
  const Case cases[] = {
      {"a grab 300 ms in", true, {{30, "/ch/05/mix/fader", 0.2f}}, true},
      {"the option off", false, {{30, "/ch/05/mix/fader", 0.2f}}, false},
      {"a grab 12 s into the fade", true, {{30, "/ch/05/mix/fader", 0.2f}}, true, 40},
      {"the option off, a 20 s fade", false, {}, false, 40},
      {"renewals through a 30 s fade", true, {}, false, 10, NormalOption, 0.9f, 0},
      {"not grabs",
       true,
       {{10, "/ch/05/mix/fader", 0.2f},            // the touch's tail, 100 ms
        {20, "/ch/05/mix/fader", 0.3f},            // and 200 ms into the fade
        {30, "/ch/05/mix/fader", 0.0005f, true},   // within a console step of the last level
        {30, "/ch/05/mix/fader", 0.2f, false, 1},  // a stranger
        {30, "/ch/06/mix/fader", 0.2f},            // another fader
        {30, "/ch/05/mix/fader", nan}},            // no level
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NextCase();
    SpeedUpClock(c.clockSpeed);
    world_.subscriptionsExpire = true;
    std::size_t next = 0;
    int sentBeforeGrab = -1;
    std::int64_t optionAfter = -1;
    std::string ending;
    const bool closed =
        RunCycle({[&] {
                    if (c.optionOn) NullClick(StopWhenMovedOption);
                    Prepare(5, c.speedOption, c.minimumSteps);
                  },
                  Touch("/ch/05/mix/fader", c.start),
                  [&] {
                    if (next >= c.reports.size() || world_.FaderMessages() < c.reports[next].afterMessages) return;
                    for (; next < c.reports.size() && world_.FaderMessages() >= c.reports[next].afterMessages; ++next) {
                      const Late& r = c.reports[next];
                      const float level = r.nearLast ? world_.Levels().back() + r.level : r.level;
                      if (r.from == 0) world_.Touch(Report(r.address, level));
                      if (r.from == 1)
                        world_.SendFrom(world_.foreign, world_.LastSubscriberPort(), Report(r.address, level));
                    }
                    sentBeforeGrab = world_.FaderMessages();
                  },
                  [&] {
                    optionAfter = NullControlValue(StopWhenMovedOption);
                    ending = NullControlText(MainStatusBar);
                  }});
    ASSERT_TRUE(closed);
    float step = 0.0f;
    for (const SpeedOption& speed : kSpeedOptions) step = speed.control == c.speedOption ? speed.step : step;
    const std::vector<float> all = ExpectedFade(c.start, step, static_cast<float>(c.minimumSteps / 100.0));
    const std::vector<float> levels = world_.Levels();
    char first[24], last[24];
    FaderDecibelText(c.start, first, sizeof first);
    FaderDecibelText(levels.back(), last, sizeof last);
    if (c.stops) {
      EXPECT_LE(static_cast<int>(levels.size()), sentBeforeGrab + 1) << "more than one message after the grab";
      EXPECT_EQ(levels, std::vector<float>(all.begin(), all.begin() + static_cast<long>(levels.size())));
      EXPECT_TRUE(world_.received.back().IsSubscription()) << "the reset's subscription";
      EXPECT_EQ(ending, std::string("Ch 5 stopped at ") + last + ": moved on the console to -38.0 dB");
    } else {
      EXPECT_EQ(levels, all);
      EXPECT_EQ(ending.rfind(std::string("Ch 5 faded from ") + first + " to " + last + " in ", 0), 0u) << ending;
    }
    EXPECT_EQ(optionAfter, c.optionOn ? 1 : 0) << "kept across the reset";

    // /xremote during the fade: with the option on, every 2 s from the
    // capture's on (a 10 ms step looks once, so give or take a step); with it
    // off, never. The last one is the reset's.
    std::int64_t firstLevelAt = -1, lastLevelAt = -1;
    for (const Datagram& d : world_.received) {
      if (!d.IsFaderLevel()) continue;
      if (firstLevelAt < 0) firstLevelAt = d.at;
      lastLevelAt = d.at;
    }
    std::vector<std::int64_t> renewals = SubscriptionTimes(world_);
    renewals.pop_back();
    int duringFade = 0;
    for (std::size_t i = 0; i < renewals.size(); ++i) {
      duringFade += renewals[i] > firstLevelAt && renewals[i] < lastLevelAt ? 1 : 0;
      if (i > 0) {
        // (Arrival times are whole real milliseconds: 2 ms of rounding.)
        EXPECT_GE(renewals[i] - renewals[i - 1], 2000 - (10 + 2) * c.clockSpeed) << "renewal " << i;
        EXPECT_LE(renewals[i] - renewals[i - 1], 2000 + (10 + 2) * c.clockSpeed) << "renewal " << i;
      }
    }
    if (!c.optionOn) {
      EXPECT_EQ(duringFade, 0) << "a fade without the option sends fader messages only";
    } else if (c.clockSpeed > 1) {
      EXPECT_GE(duringFade, (lastLevelAt - firstLevelAt) / 2000 - 1) << "renewals missing during the fade";
    }
  }
}

TEST_F(QuorlenTest, RefusesAMinimumAboveTheCapturedLevelAfterOneUnchangedMessage) {
  WriteConfig(kLoopbackConfig);
  ASSERT_TRUE(RunCycle({[] { Prepare(0, SlowOption, 100); }, Touch("/main/st/mix/fader", 0.8f)}));
  ASSERT_EQ(NullMessages().size(), 1u);
  EXPECT_EQ(NullMessages()[0].title, "Fade Error");
  EXPECT_EQ(NullMessages()[0].text, "The minimum value is greater than the actual fade position");
  ASSERT_EQ(world_.Levels(), std::vector<float>{0.8f});
  EXPECT_EQ(world_.received[1].Address(), "/main/st/mix/fader");
  EXPECT_EQ(world_.Subscriptions(), 2);
}

TEST_F(QuorlenTest, EdgesOfTheFadeLevelEqualToMinimumAndLevelZero) {
  struct Case {
    float level;
    int minimumSteps;
  };
  for (const Case c : {Case{0.25f, 25}, Case{0.0f, 0}}) {
    SCOPED_TRACE(c.level);
    NextCase();
    ASSERT_TRUE(RunCycle({[&] { Prepare(7, NormalOption, c.minimumSteps); }, Touch("/ch/07/mix/fader", c.level)}));
    EXPECT_TRUE(NullMessages().empty());
    EXPECT_EQ(world_.Levels(), std::vector<float>{c.level});
  }
}

// Reset Off, or Escape, which does what it does, while the cycle waits.
TEST_F(QuorlenTest, ResetOffOrEscapeWhileWaitingSendsNoFaderMessage) {
  for (void (*stop)() : {+[] { NullClick(ResetOffButton); }, +[] { NullPressEscape(); }}) {
    NextCase();
    ASSERT_TRUE(RunCycle({[] { Prepare(3, FastOption, 10); }, stop, [] {},
                          [] {
                            EXPECT_EQ(NullControlValue(TooSlowOption), 1);
                            EXPECT_EQ(NullControlValue(ChannelList), 0);
                            EXPECT_EQ(NullControlText(MinimumSpin), "0");
                          }}));
    EXPECT_EQ(world_.FaderMessages(), 0);
    EXPECT_EQ(world_.Subscriptions(), 2);
  }
}

// Reset Off (or Escape) at any step of a fade, taken by either of the step's
// two drains (the null window shows the script every drain): the fade stops
// with no message after the one already sent, and the status bar says so.
TEST_F(QuorlenTest, ResetOffAtAnyStepOfAFadeStopsItAfterTheMessageSent) {
  struct Case {
    int afterMessages;
    int look;  // the drain of that step that takes the click: 1 or 2
    bool escape = false;
  };
  for (const Case c : {Case{5, 1}, Case{6, 2}, Case{7, 1}, Case{8, 2}, Case{9, 2}, Case{10, 1, true}}) {
    SCOPED_TRACE(testing::Message() << "after message " << c.afterMessages << ", drain " << c.look
                                    << (c.escape ? ", Escape" : ""));
    NextCase();
    int looks = 0;
    std::string ending;
    ASSERT_TRUE(RunCycle({[] { Prepare(0, TooSlowOption, 0); }, Touch("/main/st/mix/fader", 1.0f),
                          [&] {
                            if (world_.FaderMessages() == c.afterMessages && ++looks == c.look) {
                              c.escape ? NullPressEscape() : NullClick(ResetOffButton);
                            }
                          },
                          [&] { ending = NullControlText(MainStatusBar); }}));
    ASSERT_EQ(world_.FaderMessages(), c.afterMessages);
    EXPECT_TRUE(world_.received.back().IsSubscription());
    char last[24];
    FaderDecibelText(world_.Levels().back(), last, sizeof last);
    EXPECT_EQ(ending, std::string("Main stopped at ") + last + " (Reset Off)");
  }
}

TEST_F(QuorlenTest, IgnoresEveryDatagramThatIsNotTheSelectedFadersReport) {
  WriteConfig(kLoopbackConfig);
  bool touched = false;
  long spoiledAt = 0;
  ASSERT_TRUE(RunCycle(
      {[] { Prepare(5, FastOption, 0); },
       [&] {
         spoiledAt = world_.idleCalls;
         std::vector<unsigned char> shortReport = Report("/ch/05/mix/fader", 0.9f);
         shortReport.pop_back();
         std::vector<unsigned char> longReport = Report("/ch/05/mix/fader", 0.9f);
         longReport.push_back(0);
         world_.Touch(Report("/ch/06/mix/fader", 0.9f));        // another fader
         world_.Touch(Report("/ch/05/eq/1/g", 0.9f));           // another parameter
         world_.Touch(Report("/ch/05/mix/fader", 0.9f, ",i"));  // another type tag
         world_.Touch(shortReport);                             // 27 bytes
         world_.Touch(longReport);                              // 29 bytes
         world_.Touch(Report("/ch/05/mix/fader", std::numeric_limits<float>::quiet_NaN()));
         world_.Touch(Report("/ch/05/mix/fader", std::numeric_limits<float>::infinity()));
         world_.Touch(Report("/ch/05/mix/fader", -0.1f));
         world_.Touch(Report("/ch/05/mix/fader", 1.5f));
         world_.SendFrom(world_.foreign, world_.LastSubscriberPort(), Report("/ch/05/mix/fader", 0.9f));
         world_.SendFrom(world_.stray, world_.LastSubscriberPort(), Report("/ch/05/mix/fader", 0.9f));
       },
       [&] {
         if (!touched && g_fade.armed == 1 && world_.FaderMessages() == 0 && world_.idleCalls > spoiledAt + 400) {
           touched = true;  // by now every bad datagram has been polled and dropped
           EXPECT_EQ(NullControlText(CaptureButton), kCaptureBusyText);
           world_.Touch(Report("/ch/05/mix/fader", 0.03f));
         }
       }}));
  ASSERT_TRUE(touched);
  EXPECT_EQ(world_.Levels(), ExpectedFade(0.03f, 0.006f, 0.0f));
}

TEST_F(QuorlenTest, EachCycleUsesAFreshLinkAndNeverSeesTheOldOnesDatagrams) {
  WriteConfig(kLoopbackConfig);
  int stage = 0;
  int firstPort = 0, secondPort = 0;
  Run([&] {
    switch (stage) {
      case 0:
        if (!world_.waiting) break;
        Prepare(2, FastOption, 90);
        NullClick(CaptureButton);
        stage = 1;
        break;
      case 1:
        if (world_.Subscriptions() == 1) {
          firstPort = world_.LastSubscriberPort();
          world_.Touch(Report("/ch/02/mix/fader", 0.95f));
          stage = 2;
        }
        break;
      case 2:
        if (world_.FaderMessages() == 2) {
          // Reports that reach the link during the fade are never read...
          world_.Touch(Report("/main/st/mix/fader", 0.7f));
          world_.Touch(Report("/main/st/mix/fader", 0.71f));
          stage = 3;
        }
        break;
      case 3:
        if (Idle()) {
          NullClick(CaptureButton);  // Main, "Too Slow", minimum 0 after the reset
          stage = 4;
        }
        break;
      case 4:
        if (world_.Subscriptions() == 3) {
          secondPort = world_.LastSubscriberPort();
          // ...and neither is what is still sent to the old port.
          world_.SendFrom(world_.console, firstPort, Report("/main/st/mix/fader", 0.72f));
          stage = 5;
        }
        break;
      case 5:
        if (world_.idleCalls % 50 == 0) {
          world_.Touch(Report("/main/st/mix/fader", 0.0015f));
          stage = 6;
        }
        break;
      case 6:
        if (Idle()) {
          NullRequestClose();
          stage = 7;
        }
        break;
      default:
        break;
    }
  });
  ASSERT_EQ(stage, 7);
  EXPECT_NE(firstPort, secondPort);
  const std::vector<float> levels = world_.Levels();
  const std::vector<float> first = ExpectedFade(0.95f, 0.006f, 0.9f);
  std::vector<float> both = first;
  for (float level : ExpectedFade(0.0015f, 0.0005f, 0.0f)) both.push_back(level);
  EXPECT_EQ(levels, both);
}

TEST_F(QuorlenTest, KeepsTheSubscriptionAliveEveryTenSecondsWhileWaiting) {
  WriteConfig(kLoopbackConfig);
  // 25 s of waiting in one second. Slow enough that a renewal a second late
  // stands out from the program's own scheduling under a loaded machine.
  SpeedUpClock(25);
  bool pressed = false;
  std::int64_t startedAt = 0;
  std::vector<std::int64_t> renewals;
  std::string waitingLine;
  ASSERT_TRUE(RunCycle({[&] { startedAt = ClockMilliseconds(); }, [] {},
                        [&] {
                          if (!pressed && ClockMilliseconds() - startedAt >= 25000) {
                            pressed = true;
                            for (std::int64_t at : SubscriptionTimes(world_)) renewals.push_back(at - startedAt);
                            waitingLine = NullControlText(MainStatusBar);
                            NullClick(ResetOffButton);
                          }
                        }}));
  // Each /xremote of the wait is followed by /xinfo, which nothing answers
  // here; the reset's goes alone.
  ASSERT_EQ(world_.queries.size(), 1 + renewals.size()) << "one at start-up, one after each /xremote of the wait";
  for (std::size_t i = 0; i < renewals.size(); ++i) {
    EXPECT_NEAR(world_.queries[i + 1].at - startedAt, renewals[i], 40 * 25) << "the /xinfo after renewal " << i;
  }
  EXPECT_EQ(waitingLine, "No answer from 127.0.0.1 (UDP 10023): check Edit IP, the network and the firewall");
  ASSERT_EQ(renewals.size(), 3u);
  EXPECT_LT(renewals[0], 3000);
  for (std::size_t i = 1; i < renewals.size(); ++i) {
    const std::int64_t gap = renewals[i] - renewals[i - 1];
    EXPECT_GE(gap, 9950) << "renewal " << i;
    EXPECT_LE(gap, 10800) << "renewal " << i;
  }
  EXPECT_EQ(world_.Subscriptions(), 4) << "one more at the reset";
  EXPECT_EQ(world_.FaderMessages(), 0);
}

TEST_F(QuorlenTest, ClicksAndCloseRequestsDuringACycleAreDiscarded) {
  WriteConfig(kLoopbackConfig);
  bool pressed = false;
  long clickedAt = 0;
  ASSERT_TRUE(RunCycle({[] {},
                        [&] {
                          clickedAt = world_.idleCalls;
                          NullClick(EditIpButton);
                          NullClick(UpdatesButton);
                          NullRequestClose();
                          NullClick(FastOption);  // disabled: nothing happens
                          NullSpinStep(MinimumSpin, 1);
                        },
                        [&] {
                          if (pressed) {
                            // Until the window is idle: the reset's drains
                            // discard these, so none may change a setting.
                            NullClick(FastOption);
                            NullSelectListEntry(ChannelList, 7);
                          } else if (world_.idleCalls > clickedAt + 200) {
                            pressed = true;
                            EXPECT_EQ(NullWindowExists(), 1);
                            NullClick(ResetOffButton);
                          }
                        },
                        [] {
                          EXPECT_EQ(NullControlValue(FastOption), 0) << "chosen, with its step never set";
                          EXPECT_EQ(g_fade.step, kSpeedOptions[0].step);
                          EXPECT_EQ(NullControlValue(ChannelList), 0);
                          EXPECT_EQ(g_fade.selectedFader, 0);
                        }}));
  EXPECT_TRUE(NullStartedPrograms().empty());
  EXPECT_TRUE(NullOpenedPages().empty());
  EXPECT_TRUE(NullMessages().empty());
}

TEST_F(QuorlenTest, MissingAddressFileStartsTheEditorAsksForARestartAndEnds) {
  std::ofstream("config.ini") << "10\n0\n0\n1\n";  // the name in the message; never read
  bool idleReached = false;
  const int exitCode = Run([&] { idleReached = idleReached || world_.waiting; });
  EXPECT_EQ(exitCode, 0);
  EXPECT_FALSE(idleReached) << "the main loop never runs";
  ASSERT_EQ(NullMessages().size(), 2u);
  EXPECT_EQ(NullMessages()[0].title, "No config.ini");
  EXPECT_EQ(NullMessages()[0].text, "Please create the config.ini.\rEG.\r192\r168\r1\r16");
  EXPECT_EQ(NullMessages()[1].title, "Quorlen");
  EXPECT_EQ(NullMessages()[1].text, "Please, Restart The App");
  ASSERT_EQ(NullStartedPrograms().size(), 1u);
  EXPECT_EQ(NullStartedPrograms()[0].program, "Notepad.exe");
  EXPECT_EQ(NullStartedPrograms()[0].argument, "config.txt");
  EXPECT_EQ(NullStartedPrograms()[0].directory, "");
  EXPECT_EQ(NullWindowExists(), 0);
  EXPECT_FALSE(std::filesystem::exists("config.txt")) << "the program never creates the file";
  EXPECT_TRUE(world_.received.empty());
}

TEST_F(QuorlenTest, EditIpStartsTheEditorAndEndsEvenWhenTheEditorCannotStart) {
  WriteConfig(kLoopbackConfig);
  NullSetStartProgramResult(0);
  bool clicked = false;
  const int exitCode = Run([&] {
    if (!clicked && world_.waiting) {
      clicked = true;
      NullClick(EditIpButton);
    }
  });
  NullSetStartProgramResult(1);
  EXPECT_EQ(exitCode, 0);
  ASSERT_EQ(NullStartedPrograms().size(), 1u);
  EXPECT_EQ(NullStartedPrograms()[0].argument, "config.txt");
  ASSERT_EQ(NullMessages().size(), 1u);
  EXPECT_EQ(NullMessages()[0].text, "Please, Restart The App");
  EXPECT_EQ(NullWindowExists(), 0);
}

// VmHWM or VmRSS of this process in KiB.
long MemoryFigure(const char* name) {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == std::string(name) + ":") {
      long kib = 0;
      status >> kib;
      return kib;
    }
  }
  return -1;
}

TEST_F(QuorlenTest, ReadsTheAddressFileThroughAByteOrderMarkAndCarriesOctets) {
  struct Case {
    std::string bytes;
    const char* shown;
    std::size_t filler = 0;  // this many 'x' follow the first 4 bytes: one long first line
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF"
       "192\r\n168\r\n1\r\n16\r\n",
       "192.168.1.16"},
      {"300\r168\r1\r16", "44.169.1.16"},
      {"", "0.0.0.0"},
      {"192.168.1.16\n", "192.0.0.0"},
      // Files nobody meant as an address file still end at an address.
      {std::string("1\0"
                   "9\0"
                   "2\0"
                   "\r\0"
                   "\n\0",
                   10),
       "1.9.2.0"},  // UTF-16 without a byte-order mark
      {std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe\xfe\xff", 20), "0.0.0.0"},
      {"192 \r\n168\r\n1\r\n16", "192.168.1.16", 50u << 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    NullResetUi();
    NullSetIdleHook(OnIdle);
    WriteConfig(c.bytes.substr(0, c.filler ? 4 : std::string::npos));
    if (c.filler) {
      std::ofstream file("config.txt", std::ios::binary | std::ios::app);
      const std::string piece(1 << 16, 'x');
      for (std::size_t written = 0; written < c.filler; written += piece.size()) file << piece;
      file << c.bytes.substr(4);
    }
    // The peak is measured from here: writing 5 to clear_refs resets VmHWM.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = MemoryFigure("VmRSS");
    std::string shown;
    Run([&] {
      if (!world_.waiting) return;
      shown = NullControlText(MixerIpField);
      NullRequestClose();
    });
    EXPECT_EQ(shown, c.shown);
    if (c.filler) {
      const long growth = MemoryFigure("VmHWM") - before;
      std::printf("peak memory while reading a %zu MiB line: %ld KiB above the start\n", c.filler >> 20, growth);
      EXPECT_LT(growth, 16 * 1024) << "the line is not held in memory";
    }
  }
}

}  // namespace
