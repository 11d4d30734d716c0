#include "link/remote_bitbang_link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/jtag_cable.h"

namespace zorv {
namespace {

// A loopback listener that takes one client, records every byte it sends and answers each 'R'
// from a script ('0' once the script is used up). closeAfter > 0 drops the client after that
// many bytes. With smallBuffers its socket buffers hold a few KiB: it stops reading soon after its
// answers are no longer taken. pauseMs > 0 reads nothing for so long after the first bytes.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::string replies, size_t closeAfter = 0, bool smallBuffers = false, int pauseMs = 0)
      : replies_(std::move(replies)), smallBuffers_(smallBuffers), pauseMs_(pauseMs) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(listenFd_, 1), 0);
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    thread_ = std::thread([this, closeAfter] { run(closeAfter); });
  }
  ~ScriptedServer() {
    ::shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
  }
  // Everything the client sent; call once the client has closed.
  std::string received() {
    thread_.join();
    thread_ = std::thread([] {});
    return received_;
  }

  uint16_t port = 0;

 private:
  void run(size_t closeAfter) {
    const int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) return;
    if (smallBuffers_) {
      const int sendBytes = 4096, receiveBytes = 65536;
      ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes);
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes);
    }
    char in[4096];
    size_t next = 0;
    bool closing = false;
    while (!closing) {
      const ssize_t got = ::recv(fd, in, sizeof in, 0);
      if (got <= 0) break;
      std::string replies;
      for (ssize_t i = 0; i < got && !closing; ++i) {
        received_ += in[i];
        closing = closeAfter > 0 && received_.size() == closeAfter;
        if (in[i] == 'R' && !closing) replies += next < replies_.size() ? replies_[next++] : '0';
      }
      if (!replies.empty()) ::send(fd, replies.data(), replies.size(), MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(std::exchange(pauseMs_, 0)));
    }
    ::close(fd);
  }

  std::string replies_;
  bool smallBuffers_;
  int pauseMs_;
  std::string received_;
  int listenFd_;
  std::thread thread_;
};

// Captures one bit per entry of tdo, each after a clock of its own.
void captureEach(RemoteBitbangLink& link, uint8_t* tdo, size_t count) {
  for (size_t i = 0; i < count; ++i) link.shiftBits("0", 1, false, {tdo + i, 0, 1});
}

TEST(RemoteBitbangLinkTest, ClocksBecomePinCommandsAndNtrstItsOwnCommands) {
  ScriptedServer server("");
  {
    RemoteBitbangLink link("127.0.0.1", server.port);
    JtagCable cable(link);
    ASSERT_TRUE(cable.grantPortAccess());
    ASSERT_TRUE(link.connected());
    ASSERT_EQ(cable.detectPort(), 0);
    cable.clockTck(0, 0);
    cable.clockTck(1, 1);
    cable.pulseTrst();
    EXPECT_EQ(link.roundTrips(), 0u);
  }
  // nTRST released first (the server's level is not known), TCK low then high for each clock.
  EXPECT_EQ(server.received(), "r" "04" "37" "tr" "Q");
}

// The end of a job gives the server back: goodbye, and the connection closed at once.
TEST(RemoteBitbangLinkTest, ReleaseSaysGoodbyeAndCloses) {
  ScriptedServer server("");
  RemoteBitbangLink link("127.0.0.1", server.port);
  ASSERT_TRUE(link.grantAccess());
  link.release();
  ASSERT_FALSE(link.connected());
  EXPECT_EQ(server.received(), "rQ");
}

TEST(RemoteBitbangLinkTest, CapturesArriveTogetherAtFlush) {
  ScriptedServer server("1011");
  RemoteBitbangLink link("localhost", server.port);
  link.grantAccess();
  uint8_t values[3] = {0xAA, 0xAA, 0xAA};
  captureEach(link, values, 3);
  EXPECT_EQ(values[0], 0xAA);  // nothing waited for yet
  EXPECT_EQ(link.roundTrips(), 0u);
  link.flush();
  EXPECT_EQ(link.roundTrips(), 1u);
  EXPECT_EQ(values[0], 0x40);
  EXPECT_EQ(values[1], 0x00);
  EXPECT_EQ(values[2], 0x40);
  link.flush();  // nothing pending: no round trip
  EXPECT_EQ(link.roundTrips(), 1u);
  captureEach(link, values, 1);
  link.flush();
  EXPECT_EQ(values[0], 0x40);
  EXPECT_EQ(link.roundTrips(), 2u);
}

TEST(RemoteBitbangLinkTest, UnreachableServerLooksLikeNoCable) {
  uint16_t closedPort;
  {
    ScriptedServer gone("");
    closedPort = gone.port;
  }
  RemoteBitbangLink link("127.0.0.1", closedPort);
  JtagCable cable(link);
  EXPECT_TRUE(cable.grantPortAccess());  // the job then says no cable answers
  EXPECT_FALSE(link.connected());
  EXPECT_NE(cable.detectPort(), 0);
  EXPECT_EQ(link.linkFailure(), "cannot connect to 127.0.0.1:" + std::to_string(closedPort) + " (Connection refused)");
  uint8_t status = 0;
  captureEach(link, &status, 1);
  link.flush();
  EXPECT_EQ(status, 0xFF);
  EXPECT_EQ(link.roundTrips(), 0u);
}

TEST(RemoteBitbangLinkTest, ServerLostMidScanFailsThePendingCaptures) {
  ScriptedServer server("", 2);  // hangs up after two bytes
  RemoteBitbangLink link("127.0.0.1", server.port);
  link.grantAccess();
  uint8_t status[2] = {0, 0};
  captureEach(link, status, 2);
  link.flush();
  EXPECT_EQ(status[0], 0xFF);
  EXPECT_EQ(status[1], 0xFF);
  EXPECT_FALSE(link.connected());
  EXPECT_FALSE(link.detect());
  EXPECT_EQ(link.linkFailure(), "connection to 127.0.0.1:" + std::to_string(server.port) + " lost");
}

TEST(RemoteBitbangLinkTest, AnswerOutsideTheProtocolEndsTheLinkWithItsCause) {
  ScriptedServer server("1x1");
  RemoteBitbangLink link("127.0.0.1", server.port);
  link.grantAccess();
  uint8_t status[3] = {0, 0, 0};
  captureEach(link, status, 3);
  link.flush();
  EXPECT_EQ(status[0], 0x40);
  EXPECT_EQ(status[1], 0xFF);
  EXPECT_EQ(status[2], 0xFF);
  EXPECT_EQ(link.linkFailure(), "127.0.0.1:" + std::to_string(server.port) + " answered outside the protocol");
  EXPECT_FALSE(link.detect());  // absent from then on
  link.grantAccess();           // the next job starts afresh
  EXPECT_EQ(link.linkFailure(), "");
}

// Megabytes of reads in flight to a server whose socket buffers hold a few KiB: blocked on sending
// its answers, it reads nothing more, so the link must take them in as it sends. One wait at the
// end, and every bit answered.
TEST(RemoteBitbangLinkTest, AnswersAreTakenInWhileSendingSoAServerThatAnswersLateCannotDeadlockIt) {
  ScriptedServer server("", 0, true);
  RemoteBitbangLink link("127.0.0.1", server.port, 2000);
  link.grantAccess();
  constexpr uint32_t kBits = 3u << 20;  // 9 MiB of commands, 3 MiB of answers
  const std::vector<char> tdi(kBits, '0');
  std::vector<uint8_t> tdo(kBits, 0xAA);
  link.shiftBits(tdi.data(), kBits, false, {tdo.data(), 0, kBits});
  link.flush();
  EXPECT_EQ(link.linkFailure(), "");
  EXPECT_EQ(link.roundTrips(), 1u);
  EXPECT_EQ(static_cast<uint32_t>(std::count(tdo.begin(), tdo.end(), uint8_t{0})), kBits);
}

// A stop seen while the link waits to send the middle of a long scan: the scan goes out to its
// end in Run-Test/Idle (a server without nTRST wired resets through the TAP, past Update-DR),
// nothing after it does, and a capture still unanswered when the caller waits for it reads as
// absent.
TEST(RemoteBitbangLinkTest, AStopInTheMiddleOfAScanSendsTheScanToItsEndAndNothingMore) {
  ScriptedServer server("", 0, false, 500);
  constexpr uint32_t kBits = 3u << 20;  // 6 MiB of commands: more than the socket buffers take
  const std::vector<char> tdi(kBits, '1');
  std::atomic<int> stop{0};
  {
    RemoteBitbangLink link("127.0.0.1", server.port);
    link.watchStopFlag(&stop);
    ASSERT_TRUE(link.grantAccess());
    std::thread stopper([&stop] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the server is not reading
      stop = 1;
    });
    link.clockTms(0b0010, 4, false);  // Run-Test/Idle to Shift-DR
    uint8_t tdo = 0;
    link.shiftBits(tdi.data(), kBits - 1, false, {&tdo, kBits - 2, 1});
    stopper.join();
    link.flush();
    EXPECT_EQ(tdo, 0xFF);
    link.shiftBits(tdi.data(), 1, true, {});
    link.clockTms(0b01, 2, false);  // Update-DR, Run-Test/Idle
    EXPECT_EQ(link.linkFailure(), "stopped while waiting for 127.0.0.1:" + std::to_string(server.port));
    EXPECT_FALSE(link.connected());
    link.clockTms(0b0010, 4, false);  // the next scan goes nowhere
    link.shiftBits(tdi.data(), 100, true, {});
    link.flush();
  }
  const std::string sent = server.received();
  // Each clock is a pin digit with TCK low, then one with TCK high ('4' to '7').
  EXPECT_EQ(static_cast<uint64_t>(std::count_if(sent.begin(), sent.end(), [](char c) { return c >= '4' && c <= '7'; })),
            4u + kBits + 2u);
}

}  // namespace
}  // namespace zorv
