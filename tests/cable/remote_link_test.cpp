// Jobs over the remote cable when its server goes away, stays silent, or is flooded.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "cli/run_zorvjtag.h"
#include "extra/extra_job.h"
#include "link/parallel_port_link.h"
#include "link/remote_bitbang_link.h"
#include "link/xvc_link.h"
#include "nand/nand_job.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "sim/nor_bus.h"
#include "sim/remote_bitbang_server.h"
#include "sim/xvc_server.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Forwards to a board; after `limit` data-port writes it stops the server in front of it, so the
// server goes away in the middle of whatever the job is doing.
class VanishingBoard : public PortIo {
 public:
  explicit VanishingBoard(PortIo& board) : board_(board) {}
  void write(uint16_t port, uint8_t value) override {
    board_.write(port, value);
    if (++writes == limit && server != nullptr) server->stop();
  }
  uint8_t read(uint16_t port) override { return board_.read(port); }

  sim::RemoteBitbangServer* server = nullptr;
  uint64_t limit = 0;
  uint64_t writes = 0;

 private:
  PortIo& board_;
};

fs::path writeImage(const std::string& tag, size_t size) {
  const fs::path path = fs::temp_directory_path() / ("zorv_link_" + tag + "_" + std::to_string(getpid()) + ".bin");
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 37 + (i >> 8)) & 0xFF);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
  return path;
}

// Runs job once in process to count its port writes, then over a served board whose server goes
// away two thirds of the way through.
void runWithServerLost(const std::string& boardOptions, const std::function<void(JobPage&, JtagLink&)>& job,
                       RecordingPage& page, std::string& causeLine) {
  uint64_t total = 0;
  {
    auto board = sim::makeBoard(boardOptions);
    VanishingBoard counting(*board);
    ParallelPortLink link(counting);
    RecordingPage inProcess;
    restoreProductImages();
    job(inProcess, link);
    ASSERT_EQ(inProcess.boxes, std::vector<std::string>{"Download Complete."});
    total = counting.writes;
  }
  auto board = sim::makeBoard(boardOptions);
  VanishingBoard gate(*board);
  sim::RemoteBitbangServer server(gate);
  gate.server = &server;
  gate.limit = total * 2 / 3;
  server.listen(0);
  std::thread serving([&server] { server.serve(); });
  RemoteBitbangLink port("127.0.0.1", server.port());
  restoreProductImages();
  job(page, port);
  serving.join();
  causeLine = "  Cable: connection to 127.0.0.1:" + std::to_string(server.port()) + " lost\r\n";
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(RemoteLinkTest, ServerLostMidDownloadFailsNandAndBufferedNorWithTheCause) {
  const fs::path nandImage = writeImage("nand", 3 * 2048);
  NandSettings nand;
  nand.product = Ika;
  nand.imagePath = nandImage.string();
  nand.verify = 1;
  RecordingPage nandPage;
  std::string cause;
  runWithServerLost("chip=IKA,nand=0xDA", [&](JobPage& p, JtagLink& io) { runNandJob(p, io, nand); }, nandPage,
                    cause);
  EXPECT_EQ(nandPage.boxes, std::vector<std::string>{"Verify ERROR"});
  EXPECT_EQ(occurrences(nandPage.log, cause), 1u) << nandPage.log;

  // Write-buffer programming polls only the toggle bit, which a port answering 0xFF never shows.
  const fs::path norImage = writeImage("nor", 3000);
  NorSettings nor;
  nor.product = Obrin;
  nor.flashType = S29gl064m;
  nor.width = 16;
  nor.block = 1;
  nor.imagePath = norImage.string();
  RecordingPage norPage;
  runWithServerLost("chip=OBRIN,nor=S29GL064M", [&](JobPage& p, JtagLink& io) { runNorJob(p, io, nor); }, norPage,
                    cause);
  EXPECT_EQ(norPage.boxes, std::vector<std::string>{"WRITE ERROR."});
  EXPECT_EQ(occurrences(norPage.log, cause), 1u) << norPage.log;
  fs::remove(nandImage);
  fs::remove(norImage);
}

TEST(RemoteLinkTest, NandPageProgrammedAndVerifiedCostsAFewRoundTrips) {
  constexpr uint32_t kPages = 4;
  const fs::path image = writeImage("pages", kPages * 2048);
  NandSettings settings;
  settings.product = Obrin;
  settings.imagePath = image.string();
  settings.verify = 1;
  auto board = sim::makeBoard("chip=OBRIN,nand=0xDA");
  sim::RemoteBitbangServer server(*board);
  server.listen(0);
  std::thread serving([&server] { server.serve(); });
  RecordingPage page;
  uint64_t roundTrips = 0;
  {
    RemoteBitbangLink port("127.0.0.1", server.port());
    restoreProductImages();
    runNandJob(page, port, settings);
    roundTrips = port.roundTrips();
  }
  server.stop();
  serving.join();
  EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."});  // verify compared every byte
  EXPECT_LE(roundTrips, 16u * kPages);
  fs::remove(image);
}

// An erase that stays busy until a reset is the device's, not the cable's: the check of TDO that
// follows reads the instruction register's capture once it has come back over the link, and
// leaves EXTEST in force, so the job passes over the block and completes.
TEST(RemoteLinkTest, AnEraseThatStaysBusyIsNotTakenForTheCable) {
  const fs::path image = writeImage("busy", 1000);
  NandSettings settings;
  settings.product = Veskar;
  settings.imagePath = image.string();
  settings.verify = 1;
  auto board = sim::makeBoard("chip=VESKAR,nand=0x75,nandbusyafter=0xD0");
  sim::RemoteBitbangServer server(*board);
  server.listen(0);
  std::thread serving([&server] { server.serve(); });
  RecordingPage page;
  {
    RemoteBitbangLink port("127.0.0.1", server.port());
    restoreProductImages();
    runNandJob(page, port, settings);
  }
  server.stop();
  serving.join();
  EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."}) << page.log;
  EXPECT_NE(page.log.find("  Erasing \r\n ERROR. ADDR: 0x0 OK.\r\n"), std::string::npos) << page.log;
  EXPECT_EQ(page.log.find("Cable:"), std::string::npos) << page.log;
  fs::remove(image);
}

// Over XVC a round trip carries a window of answer bytes, not a number of shifts: a server with
// the shortest vectors costs no more waits per page than one with the longest. Per page: the
// difference between two image sizes, without what the job costs once.
TEST(RemoteLinkTest, XvcWaitsPerPageDoNotGrowWithShortVectors) {
  constexpr uint32_t kPages = 1;
  const fs::path image = writeImage("pages", kPages * 2048);
  NandSettings settings;
  settings.product = Obrin;
  settings.verify = 1;
  auto board = sim::makeBoard("chip=OBRIN,nand=0xDA");
  const fs::path twice = writeImage("twice", 2 * kPages * 2048);
  for (const size_t vectorBytes : {size_t{32}, size_t{1} << 20}) {
    SCOPED_TRACE(vectorBytes);
    uint64_t xvcRoundTrips[2] = {};
    for (const int run : {0, 1}) {
      sim::XvcServer xvcServer(*board, vectorBytes);
      xvcServer.listen(0);
      std::thread xvcServing([&xvcServer] { xvcServer.serve(); });
      RecordingPage xvcPage;
      settings.imagePath = (run == 0 ? image : twice).string();
      {
        XvcLink link("127.0.0.1", xvcServer.port());
        restoreProductImages();
        runNandJob(xvcPage, link, settings);
        xvcRoundTrips[run] = link.roundTrips();
      }
      xvcServer.stop();
      xvcServing.join();
      EXPECT_EQ(xvcPage.boxes, std::vector<std::string>{"Download Complete."}) << xvcPage.log;
    }
    EXPECT_LE(xvcRoundTrips[1] - xvcRoundTrips[0], 12u * kPages);
  }
  fs::remove(twice);
  fs::remove(image);
}

// A loopback listener that takes one client, reads everything it sends and never answers it a
// scan: a remote_bitbang 'R' or an XVC shift (an XVC client is told the vector length first, unless
// the server does not even greet).
class SilentServer {
 public:
  explicit SilentServer(bool greets = true) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(listenFd_, 1), 0);
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    thread_ = std::thread([this, greets] {
      const int fd = ::accept(listenFd_, nullptr, nullptr);
      char c;
      std::string received;
      while (fd >= 0 && ::recv(fd, &c, 1, 0) == 1) {
        received += c;
        if (received.ends_with("getinfo:")) {
          if (greets) {
            ::send(fd, "xvcServer_v1.0:2048\n", 20, MSG_NOSIGNAL);
          } else {
            askedForAnswer.store(true);
          }
        }
        if (c == 'R' || received.ends_with("shift:")) askedForAnswer.store(true);
      }
      if (fd >= 0) ::close(fd);
    });
  }
  ~SilentServer() {
    ::shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
  }
  uint16_t port = 0;
  std::atomic<bool> askedForAnswer{false};

 private:
  int listenFd_;
  std::thread thread_;
};

TEST(RemoteLinkTest, StopWhileTheServerIsSilentEndsTheJobAsStoppedAtOnce) {
  for (const bool xvc : {false, true}) {
    SCOPED_TRACE(xvc ? "xvc" : "remote");
    SilentServer server;
    NandSettings settings;
    settings.product = Ika;
    settings.imagePath = "/nonexistent";
    RecordingPage page;
    std::thread stopper([&] {
      while (!server.askedForAnswer.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      page.stopRequested.store(1);
    });
    const auto start = Clock::now();
    {
      std::unique_ptr<JtagLink> port;
      if (xvc) {
        port = std::make_unique<XvcLink>("127.0.0.1", server.port);
      } else {
        port = std::make_unique<RemoteBitbangLink>("127.0.0.1", server.port);
      }
      runNandJob(page, *port, settings);
    }
    const auto waited = Clock::now() - start;
    stopper.join();
    EXPECT_LT(waited, std::chrono::milliseconds(TcpConnection::kSilenceLimitMs / 2));
    EXPECT_TRUE(page.boxes.empty()) << page.boxes.front();
    EXPECT_EQ(page.log.find("Cable:"), std::string::npos) << page.log;
    EXPECT_EQ(page.outcome(), JobOutcome::Stopped);

    // The command line's idcode as well: its stop signal ends the wait, not the time-out.
    SilentServer idServer;
    const auto idStart = Clock::now();
    const testing::Outcome id = testing::runZorvjtag(
        {"--cable", std::string(xvc ? "xvc" : "remote") + ":127.0.0.1:" + std::to_string(idServer.port), "idcode",
         "--product", "OBRIN"},
        "[READ JTAG ID]");
    EXPECT_LT(Clock::now() - idStart, std::chrono::milliseconds(TcpConnection::kSilenceLimitMs / 2));
    EXPECT_EQ(id.status, 130) << id.out << id.err;
    EXPECT_EQ(id.err, "");
  }

  // An XVC server that never answers the greeting: the stop cuts the connection's wait, and the
  // job ends as stopped, not as one that found no cable.
  for (const bool nand : {true, false}) {
    SCOPED_TRACE(nand ? "nand, no greeting" : "idcode, no greeting");
    SilentServer mute(false);
    RecordingPage page;
    std::thread stopper([&] {
      while (!mute.askedForAnswer.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      page.stopRequested.store(1);
    });
    {
      XvcLink port("127.0.0.1", mute.port);
      if (nand) {
        NandSettings settings;
        settings.product = Ika;
        settings.imagePath = "/nonexistent";
        runNandJob(page, port, settings);
      } else {
        ExtraSettings settings;
        settings.product = Obrin;
        settings.extraMode = ReadJtagId;
        runExtraJob(page, port, settings);
      }
    }
    stopper.join();
    EXPECT_TRUE(page.boxes.empty()) << page.boxes.front();
    EXPECT_EQ(page.log.find("Cable:"), std::string::npos) << page.log;
    EXPECT_EQ(page.outcome(), JobOutcome::Stopped);
  }
}

// A port nothing listens on: a NAND job there names the cause ("Cable: ...") before its box.
TEST(RemoteLinkTest, ANandJobOnAnUnreachableCableNamesTheCauseAndShowsItsBox) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), length);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  const uint16_t closedPort = ntohs(address.sin_port);
  for (const bool xvc : {false, true}) {
    SCOPED_TRACE(xvc ? "xvc" : "remote");
    std::unique_ptr<JtagLink> port;
    if (xvc) {
      port = std::make_unique<XvcLink>("127.0.0.1", closedPort);
    } else {
      port = std::make_unique<RemoteBitbangLink>("127.0.0.1", closedPort);
    }
    NandSettings settings;
    settings.product = Ika;
    settings.imagePath = "/nonexistent";
    RecordingPage page;
    runNandJob(page, *port, settings);
    const std::string cause = "cannot connect to 127.0.0.1:" + std::to_string(closedPort) + " (Connection refused)";
    EXPECT_NE(page.log.find("  Cable: " + cause + "\r\n"), std::string::npos) << page.log;
    EXPECT_EQ(page.boxes, std::vector<std::string>{"Cannot get LPT Base."});
    EXPECT_EQ(page.outcome(), JobOutcome::Failed);
  }
}

// Forwards to a board and notes at which data-port writes its updates deselected the NOR chip (its
// chip-select cell, as the board's schematic has it, going high); at write stopAt it stops the
// XVC server in front of it.
class DeselectWatch : public PortIo {
 public:
  DeselectWatch(sim::Board& board, int chipSelectCell) : board_(board), cell_(static_cast<size_t>(chipSelectCell)) {}
  void write(uint16_t port, uint8_t value) override {
    board_.write(port, value);
    ++writes_;
    if (board_.updateCount() != updates_) {
      updates_ = board_.updateCount();
      const char level = board_.drivenPins()[cell_];
      if (level == '1' && selected_) deselects.push_back(writes_);
      selected_ = level == '0';
    }
    if (writes_ == stopAt && server != nullptr) server->stop();
  }
  uint8_t read(uint16_t port) override { return board_.read(port); }

  sim::XvcServer* server = nullptr;
  uint64_t stopAt = 0;
  std::vector<uint64_t> deselects;

 private:
  sim::Board& board_;
  size_t cell_;
  uint64_t writes_ = 0;
  uint64_t updates_ = 0;
  bool selected_ = false;
};

// The download's last scan deselects the chip; it travels, and is answered, before "Download
// Complete.": a link lost in the middle of it fails the job with the cause.
TEST(RemoteLinkTest, ALinkLostDuringTheFinalDeselectFailsTheDownload) {
  const fs::path image = writeImage("deselect", 300);
  NorSettings nor;
  nor.product = Obrin;
  nor.flashType = S29gl064m;
  nor.width = 16;
  nor.block = 1;
  nor.imagePath = image.string();
  uint64_t stopAt = 0;
  for (const bool losing : {false, true}) {
    auto board = sim::makeBoard("chip=OBRIN,nor=S29GL064M");
    DeselectWatch watch(*board, sim::norWiring(Obrin).chipSelect[0]);
    sim::XvcServer server(watch, 2048);
    watch.server = &server;
    watch.stopAt = stopAt;
    server.listen(0);
    std::thread serving([&server] { server.serve(); });
    RecordingPage page;
    {
      XvcLink port("127.0.0.1", server.port());
      restoreProductImages();
      runNorJob(page, port, nor);
    }
    server.stop();
    serving.join();
    if (!losing) {
      ASSERT_EQ(page.boxes, std::vector<std::string>{"Download Complete."}) << page.log;
      // The last deselect is the closing reset command's; the one before it ends the programming.
      // The server stops at its first clocks and gives up the shift in flight, unanswered.
      ASSERT_GE(watch.deselects.size(), 2u);
      stopAt = watch.deselects[watch.deselects.size() - 2] - 2 * static_cast<uint64_t>(board->chip().boundaryLength);
      continue;
    }
    EXPECT_EQ(page.boxes, std::vector<std::string>{"WRITE ERROR."}) << page.log;
    EXPECT_NE(page.log.find("  Cable: connection to 127.0.0.1:" + std::to_string(server.port()) + " lost\r\n"),
              std::string::npos)
        << page.log;
  }
  fs::remove(image);
}

TEST(RemoteLinkTest, ServerStopsWhileAClientFloodsItAndReadsNothing) {
  auto board = sim::makeBoard("chip=IKA,nand=none,nor=none");
  sim::RemoteBitbangServer server(*board);
  server.listen(0);
  auto serving = std::async(std::launch::async, [&server] { server.serve(); });
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(server.port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // Ask for answers until neither side's buffers take more: the server is then stuck sending.
  const std::string asks(65536, 'R');
  for (;;) {
    if (::send(client, asks.data(), asks.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) continue;
    pollfd room{client, POLLOUT, 0};
    if (::poll(&room, 1, 300) == 0) break;
  }
  server.stop();
  const bool stopped = serving.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
  ::close(client);  // lets a server stuck in send go, so the test itself ends either way
  EXPECT_TRUE(stopped);
}

}  // namespace
}  // namespace zorv
