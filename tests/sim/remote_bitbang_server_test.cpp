#include "sim/remote_bitbang_server.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "link/jtag_cable.h"
#include "cable/recording_port.h"
#include "link/remote_bitbang_link.h"
#include "sim/board.h"
#include "targets/catalogue.h"

namespace zorv::sim {
namespace {

TEST(RemoteBitbangServerTest, CommandsDriveTheDataPortAndAnswerTdo) {
  RecordingPort board;
  RemoteBitbangServer server(board);
  char reply[4];
  size_t replies = 0;
  for (char c : std::string("5tu0rs7Bb")) EXPECT_TRUE(server.execute(c, reply, replies));
  // nTRST (bit 3) is released by 'r'/'s', asserted by 't'/'u'; the digit keeps the reset line.
  EXPECT_EQ(board.writtenBytes(), (std::vector<uint8_t>{0x0D, 0x05, 0x05, 0x00, 0x08, 0x08, 0x0F}));
  EXPECT_EQ(replies, 0u);

  board.statusDefault = 0x40;
  server.execute('R', reply, replies);
  board.statusDefault = 0xBF;  // every other status bit set: still TDO low
  server.execute('R', reply, replies);
  EXPECT_EQ(std::string(reply, replies), "10");
  EXPECT_FALSE(server.execute('Q', reply, replies));
}

// A board served on loopback and a cable that reaches it through the remote port.
struct LoopbackTest : ::testing::Test {
  std::unique_ptr<Board> board = makeBoard("chip=TQR2400,nand=none,nor=none");
  RemoteBitbangServer server{*board};
  std::thread serving;

  void SetUp() override {
    server.listen(0);
    serving = std::thread([this] { server.serve(); });
  }
  // Stops the server; afterwards the board may be inspected from this thread.
  void stopServing() {
    if (!serving.joinable()) return;
    server.stop();
    serving.join();
  }
  void TearDown() override { stopServing(); }

  static void openChip(JtagCable& cable) {
    ASSERT_TRUE(cable.grantPortAccess());
    ASSERT_EQ(cable.detectPort(), 0);
    cable.pulseTrst();
    cable.resetTap();
    char name[16];
    loadChip(cable, Tqr2400, name, ChipVariant::Boundary);
  }
};

TEST_F(LoopbackTest, ReadsTheIdCodeWithOneRoundTripPerCapturingScan) {
  RemoteBitbangLink port("127.0.0.1", server.port());
  JtagCable cable(port);
  openChip(cable);
  EXPECT_EQ(port.roundTrips(), 0u);

  std::string message;
  EXPECT_EQ(cable.readIdCode(message), 0x100015B9u);
  EXPECT_EQ(message, "  JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)\r\n");
  EXPECT_EQ(port.roundTrips(), 1u);

  cable.loadExtest();
  std::string image(static_cast<size_t>(cable.bsrLength), '0');
  for (size_t i = 0; i < image.size(); i += 3) image[i] = '1';
  cable.shiftDr(image.data(), cable.bsrLength);
  cable.shiftDr(image.data(), cable.bsrLength);
  EXPECT_EQ(port.roundTrips(), 1u);

  std::string captured(image.size(), ' ');
  cable.shiftDrCapture(image.data(), captured.data(), cable.bsrLength);
  EXPECT_EQ(port.roundTrips(), 2u);
  EXPECT_EQ(captured, image);  // the update latch, captured back
}

TEST_F(LoopbackTest, BufferedBytesReachTheBoardAndItsStateOutlivesTheConnection) {
  std::string image;
  {
    RemoteBitbangLink port("127.0.0.1", server.port());
    JtagCable cable(port);
    openChip(cable);
    cable.loadExtest();
    image.assign(static_cast<size_t>(cable.bsrLength), '1');
    image[0] = image[5] = '0';
    cable.shiftDr(image.data(), cable.bsrLength);  // nothing is read: the bytes wait in the port
  }
  {
    RemoteBitbangLink port("127.0.0.1", server.port());
    JtagCable cable(port);
    ASSERT_TRUE(cable.grantPortAccess());
    // No presence test: its test byte holds nTRST low, which would reset the TAP.
    cable.dataPort = kLptDataPort;
    cable.statusPort = kLptStatusPort;
    std::string captured(image.size(), ' ');
    cable.shiftDrCapture(image.data(), captured.data(), static_cast<int>(image.size()));
    EXPECT_EQ(captured, image);
    cable.pulseTrst();
    uint8_t tdo = 0;  // a round trip: the server has played every byte before it
    port.shiftBits("0", 1, false, {&tdo, 0, 1});
    port.flush();
  }
  stopServing();
  EXPECT_EQ(server.connectionsServed(), 2u);
  EXPECT_EQ(board->drivenPins(), image);
  EXPECT_FALSE(board->extestActive());  // the closing nTRST pulse arrived
}

}  // namespace
}  // namespace zorv::sim
