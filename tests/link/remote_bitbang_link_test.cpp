#include "link/remote_bitbang_link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "link/jtag_cable.h"

namespace zorv {
namespace {

// A loopback listener that takes one client, records every byte it sends and answers each 'R'
// from a script ('0' once the script is used up). closeAfter > 0 drops the client after that
// many bytes.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::string replies, size_t closeAfter = 0) : replies_(std::move(replies)) {
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
    char c;
    size_t next = 0;
    while (::recv(fd, &c, 1, 0) == 1) {
      received_ += c;
      if (closeAfter > 0 && received_.size() == closeAfter) break;
      if (c == 'R') {
        const char reply = next < replies_.size() ? replies_[next++] : '0';
        ::send(fd, &reply, 1, MSG_NOSIGNAL);
      }
    }
    ::close(fd);
  }

  std::string replies_;
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

}  // namespace
}  // namespace zorv
