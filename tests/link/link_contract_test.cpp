// One contract for every link: the same scans give the same captures and leave the board the same,
// and a link that drops in the middle of a scan fails with its cause.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cable_choice/simulated_cmsis_dap.h"
#include "cable_choice/simulated_ftdi.h"
#include "cmsis_dap/cmsis_dap_link.h"
#include "extra/extra_job.h"
#include "link/ftdi_link.h"
#include "link/jtag_cable.h"
#include "link/parallel_port_link.h"
#include "link/remote_bitbang_link.h"
#include "link/xvc_link.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "sim/remote_bitbang_server.h"
#include "sim/xvc_server.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

enum class LinkKind { InProcess, RemoteBitbang, Xvc, Ftdi, CmsisDap };

// Forwards to the board until `limit` data-port writes have passed (0: never), then drops the
// link: a served board's server stops, an in-process one answers as absent with a cause.
class DroppingBoard : public PortIo {
 public:
  explicit DroppingBoard(sim::Board& board) : board_(board) {}
  void write(uint16_t port, uint8_t value) override {
    if (!linkFailure().empty()) return;
    if (mark) board_.markUpdates(mark());
    board_.write(port, value);
    if (++writes_ != limit) return;
    if (drop) {
      drop();
    } else {
      noteLinkFailure("link to the test board lost");
    }
  }
  uint8_t read(uint16_t port) override { return linkFailure().empty() ? board_.read(port) : 0xFF; }

  uint64_t writes() const { return writes_; }

  uint64_t limit = 0;
  std::function<void()> drop;  // set for a served board
  std::function<int()> mark;   // set for a served board: the connection its updates came over

 private:
  sim::Board& board_;
  uint64_t writes_ = 0;
};

// A virtual board reached over one kind of link. An FTDI adapter's board sits behind its modelled
// chip, and the adapter is unplugged after dropAfterTransfers USB transfers instead; a CMSIS-DAP
// probe's behind its model, unplugged after as many answers past the six of its opening.
// The board and how it is served, where a test needs other than the default.
struct BoardSetup {
  std::string options = "chip=TQR2400,nand=none,nor=none";
  size_t xvcVectorBytes = 4;  // two bytes of TMS and two of TDI per shift
  uint32_t xvcTckNs = 0;      // a TCK period asked of the XVC server
};

struct LinkedBoard {
  LinkKind kind;
  BoardSetup setup;
  std::unique_ptr<sim::Board> board;
  DroppingBoard gate;
  std::shared_ptr<SimulatedFtdi> adapter;
  std::shared_ptr<SimulatedCmsisDap> probe;
  std::unique_ptr<sim::RemoteBitbangServer> bitbang;
  std::unique_ptr<sim::XvcServer> xvc;
  std::thread serving;
  std::unique_ptr<JtagLink> link;
  std::string lostCause = "link to the test board lost";

  LinkedBoard(LinkKind linkKind, uint64_t dropAfterWrites, uint64_t dropAfterTransfers = UINT64_MAX,
              BoardSetup boardSetup = {})
      : kind(linkKind), setup(std::move(boardSetup)), board(sim::makeBoard(setup.options)), gate(*board) {
    board->recordBoundaryUpdates();
    gate.limit = dropAfterWrites;
    if (kind == LinkKind::Ftdi) {
      adapter = std::make_shared<SimulatedFtdi>(std::move(board), sim::MpsseInterpreter::Wiring{});
      adapter->unplugAfterTransfers(dropAfterTransfers);
      link = std::make_unique<FtdiLink>(*findFtdiLayout("ft2232h"), [this](std::string&) {
        FtdiDevice device;
        device.transport = adapter;
        return device;
      });
      lostCause = "the FTDI adapter was unplugged";
      return;
    }
    if (kind == LinkKind::CmsisDap) {
      probe = std::make_shared<SimulatedCmsisDap>(std::move(board), sim::DapProbe::Config{});
      if (dropAfterTransfers != UINT64_MAX) {
        probe->misbehaveAfter(6 + dropAfterTransfers, SimulatedCmsisDap::Misbehaviour::Unplugged);
      }
      link = std::make_unique<CmsisDapLink>([this](std::string&) -> std::shared_ptr<DapTransport> { return probe; });
      lostCause = "the CMSIS-DAP probe was unplugged";
      return;
    }
    if (kind == LinkKind::InProcess) {
      link = std::make_unique<ParallelPortLink>(gate);
      return;
    }
    uint16_t port = 0;
    if (kind == LinkKind::RemoteBitbang) {
      bitbang = std::make_unique<sim::RemoteBitbangServer>(gate);
      bitbang->listen(0);
      port = bitbang->port();
      gate.drop = [this] { bitbang->stop(); };
      gate.mark = [this] { return static_cast<int>(bitbang->connectionsServed()); };
      serving = std::thread([this] { bitbang->serve(); });
    } else {
      xvc = std::make_unique<sim::XvcServer>(gate, setup.xvcVectorBytes);
      xvc->listen(0);
      port = xvc->port();
      gate.drop = [this] { xvc->stop(); };
      gate.mark = [this] { return static_cast<int>(xvc->connectionsServed()); };
      serving = std::thread([this] { xvc->serve(); });
    }
    reconnect();
    lostCause = "connection to 127.0.0.1:" + std::to_string(port) + " lost";
  }
  // A served board gets a link of its own, on a connection of its own.
  void reconnect() {
    if (!bitbang && !xvc) return;
    link.reset();
    if (bitbang) link = std::make_unique<RemoteBitbangLink>("127.0.0.1", bitbang->port());
    if (xvc) link = std::make_unique<XvcLink>("127.0.0.1", xvc->port(), setup.xvcTckNs);
  }
  // Stops serving; afterwards the board may be looked at from this thread.
  void stopServing() {
    if (bitbang) bitbang->stop();
    if (xvc) xvc->stop();
    if (serving.joinable()) serving.join();
  }
  sim::Board& seen() { return adapter ? adapter->board() : probe ? probe->board() : *board; }
  ~LinkedBoard() {
    link.reset();
    stopServing();
  }
};

// What the scans gave and where they left the board.
struct Outcome {
  std::string idLine;
  std::string captured;
  std::string deferred;
  std::string failure;
  sim::TapState tap = sim::TapState::TestLogicReset;
  uint32_t instruction = 0;
  std::string driven;
  uint64_t updates = 0;
};

Outcome runScans(LinkedBoard& linked) {
  Outcome out;
  {
    JtagCable cable(*linked.link);
    EXPECT_TRUE(cable.grantPortAccess());
    EXPECT_EQ(cable.detectPort(), 0);
    cable.pulseTrst();
    cable.resetTap();
    char name[16];
    restoreProductImages();
    loadChip(cable, Tqr2400, name, ChipVariant::Boundary);
    cable.readIdCode(out.idLine);
    cable.loadExtest();  // an instruction scan
    std::string image(static_cast<size_t>(cable.bsrLength), '0');
    for (size_t i = 0; i < image.size(); i += 3) image[i] = '1';
    cable.shiftDr(image.data(), cable.bsrLength);
    // Captures the pins the last scan drove, and drives their inverse.
    std::string inverse = image;
    for (char& c : inverse) c = c == '1' ? '0' : '1';
    out.captured.assign(image.size(), ' ');
    cable.shiftDrCapture(inverse.data(), out.captured.data(), cable.bsrLength);
    std::vector<uint8_t> raw(20, 0xAA);
    cable.shiftDrCaptureDeferred(image.data(), cable.bsrLength, 7, 20, raw.data());
    cable.collectCaptures();
    for (const uint8_t byte : raw) out.deferred += JtagCable::capturedBit(byte);
    out.failure = cable.linkFailure();
  }
  linked.stopServing();
  out.tap = linked.seen().tapState();
  out.instruction = linked.seen().instruction();
  out.driven = linked.seen().drivenPins();
  out.updates = linked.seen().updateCount();
  return out;
}

std::string kindName(LinkKind kind) {
  switch (kind) {
    case LinkKind::InProcess: return "in-process";
    case LinkKind::RemoteBitbang: return "remote";
    case LinkKind::Xvc: return "xvc";
    case LinkKind::Ftdi: return "ftdi";
    case LinkKind::CmsisDap: return "cmsis-dap";
  }
  return "";
}

TEST(LinkContract, EveryLinkGivesTheSameCapturesAndBoardState) {
  LinkedBoard reference(LinkKind::InProcess, 0);
  const Outcome expected = runScans(reference);
  ASSERT_EQ(expected.failure, "");
  ASSERT_EQ(expected.idLine, "  JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)\r\n");
  ASSERT_EQ(expected.captured.find_first_not_of("01"), std::string::npos);
  for (const LinkKind kind : {LinkKind::RemoteBitbang, LinkKind::Xvc, LinkKind::Ftdi, LinkKind::CmsisDap}) {
    SCOPED_TRACE(kindName(kind));
    LinkedBoard linked(kind, 0);
    const Outcome got = runScans(linked);
    EXPECT_EQ(got.failure, "");
    EXPECT_EQ(got.idLine, expected.idLine);
    EXPECT_EQ(got.captured, expected.captured);
    EXPECT_EQ(got.deferred, expected.deferred);
    EXPECT_EQ(got.tap, expected.tap);
    EXPECT_EQ(got.instruction, expected.instruction);
    EXPECT_EQ(got.driven, expected.driven);
    EXPECT_EQ(got.updates, expected.updates);
  }
}

TEST(LinkContract, ALinkThatDropsMidScanFailsWithItsCause) {
  for (const LinkKind kind :
       {LinkKind::InProcess, LinkKind::RemoteBitbang, LinkKind::Xvc, LinkKind::Ftdi, LinkKind::CmsisDap}) {
    SCOPED_TRACE(kindName(kind));
    // In the middle of the first data scan, after the chip was identified. A served board's
    // server plays what it has already taken in before it hangs up, so where the drop shows
    // differs by link; from the last scan on every link answers as absent. The adapter goes
    // with the transfers that read the identification back.
    LinkedBoard linked(kind, 400, 3);
    const Outcome got = runScans(linked);
    EXPECT_EQ(got.failure, linked.lostCause);
    EXPECT_EQ(got.deferred, std::string(20, '1')) << "a lost link answers as absent";
  }
}

// Over a cable without nTRST every way back to Test-Logic-Reset passes Update-DR: a stop must never
// leave a scan half shifted. A stop at many points of a NOR download (programs timed over XVC),
// asked for while the board plays the scans (as Ctrl-C comes, whatever the job is waiting for):
// every update of the boundary register carries a whole scan, and the next job, an idcode,
// updates none (the rest of a scan cut short would reach the pins on its way to reset).
// One link kind a test, each within its own time-out: a sanitizer build plays 9 downloads a kind.
class StopOverEveryLink : public ::testing::TestWithParam<LinkKind> {};

TEST_P(StopOverEveryLink, NeverLeavesAScanHalfShifted) {
  const LinkKind kind = GetParam();
  const fs::path image = fs::temp_directory_path() / ("zorv_stop_" + std::to_string(getpid()) + ".bin");
  {
    std::string bytes(4096, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
    std::ofstream(image, std::ios::binary) << bytes;
  }
  NorSettings nor;
  nor.product = Obrin;
  nor.flashType = S29gl064m;
  nor.width = 16;
  nor.block = 1;
  nor.imagePath = image.string();
  ExtraSettings idcode;
  idcode.product = Obrin;
  idcode.extraMode = ReadJtagId;
  const BoardSetup setup{"chip=OBRIN,nor=S29GL064M,nortck=1000", 2048, 1000};
  {
    // The board behind a USB adapter is reached by no port writes: there the stop comes at a
    // progress step instead.
    const bool byProgress = kind == LinkKind::Ftdi || kind == LinkKind::CmsisDap;
    uint64_t steps = 0;
    {
      LinkedBoard whole(kind, 0, UINT64_MAX, setup);
      RecordingPage page;
      page.onEvent = [&steps](RecordingPage&, const RecordingPage::Event& event) { steps += event.what == "bytes"; };
      restoreProductImages();
      runNorJob(page, *whole.link, nor);
      ASSERT_EQ(page.boxes, std::vector<std::string>{"Download Complete."}) << kindName(kind) << page.log;
      whole.link.reset();
      whole.stopServing();
      if (!byProgress) steps = whole.gate.writes();
    }
    for (uint64_t ninth = 1; ninth < 9; ++ninth) {
      const uint64_t stopAt = steps * ninth / 9;
      SCOPED_TRACE(kindName(kind) + ", stopped at " + std::to_string(ninth) + "/9");
      LinkedBoard linked(kind, 0, UINT64_MAX, setup);
      // A served board's updates are marked with the connection they came over.
      const bool served = linked.bitbang || linked.xvc;
      if (!served) linked.seen().markUpdates(1);
      RecordingPage stopped;
      uint64_t shown = 0;
      if (byProgress) {
        stopped.onEvent = [&shown, stopAt](RecordingPage& page, const RecordingPage::Event& event) {
          if (event.what == "bytes" && ++shown == stopAt) page.stopRequested = 1;
        };
      } else {
        linked.gate.limit = stopAt;
        linked.gate.drop = [&stopped] { stopped.stopRequested = 1; };
      }
      restoreProductImages();
      runNorJob(stopped, *linked.link, nor);
      EXPECT_EQ(stopped.outcome(), JobOutcome::Stopped) << stopped.log;
      linked.reconnect();
      if (!served) linked.seen().markUpdates(2);
      RecordingPage next;
      runExtraJob(next, *linked.link, idcode);
      EXPECT_EQ(next.outcome(), JobOutcome::Succeeded) << next.log;
      linked.link.reset();
      linked.stopServing();
      const uint64_t bsrLength = static_cast<uint64_t>(linked.seen().chip().boundaryLength);
      for (const sim::Board::BoundaryUpdate& update : linked.seen().boundaryUpdates()) {
        EXPECT_EQ(update.shiftedBits, bsrLength) << "an update of job " << update.mark;
        EXPECT_EQ(update.mark, 1) << "the idcode job drove the pins";
      }
      EXPECT_FALSE(linked.seen().boundaryUpdates().empty());
    }
  }
  fs::remove(image);
}

std::string testNameOf(const ::testing::TestParamInfo<LinkKind>& param) {
  std::string name = kindName(param.param);
  std::erase_if(name, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; });
  return name;
}

INSTANTIATE_TEST_SUITE_P(LinkContract, StopOverEveryLink,
                         ::testing::Values(LinkKind::InProcess, LinkKind::RemoteBitbang, LinkKind::Xvc,
                                           LinkKind::Ftdi, LinkKind::CmsisDap),
                         testNameOf);

}  // namespace
}  // namespace zorv
