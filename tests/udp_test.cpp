// The link over real loopback sockets. A test "console" socket bound on
// 127.0.0.1 stands in for the mixer; the link is opened for its port.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "link/fader_table.h"
#include "link/osc.h"
#include "link/clock.h"
#include "link/udp_socket.h"
#include "socket_support.h"
#include "link/mixer_link.h"
#include "app/console.h"

namespace {

constexpr std::uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order
constexpr unsigned char kJunk = 0x74;
constexpr int kWaitMilliseconds = 2000;

// A bound, non-blocking loopback socket playing the console (or a stranger).
struct Peer {
  RawSocket socket = kNoSocket;
  int port = 0;
};

Peer OpenPeer() {
  Peer peer;
  peer.socket = RawOpenSocket();
  if (peer.socket != kNoSocket && RawBindLoopback(peer.socket, 0) && RawSetNonBlocking(peer.socket))
    peer.port = RawLocalPort(peer.socket);
  return peer;
}

// Waits for one datagram at the peer; returns its length, or -1 after the wait.
int PeerReceive(const Peer& peer, unsigned char* buffer, int capacity, int* fromPort) {
  for (int waited = 0; waited < kWaitMilliseconds; ++waited) {
    int received = RawReceiveFrom(peer.socket, buffer, capacity, nullptr, fromPort);
    if (received >= 0) return received;
    SleepMilliseconds(1);
  }
  return -1;
}

std::vector<unsigned char> Pattern(int length, unsigned char seed) {
  std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
  for (int i = 0; i < length; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<unsigned char>(seed + i * 7);
  return bytes;
}

class MixerLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(StartNetworking(), 1);
    console = OpenPeer();
    ASSERT_NE(console.port, 0);
    link = OpenMixerLink("127.0.0.1", console.port);
    ASSERT_NE(link, nullptr);
  }

  void TearDown() override {
    CloseMixerLink(link);
    RawCloseSocket(console.socket);
    RawCloseSocket(stranger.socket);
  }

  // Sends from the link so that it gets its local port; the console eats it.
  int BindLinkBySending() {
    unsigned char message[kMessageBlockSize];
    int length = BuildOscMessage(message, kMessageBlockSize, "/xremote", ",f", 0.0f);
    EXPECT_EQ(SendToMixer(link, message, length), 20);
    unsigned char received[64];
    EXPECT_EQ(PeerReceive(console, received, sizeof received, nullptr), 20);
    return LocalPortOfMixerLink(link);
  }

  int SendToLink(const Peer& from, const std::vector<unsigned char>& bytes) {
    static const unsigned char nothing = 0;
    return RawSendTo(from.socket, kLoopback, LocalPortOfMixerLink(link), bytes.empty() ? &nothing : bytes.data(),
                     static_cast<int>(bytes.size()));
  }

  // Polls until a datagram is pending; returns the poll's result (2, or 0
  // when none came), after polls that found nothing returned 0.
  int PollUntilPending() {
    for (int waited = 0; waited < kWaitMilliseconds; ++waited) {
      int result = PollMixerLink(link);
      if (result != 0) return result;
      SleepMilliseconds(1);
    }
    return 0;
  }

  Peer console;
  Peer stranger;
  MixerConnection link = nullptr;
};

TEST_F(MixerLinkTest, FreshLinkHasNoPortAndReceivesNothing) {
  EXPECT_EQ(LocalPortOfMixerLink(link), 0);
  EXPECT_EQ(PollMixerLink(link), 0);
  unsigned char buffer[16];
  EXPECT_EQ(ReceiveFromMixer(link, buffer, sizeof buffer), 0);
  EXPECT_EQ(LastSenderOfMixerLink(link, nullptr, nullptr), 0);
  EXPECT_EQ(ConsoleAddressOfMixerLink(link), kLoopback);
}

TEST_F(MixerLinkTest, SubscriptionArrivesAsTwentyBytesFromTheLinksPort) {
  unsigned char message[kMessageBlockSize];
  int length = BuildOscMessage(message, kMessageBlockSize, "/xremote", ",f", 0.0f);
  ASSERT_EQ(SendToMixer(link, message, length), 20);

  unsigned char received[kMessageBlockSize];
  int fromPort = 0;
  ASSERT_EQ(PeerReceive(console, received, sizeof received, &fromPort), 20);
  EXPECT_EQ(std::memcmp(received, message, 20), 0);
  EXPECT_NE(LocalPortOfMixerLink(link), 0);
  EXPECT_EQ(fromPort, LocalPortOfMixerLink(link));
  EXPECT_EQ(PollMixerLink(link), 0);  // nothing came back
}

TEST_F(MixerLinkTest, FaderReportIsReadWholeAndLeavesTheRestOfTheBuffer) {
  BindLinkBySending();
  unsigned char report[kMessageBlockSize];
  int length = BuildOscMessage(report, kMessageBlockSize, "/ch/05/mix/fader", ",f", 0.75f);
  ASSERT_EQ(SendToLink(console, std::vector<unsigned char>(report, report + length)), 28);

  ASSERT_EQ(PollUntilPending(), 2);
  unsigned char buffer[kMessageBlockSize];
  std::memset(buffer, kJunk, sizeof buffer);
  ASSERT_EQ(ReceiveFromMixer(link, buffer, kMessageBlockSize), 28);
  EXPECT_EQ(std::memcmp(buffer, report, 28), 0);
  for (int i = 28; i < kMessageBlockSize; ++i) ASSERT_EQ(buffer[i], kJunk) << "byte " << i;
  EXPECT_EQ(LoadFloatBigEndian(buffer + kFaderLevelOffset), 0.75f);
  EXPECT_EQ(ReceiveFromMixer(link, buffer, kMessageBlockSize), 0);

  std::uint32_t address = 0;
  int port = 0;
  ASSERT_EQ(LastSenderOfMixerLink(link, &address, &port), 1);
  EXPECT_EQ(address, kLoopback);
  EXPECT_EQ(port, console.port);
}

TEST_F(MixerLinkTest, PartialReadsAdvanceThroughTheDatagram) {
  BindLinkBySending();
  std::vector<unsigned char> datagram = Pattern(28, 1);
  ASSERT_EQ(SendToLink(console, datagram), 28);
  ASSERT_EQ(PollUntilPending(), 2);

  unsigned char buffer[10];
  std::vector<unsigned char> read;
  const int expected[] = {10, 10, 8, 0};
  for (int count : expected) {
    std::memset(buffer, kJunk, sizeof buffer);
    ASSERT_EQ(ReceiveFromMixer(link, buffer, sizeof buffer), count);
    read.insert(read.end(), buffer, buffer + count);
    if (count < 10) {
      EXPECT_EQ(buffer[count], kJunk);
    }
  }
  EXPECT_EQ(read, datagram);
  EXPECT_EQ(ReceiveFromMixer(link, buffer, 0), 0);
}

TEST_F(MixerLinkTest, PollTakesOneDatagramAtATimeAndReplacesAnUnreadOne) {
  BindLinkBySending();
  std::vector<unsigned char> first = Pattern(28, 10);
  std::vector<unsigned char> second = Pattern(20, 90);
  std::vector<unsigned char> third = Pattern(12, 200);
  ASSERT_EQ(SendToLink(console, first), 28);
  ASSERT_EQ(SendToLink(console, second), 20);
  ASSERT_EQ(SendToLink(console, third), 12);

  unsigned char buffer[kMessageBlockSize];
  ASSERT_EQ(PollUntilPending(), 2);
  ASSERT_EQ(ReceiveFromMixer(link, buffer, sizeof buffer), 28);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer));

  // The second is read only in part; the third replaces what is left of it.
  ASSERT_EQ(PollUntilPending(), 2);
  ASSERT_EQ(ReceiveFromMixer(link, buffer, 5), 5);
  EXPECT_TRUE(std::equal(second.begin(), second.begin() + 5, buffer));
  ASSERT_EQ(PollUntilPending(), 2);
  ASSERT_EQ(ReceiveFromMixer(link, buffer, sizeof buffer), 12);
  EXPECT_TRUE(std::equal(third.begin(), third.end(), buffer));
  EXPECT_EQ(PollMixerLink(link), 0);
}

TEST_F(MixerLinkTest, LongestDatagramIsTakenWholeAndALongerOneDropped) {
  BindLinkBySending();
  std::vector<unsigned char> longest = Pattern(kMessageBlockSize, 3);
  ASSERT_EQ(SendToLink(console, longest), kMessageBlockSize);
  ASSERT_EQ(PollUntilPending(), 2);
  std::vector<unsigned char> buffer(kMessageBlockSize + 16, kJunk);
  ASSERT_EQ(ReceiveFromMixer(link, buffer.data(), static_cast<int>(buffer.size())), kMessageBlockSize);
  EXPECT_TRUE(std::equal(longest.begin(), longest.end(), buffer.begin()));

  // 2049 and a much longer one are discarded by the poll; the next one is taken.
  ASSERT_EQ(SendToLink(console, Pattern(kMessageBlockSize + 1, 5)), kMessageBlockSize + 1);
  ASSERT_EQ(SendToLink(console, Pattern(6000, 6)), 6000);
  std::vector<unsigned char> after = Pattern(9, 50);
  ASSERT_EQ(SendToLink(console, after), 9);
  ASSERT_EQ(PollUntilPending(), 2);
  std::fill(buffer.begin(), buffer.end(), kJunk);
  ASSERT_EQ(ReceiveFromMixer(link, buffer.data(), static_cast<int>(buffer.size())), 9);
  EXPECT_TRUE(std::equal(after.begin(), after.end(), buffer.begin()));
}

TEST_F(MixerLinkTest, EmptyDatagramIsConsumedWithoutBeingTaken) {
  BindLinkBySending();
  ASSERT_EQ(SendToLink(console, {}), 0);
  std::vector<unsigned char> after = Pattern(4, 77);
  ASSERT_EQ(SendToLink(console, after), 4);
  ASSERT_EQ(PollUntilPending(), 2);
  unsigned char buffer[16];
  ASSERT_EQ(ReceiveFromMixer(link, buffer, sizeof buffer), 4);
  EXPECT_TRUE(std::equal(after.begin(), after.end(), buffer));
}

TEST_F(MixerLinkTest, DatagramFromAnotherSenderIsTakenToo) {
  BindLinkBySending();
  stranger = OpenPeer();
  ASSERT_NE(stranger.port, 0);
  std::vector<unsigned char> datagram = Pattern(28, 33);
  ASSERT_EQ(SendToLink(stranger, datagram), 28);
  ASSERT_EQ(PollUntilPending(), 2);

  std::uint32_t address = 0;
  int port = 0;
  ASSERT_EQ(LastSenderOfMixerLink(link, &address, &port), 1);
  EXPECT_EQ(address, kLoopback);
  EXPECT_EQ(port, stranger.port);
  unsigned char buffer[kMessageBlockSize];
  ASSERT_EQ(ReceiveFromMixer(link, buffer, sizeof buffer), 28);
  EXPECT_TRUE(std::equal(datagram.begin(), datagram.end(), buffer));
}

TEST_F(MixerLinkTest, ReceiveErrorIsConsumedAndTheLinkGoesOn) {
  BindLinkBySending();
  const int reported = RawReportUnreachable(SocketOfMixerLink(link));
  // The console goes away, and the next datagram sent to it comes back as an
  // ICMP port unreachable, which the next receive reports.
  RawCloseSocket(console.socket);
  console.socket = kNoSocket;
  unsigned char message[kMessageBlockSize];
  ASSERT_EQ(SendToMixer(link, message, BuildOscMessage(message, kMessageBlockSize, "/xremote", ",f", 0.0f)), 20);
  SleepMilliseconds(20);
  stranger = OpenPeer();
  std::vector<unsigned char> datagram = Pattern(28, 61);
  ASSERT_EQ(SendToLink(stranger, datagram), 28);
  SleepMilliseconds(20);  // let it arrive, so the failing poll has one waiting behind it

  if (reported) {
    EXPECT_EQ(PollMixerLink(link), 0);
  }
  ASSERT_EQ(PollUntilPending(), 2);
  unsigned char buffer[kMessageBlockSize];
  ASSERT_EQ(ReceiveFromMixer(link, buffer, sizeof buffer), 28);
  EXPECT_TRUE(std::equal(datagram.begin(), datagram.end(), buffer));

  // Sending still works after the error.
  EXPECT_EQ(SendToMixer(link, message, 20), 20);
}

TEST_F(MixerLinkTest, SendToAClosedPortStillSucceedsAndPollsFindNothing) {
  Peer gone = OpenPeer();
  int port = gone.port;
  RawCloseSocket(gone.socket);
  MixerConnection nobody = OpenMixerLink("127.0.0.1", port);
  ASSERT_NE(nobody, nullptr);
  unsigned char message[kMessageBlockSize];
  int length = BuildOscMessage(message, kMessageBlockSize, "/xremote", ",f", 0.0f);
  EXPECT_EQ(SendToMixer(nobody, message, length), 20);
  SleepMilliseconds(20);
  EXPECT_EQ(PollMixerLink(nobody), 0);
  EXPECT_EQ(PollMixerLink(nobody), 0);
  EXPECT_EQ(SendToMixer(nobody, message, length), 20);
  CloseMixerLink(nobody);
}

TEST_F(MixerLinkTest, RemoteSubscriptionAndPauseSendsThenSleeps) {
  std::int64_t before = ClockMilliseconds();
  SendRemoteSubscriptionAndPause(link);
  std::int64_t after = ClockMilliseconds();
  EXPECT_GE(after - before, 20);

  unsigned char received[kMessageBlockSize];
  int fromPort = 0;
  ASSERT_EQ(PeerReceive(console, received, sizeof received, &fromPort), 20);
  unsigned char expected[kMessageBlockSize];
  BuildOscMessage(expected, kMessageBlockSize, "/xremote", ",f", 0.0f);
  EXPECT_EQ(std::memcmp(received, expected, 20), 0);
  EXPECT_EQ(fromPort, LocalPortOfMixerLink(link));
}

TEST(MixerLinkOpening, AllOnesAddressAndEmptyTextsGiveNoLink) {
  ASSERT_EQ(StartNetworking(), 1);
  EXPECT_EQ(OpenMixerLink("255.255.255.255", kMixerPort), nullptr);
  EXPECT_EQ(OpenMixerLink(nullptr, kMixerPort), nullptr);
  EXPECT_EQ(OpenMixerLink("", kMixerPort), nullptr);
  EXPECT_EQ(OpenMixerLink("127.0.0.1", 0), nullptr);
  EXPECT_EQ(OpenMixerLink("127.0.0.1", 70000), nullptr);

  MixerConnection link = OpenMixerLink("127.0.0.2", kMixerPort);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(ConsoleAddressOfMixerLink(link), 0x0200007Fu);
  EXPECT_EQ(ConsolePortOfMixerLink(link), kMixerPort);
  CloseMixerLink(link);
}

TEST(MixerLinkOpening, BroadcastAddressOpensButEverySendIsRefused) {
  ASSERT_EQ(StartNetworking(), 1);
  MixerConnection link = OpenMixerLink("127.255.255.255", kMixerPort);
  ASSERT_NE(link, nullptr);
  unsigned char message[kMessageBlockSize];
  int length = BuildOscMessage(message, kMessageBlockSize, "/xremote", ",f", 0.0f);
  EXPECT_EQ(SendToMixer(link, message, length), -1);
  EXPECT_EQ(SendToMixer(link, message, length), -1);
  EXPECT_EQ(PollMixerLink(link), 0);
  CloseMixerLink(link);
}

TEST(MixerLinkOpening, EmptyHandleOperationsReturnAtOnce) {
  unsigned char buffer[kMessageBlockSize];
  std::memset(buffer, kJunk, sizeof buffer);
  EXPECT_EQ(PollMixerLink(nullptr), 0);
  EXPECT_EQ(ReceiveFromMixer(nullptr, buffer, sizeof buffer), 0);
  EXPECT_EQ(SendToMixer(nullptr, buffer, 20), -1);
  CloseMixerLink(nullptr);
  std::uint32_t address = 1;
  int port = 1;
  EXPECT_EQ(LastSenderOfMixerLink(nullptr, &address, &port), 0);
  EXPECT_EQ(address, 1u);
  EXPECT_EQ(ConsoleAddressOfMixerLink(nullptr), 0u);
  EXPECT_EQ(ConsolePortOfMixerLink(nullptr), 0);
  EXPECT_EQ(LocalPortOfMixerLink(nullptr), 0);
  EXPECT_EQ(buffer[0], kJunk);

  SendRemoteSubscriptionAndPause(nullptr);  // nothing to send through; still just sleeps
}

TEST(MixerLinkNetworking, StartTwiceAndStopReleasesOpenLinks) {
  EXPECT_EQ(StartNetworking(), 1);
  EXPECT_EQ(StartNetworking(), 1);

  // Stopping releases links never closed (the sanitizer build sees a leak otherwise).
  MixerConnection one = OpenMixerLink("127.0.0.1", kMixerPort);
  ASSERT_NE(one, nullptr);
  MixerConnection other = OpenMixerLink("127.0.0.1", kMixerPort);
  ASSERT_NE(other, nullptr);
  StopNetworking();
  StopNetworking();  // a second stop does nothing

  ASSERT_EQ(StartNetworking(), 1);
  MixerConnection again = OpenMixerLink("127.0.0.1", kMixerPort);
  EXPECT_NE(again, nullptr);
  CloseMixerLink(again);
  CloseMixerLink(again);  // closing twice is harmless
}

}  // namespace
