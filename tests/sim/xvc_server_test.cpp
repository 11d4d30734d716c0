#include "sim/xvc_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cable_choice/cable_port.h"
#include "sim/board.h"
#include "sim/nand_device.h"
#include "sim/nor_attach.h"
#include "sim/remote_bitbang_server.h"

namespace zorv::sim {
namespace {

// A board served over XVC from a thread of this process, for as long as the object lives.
struct ServedBoard {
  std::unique_ptr<Board> board;
  NandDevice* nand = nullptr;
  AttachedNor nor;
  std::unique_ptr<XvcServer> server;
  std::thread thread;

  ServedBoard(const std::string& options, size_t maxVectorBytes) {
    BoardOptions parsed = parseBoardOptions(options);
    board = std::make_unique<Board>(parsed);
    nand = &attachNandDevice(*board, NandDeviceConfig{});
    nor = attachNorDevice(*board, parsed);
    server = std::make_unique<XvcServer>(*board, maxVectorBytes);
    server->listen(0);
    thread = std::thread([this] { server->serve(); });
  }
  ~ServedBoard() {
    server->stop();
    thread.join();
  }
  std::string cable() const { return "--cable xvc:127.0.0.1:" + std::to_string(server->port()); }
};

int connectTo(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return fd;
}

// Sends request and reads until the server has said `expected` bytes or closed the connection.
std::string talk(int fd, const std::string& request, size_t expected = 64) {
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[64];
  while (answer.size() < expected) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    answer.append(buffer, static_cast<size_t>(got));
  }
  return answer;
}

TEST(XvcServerTest, MalformedClientLosesItsConnectionAndTheNextIsServed) {
  ServedBoard served("chip=OBRIN", 2048);
  const std::string info = "xvcServer_v1.0:2048\n";
  int fd = connectTo(served.server->port());
  EXPECT_EQ(talk(fd, "getinfo:hello:"), info) << "the unknown command closes the connection";
  ::close(fd);
  fd = connectTo(served.server->port());
  EXPECT_EQ(talk(fd, std::string("shift:\x01\x40\0\0", 10)), "") << "2049 bytes per vector are too many";
  ::close(fd);
  fd = connectTo(served.server->port());
  EXPECT_EQ(talk(fd, std::string("settck:\x64\0\0\0", 11), 4), std::string("\x64\0\0\0", 4));
  // Five clocks with TMS high reach Test-Logic-Reset, where the board's TDO is the IDCODE's bit 0.
  EXPECT_EQ(talk(fd, std::string("shift:\x05\0\0\0\x1f\x00", 12), 1).size(), 1u);
  ::close(fd);
  fd = connectTo(served.server->port());
  EXPECT_EQ(talk(fd, std::string(40, 'g')), "") << "a name without a colon ends at the name's room";
  ::close(fd);
  EXPECT_EQ(served.server->connectionsServed(), 4u);
}

TEST(XvcServerTest, IdleClientIsDroppedAndAStopEndsALongShiftSoon) {
  ServedBoard served("chip=OBRIN", size_t{4} << 20);
  served.server->setIdleLimitMs(200);
  const int idle = connectTo(served.server->port());
  const int next = connectTo(served.server->port());
  const timeval patience{5, 0};  // a server that never drops the idle client fails the test, not hangs it
  ::setsockopt(next, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  EXPECT_EQ(talk(next, "getinfo:", 21), "xvcServer_v1.0:4194304\n") << "served once the idle one is dropped";
  // Millions of bits take the board seconds; the stop must not wait for their end.
  const uint32_t bits = 32u << 20;
  std::string shift = "shift:" + std::string(4, '\0') + std::string(2 * (bits / 8), '\0');
  for (int i = 0; i < 4; ++i) shift[6 + i] = static_cast<char>(bits >> (8 * i));
  ASSERT_EQ(::send(next, shift.data(), shift.size(), MSG_NOSIGNAL), static_cast<ssize_t>(shift.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  served.server->stop();
  served.thread.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  served.thread = std::thread([] {});
  ::close(idle);
  ::close(next);
}

// Bytes that each come within the idle limit do not stretch it: one message (an XVC command; up to
// a read or 4096 remote_bitbang commands) has one idle limit to arrive, so a client trickling
// one byte at a time cannot hold a server that serves one client at a time.
TEST(XvcServerTest, AClientTricklingItsMessageIsDroppedAtOneIdleLimit) {
  ServedBoard xvc("chip=OBRIN", 2048);
  xvc.server->setIdleLimitMs(400);
  std::unique_ptr<Board> board = makeBoard("chip=OBRIN");
  RemoteBitbangServer bitbang(*board);
  bitbang.setIdleLimitMs(400);
  bitbang.listen(0);
  std::thread serving([&bitbang] { bitbang.serve(); });
  for (const bool isXvc : {true, false}) {
    SCOPED_TRACE(isXvc ? "xvc" : "remote_bitbang");
    const int fd = connectTo(isXvc ? xvc.server->port() : bitbang.port());
    const std::string message = isXvc ? "getinfo:" : std::string(20, '0');
    bool dropped = false;
    for (size_t i = 0; i < message.size() && !dropped; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      char ignored;
      dropped = ::send(fd, message.data() + i, 1, MSG_NOSIGNAL) != 1 || ::recv(fd, &ignored, 1, MSG_DONTWAIT) == 0;
    }
    EXPECT_TRUE(dropped) << "still served after " << message.size() << " bytes 100 ms apart";
    ::close(fd);
  }
  bitbang.stop();
  serving.join();
}

struct Outcome {
  int status;
  std::string out;
};

Outcome runCli(const std::string& arguments) {
  const std::string outPath = ::testing::TempDir() + "xvc_cli_" + std::to_string(getpid()) + ".out";
  const std::string command = std::string(ZORVJTAG_BINARY) + " " + arguments + " >" + outPath + " 2>&1";
  const int raw = std::system(command.c_str());
  std::ifstream in(outPath);
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1,
          std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
}

std::string writeImage(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = ::testing::TempDir() + "xvc_" + std::to_string(getpid()) + "_" + name + ".bin";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> pattern(size_t size, unsigned seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 151 + seed * 13 + (i >> 8)) & 0xFF);
  return bytes;
}

struct XvcCase {
  const char* product;
  size_t maxVectorBytes;
};

class XvcCableTest : public ::testing::TestWithParam<XvcCase> {};

TEST_P(XvcCableTest, CommandLineReadsTheIdAndWritesNandAndNorExactly) {
  const XvcCase c = GetParam();
  const std::string product = c.product;
  ServedBoard served("chip=" + product + (product == "VESKAR" ? "" : ",nor=S29AL008D"), c.maxVectorBytes);

  const Outcome id = runCli(served.cable() + " idcode --product " + product);
  EXPECT_EQ(id.status, 0) << id.out;
  char idLine[80];
  const uint32_t v = served.board->chip().idcode;
  std::snprintf(idLine, sizeof idLine, "  JTAG ID: Ver(0x%01X), Part(0x%04X), Maker(0x%03X)", v >> 28,
                (v >> 16) & 0xFFF, (v >> 4) & 0xFFF);
  EXPECT_NE(id.out.find(idLine), std::string::npos) << id.out;

  const uint32_t pageSize = served.nand->geometry().pageSize;
  const std::vector<uint8_t> nandImage = pattern(2 * pageSize + 100, 1);
  const Outcome nand = runCli(served.cable() + " nand --product " + product + " --verify " + writeImage("nand", nandImage));
  EXPECT_EQ(nand.status, 0) << nand.out;
  EXPECT_EQ(served.nand->mainBytes(0, static_cast<uint32_t>(nandImage.size())), nandImage);
  EXPECT_EQ(served.nand->storedPages(), (std::vector<uint32_t>{0, 1, 2}));

  const std::vector<uint8_t> norImage = pattern(600, 2);
  const std::string type = product == "VESKAR" ? "" : " --type S29AL008D";
  const Outcome nor = runCli(served.cable() + " nor --product " + product + type + " " + writeImage("nor", norImage));
  EXPECT_EQ(nor.status, 0) << nor.out;
  for (uint32_t o = 0; o < norImage.size(); ++o) ASSERT_EQ(served.nor.busByte(o), norImage[o]) << "offset " << o;
  EXPECT_EQ(served.nor.busByte(static_cast<uint32_t>(norImage.size())), 0xFF);
}

TEST(XvcCableOptionsTest, TckIsAUsageErrorWhereTheCableCannotSetIt) {
  const Outcome parallel = runCli("--cable sim --tck 1000000 idcode --product OBRIN");
  EXPECT_EQ(parallel.status, 2);
  EXPECT_NE(parallel.out.find("--tck: the cable 'sim' has no TCK setting"), std::string::npos) << parallel.out;
  EXPECT_EQ(runCli("--cable xvc:127.0.0.1:1 --tck 0 idcode --product OBRIN").status, 2);
  EXPECT_EQ(tckPeriodOfRate(3000000), 334u) << "settck takes the period in ns, never shorter than asked";
}

INSTANTIATE_TEST_SUITE_P(ProductsAndVectorLengths, XvcCableTest,
                         ::testing::Values(XvcCase{"OBRIN", 2048}, XvcCase{"TQR2400", 2048}, XvcCase{"IKA", 2048},
                                           XvcCase{"VESKAR", 2048}, XvcCase{"OBRIN", 1 << 20},
                                           XvcCase{"TQR2400", 1 << 20}, XvcCase{"IKA", 1 << 20},
                                           XvcCase{"VESKAR", 1 << 20}),
                         [](const ::testing::TestParamInfo<XvcCase>& caseInfo) {
                           return std::string(caseInfo.param.product) + "_" + std::to_string(caseInfo.param.maxVectorBytes);
                         });

}  // namespace
}  // namespace zorv::sim
