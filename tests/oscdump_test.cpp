// An independent decoder: liblo's oscdump listens on a loopback port and
// prints what the link sent, as "/address f value".
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "link/osc.h"
#include "link/clock.h"
#include "link/udp_socket.h"
#include "socket_support.h"
#include "link/mixer_link.h"

namespace {

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "";
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    std::string candidate = directories.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

int FreeLoopbackPort() {
  RawSocket probe = RawOpenSocket();
  int port = 0;
  if (probe != kNoSocket && RawBindLoopback(probe, 0)) port = RawLocalPort(probe);
  RawCloseSocket(probe);
  return port;
}

struct Dumper {
  pid_t pid = -1;
  int output = -1;
  std::string pending;
};

Dumper StartDumper(int port) {
  Dumper dumper;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return dumper;
  std::string portText = std::to_string(port);
  dumper.pid = fork();
  if (dumper.pid == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execlp("oscdump", "oscdump", "-L", portText.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[1]);
  dumper.output = pipeEnds[0];
  return dumper;
}

void StopDumper(Dumper& dumper) {
  if (dumper.pid > 0) {
    kill(dumper.pid, SIGTERM);
    waitpid(dumper.pid, nullptr, 0);
  }
  if (dumper.output >= 0) close(dumper.output);
}

// One printed message without oscdump's leading time tag ("eec0dc1c.6f674d15 "),
// or "" when none came within the wait.
std::string ReadLine(Dumper& dumper, int waitMilliseconds) {
  for (;;) {
    std::size_t end = dumper.pending.find('\n');
    if (end != std::string::npos) {
      std::string line = dumper.pending.substr(0, end);
      dumper.pending.erase(0, end + 1);
      std::size_t address = line.find('/');
      return address == std::string::npos ? line : line.substr(address);
    }
    pollfd readable{dumper.output, POLLIN, 0};
    if (poll(&readable, 1, waitMilliseconds) <= 0) return "";
    char chunk[256];
    ssize_t got = read(dumper.output, chunk, sizeof chunk);
    if (got <= 0) return "";
    dumper.pending.append(chunk, static_cast<std::size_t>(got));
  }
}

TEST(OscDump, DecodesTheFaderLevelAndTheSubscription) {
  if (!OnPath("oscdump")) GTEST_SKIP() << "oscdump (liblo-tools) is not installed";
  ASSERT_EQ(StartNetworking(), 1);
  int port = FreeLoopbackPort();
  ASSERT_NE(port, 0);
  MixerConnection link = OpenMixerLink("127.0.0.1", port);
  ASSERT_NE(link, nullptr);
  Dumper dumper = StartDumper(port);
  ASSERT_GT(dumper.pid, 0);

  unsigned char message[kMessageBlockSize];
  int faderLength = BuildOscMessage(message, kMessageBlockSize, "/ch/05/mix/fader", ",f", 0.5f);
  // oscdump needs a moment to start listening; repeat until it has printed.
  std::string line;
  for (int attempt = 0; attempt < 50 && line.empty(); ++attempt) {
    EXPECT_EQ(SendToMixer(link, message, faderLength), 28);
    line = ReadLine(dumper, 100);
  }
  EXPECT_EQ(line, "/ch/05/mix/fader f 0.500000");

  int remoteLength = BuildOscMessage(message, kMessageBlockSize, "/xremote", ",f", 0.0f);
  EXPECT_EQ(SendToMixer(link, message, remoteLength), 20);
  do line = ReadLine(dumper, 2000);
  while (line == "/ch/05/mix/fader f 0.500000");
  EXPECT_EQ(line, "/xremote f 0.000000");

  CloseMixerLink(link);
  StopDumper(dumper);
}

}  // namespace
