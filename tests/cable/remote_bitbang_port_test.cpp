#include "cable/remote_bitbang_port.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "cable/jtag_cable.h"

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

TEST(RemoteBitbangPortTest, DataBytesBecomePinCommandsWithNtrstOnlyWhenItChanges) {
  ScriptedServer server("");
  {
    RemoteBitbangPort port("127.0.0.1", server.port);
    JtagCable cable(port);
    ASSERT_TRUE(cable.grantPortAccess());
    ASSERT_TRUE(port.connected());
    ASSERT_EQ(cable.detectPort(), 0);  // 0x55 (nTRST low) then 0x0C; reads back the byte written
    cable.clockTck(0, 0);
    cable.clockTck(1, 1);
    cable.pulseTrst();
    port.write(kLptStatusPort, 0x0F);  // only the data port drives pins
    port.write(kLptDataPort, 0xF9);    // bits 4-7 carry nothing
    EXPECT_EQ(port.roundTrips(), 0u);
  }
  EXPECT_EQ(server.received(), "t5r4" "04" "37" "4t4r4" "1Q");
}

TEST(RemoteBitbangPortTest, DeferredStatusReadsArriveTogetherAtFlush) {
  ScriptedServer server("1011");
  RemoteBitbangPort port("localhost", server.port);
  port.grantAccess();
  uint8_t values[3] = {0xAA, 0xAA, 0xAA};
  for (auto& v : values) port.readDeferred(kLptStatusPort, &v);
  EXPECT_EQ(values[0], 0xAA);  // nothing waited for yet
  EXPECT_EQ(port.roundTrips(), 0u);
  port.flush();
  EXPECT_EQ(port.roundTrips(), 1u);
  EXPECT_EQ(values[0], 0x40);
  EXPECT_EQ(values[1], 0x00);
  EXPECT_EQ(values[2], 0x40);
  port.flush();  // nothing pending: no round trip
  EXPECT_EQ(port.roundTrips(), 1u);
  EXPECT_EQ(port.read(kLptStatusPort), 0x40);
  EXPECT_EQ(port.roundTrips(), 2u);
}

TEST(RemoteBitbangPortTest, UnreachableServerLooksLikeNoPort) {
  uint16_t closedPort;
  {
    ScriptedServer gone("");
    closedPort = gone.port;
  }
  RemoteBitbangPort port("127.0.0.1", closedPort);
  JtagCable cable(port);
  EXPECT_TRUE(cable.grantPortAccess());  // the job then says no port answers
  EXPECT_FALSE(port.connected());
  EXPECT_NE(cable.detectPort(), 0);
  uint8_t status = 0;
  port.readDeferred(kLptStatusPort, &status);
  port.flush();
  EXPECT_EQ(status, 0xFF);
  EXPECT_EQ(port.roundTrips(), 0u);
}

TEST(RemoteBitbangPortTest, ServerLostMidScanFailsThePendingReads) {
  ScriptedServer server("", 2);  // hangs up after two bytes
  RemoteBitbangPort port("127.0.0.1", server.port);
  port.grantAccess();
  port.write(kLptDataPort, 0x0C);  // "r4"
  uint8_t status[2] = {0, 0};
  port.readDeferred(kLptStatusPort, &status[0]);
  port.readDeferred(kLptStatusPort, &status[1]);
  port.flush();
  EXPECT_EQ(status[0], 0xFF);
  EXPECT_EQ(status[1], 0xFF);
  EXPECT_FALSE(port.connected());
  EXPECT_EQ(port.read(kLptDataPort), 0xFF);
  EXPECT_EQ(port.linkFailure(), "connection to 127.0.0.1:" + std::to_string(server.port) + " lost");
}

TEST(RemoteBitbangPortTest, AnswerOutsideTheProtocolEndsTheLinkWithItsCause) {
  ScriptedServer server("1x1");
  RemoteBitbangPort port("127.0.0.1", server.port);
  port.grantAccess();
  uint8_t status[3] = {0, 0, 0};
  for (auto& s : status) port.readDeferred(kLptStatusPort, &s);
  port.flush();
  EXPECT_EQ(status[0], 0x40);
  EXPECT_EQ(status[1], 0xFF);
  EXPECT_EQ(status[2], 0xFF);
  EXPECT_EQ(port.linkFailure(), "127.0.0.1:" + std::to_string(server.port) + " answered outside the protocol");
  EXPECT_EQ(port.read(kLptStatusPort), 0xFF);  // absent from then on
  port.grantAccess();                          // the next job starts afresh
  EXPECT_EQ(port.linkFailure(), "");
}

}  // namespace
}  // namespace zorv
