#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "link/remote_bitbang_link.h"
#include "link/xvc_link.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "readback/read_job.h"
#include "sim/board.h"
#include "sim/nor_attach.h"
#include "sim/remote_bitbang_server.h"
#include "sim/xvc_server.h"
#include "targets/catalogue.h"
#include "text/number_text.h"

namespace zorv {
namespace {

struct RemoteCase {
  const char* board;
  int product;
  int type;
  int width;
  const char* block;
  uint32_t start;  // bus offset of the block
  uint32_t size;
  int interleave = 1;
};

const RemoteCase kEveryType[] = {
      {"chip=TQR2400,nor=EN29LV010A", Tqr2400, En29lv010a, 8, "1", 0x4000, 100},
      {"chip=IKA,nor=EN29LV040A", Ika, En29lv040a, 8, "1", 0x10000, 100},
      {"chip=OBRIN,nor=AM29LV040B", Obrin, Am29lv040b, 8, "2", 0x20000, 100},
      {"chip=TQR2400,nor=S29AL004D", Tqr2400, S29al004d, 16, "7", 0x70000, 100},
      {"chip=IKA,nor=S29AL008D", Ika, S29al008d, 16, "16", 0xF8000, 100},
      {"chip=OBRIN,nor=S29GL064M", Obrin, S29gl064m, 16, "1", 0x10000, 100},
      {"chip=TQR2400,nor=S29GL128M", Tqr2400, S29gl128m, 16, "2", 0x40000, 100},
      {"chip=IKA,nor=K8D6316", Ika, K8d6316, 16, "8", 0x10000, 100},
      // Past the first 4 KB of its 64 KB block, which only the block erase clears.
      {"chip=OBRIN,nor=SST39VF6401", Obrin, Sst39vf6401, 16, "1", 0x10000, 0x1000 + 64},
      {"chip=TQR2400,nor=EN29LV040A,interleave=2", Tqr2400, En29lv040a, 8, "1", 0x20000, 100, 2},
};

// A download of every flash type through the remote_bitbang protocol on loopback, to a board whose
// devices behave as their data sheets say; what lands in the flash is compared byte for byte.
TEST(NorOverRemoteCable, EveryFlashTypeWritesExactly) {
  const RemoteCase (&cases)[std::size(kEveryType)] = kEveryType;
  const std::string path = ::testing::TempDir() + "nor_remote_" + std::to_string(getpid()) + ".bin";
  for (const RemoteCase& c : cases) {
    SCOPED_TRACE(c.board);
    restoreProductImages();
    std::vector<uint8_t> image(c.size);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + c.type);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));

    sim::BoardOptions options = sim::parseBoardOptions(c.board);
    sim::Board board(options);
    sim::AttachedNor nor = sim::attachNorDevice(board, options);
    // Old contents over the whole block, so that an erase that misses part of it shows.
    for (uint32_t o = 0; o < c.size + 0x100; ++o) nor.setBusByte(c.start + o, 0x5A);
    sim::RemoteBitbangServer server(board);
    server.listen(0);
    std::thread serving([&server] { server.serve(); });

    RecordingPage page;
    NorSettings settings;
    settings.product = c.product;
    settings.flashType = c.type;
    settings.width = c.width;
    settings.block = readSectorText(c.block);
    settings.interleave = c.interleave;
    settings.imagePath = path;
    {
      RemoteBitbangLink port("127.0.0.1", server.port());
      runNorJob(page, port, settings);
    }
    server.stop();
    serving.join();

    EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."}) << page.log;
    EXPECT_NE(page.log.find(flashTypeLogName(c.type)), std::string::npos) << page.log;
    for (uint32_t o = 0; o < c.size + 0x100; ++o) {
      ASSERT_EQ(nor.busByte(c.start + o), o < c.size ? image[o] : 0xFF) << std::hex << "offset 0x" << c.start + o;
    }
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
  }
  unlink(path.c_str());
}

// A read-back over a link with a round trip of its own gathers its reads into runs of 4 KiB, each
// collected by one wait, on the boundary-scan products and through VESKAR's debug path alike; what
// it reads is the flash.
TEST(NorOverRemoteCable, ReadBackWaitsOncePerRunOf4KiB) {
  constexpr uint32_t kSize = 16 * 1024;
  for (const bool veskar : {false, true}) {
    SCOPED_TRACE(veskar ? "VESKAR" : "OBRIN");
    sim::BoardOptions options = sim::parseBoardOptions(veskar ? "chip=VESKAR,nor=EN29LV040A" : "chip=OBRIN,nor=S29AL008D");
    sim::Board board(options);
    sim::AttachedNor nor = sim::attachNorDevice(board, options);
    for (uint32_t o = 0; o < kSize; ++o) nor.setBusByte(o, static_cast<uint8_t>(o * 7 + (o >> 9)));
    sim::RemoteBitbangServer server(board);
    server.listen(0);
    std::thread serving([&server] { server.serve(); });
    RecordingPage page;
    ReadSettings settings;
    settings.flash = ReadFlash::Nor;
    settings.product = veskar ? Veskar : Obrin;
    settings.flashType = S29al008d;
    settings.width = 16;
    settings.size = kSize;
    settings.outputPath = ::testing::TempDir() + "nor_runs_" + std::to_string(getpid()) + ".bin";
    uint64_t roundTrips = 0;
    {
      RemoteBitbangLink port("127.0.0.1", server.port());
      restoreProductImages();
      runNorReadJob(page, port, settings);
      roundTrips = port.roundTrips();
    }
    server.stop();
    serving.join();
    ASSERT_EQ(page.boxes, std::vector<std::string>{kReadCompleteText}) << page.log;
    // The identification (VESKAR's debug entry reads its register back three times) and the
    // closing pulse wait a few times more.
    EXPECT_LE(roundTrips, kSize / 4096 + 9);
    std::ifstream in(settings.outputPath, std::ios::binary);
    const std::vector<char> read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(read.size(), kSize);
    for (uint32_t o = 0; o < kSize; ++o) ASSERT_EQ(static_cast<uint8_t>(read[o]), nor.busByte(o)) << o;
    unlink(settings.outputPath.c_str());
  }
}

// A download over XVC with a TCK period, to a board whose NOR parts take exactly the worst-case
// program time their query states (slower still with norslow); the port's round trips are kept.
struct TimedRun {
  RecordingPage page;
  std::vector<uint8_t> image;
  uint64_t roundTrips = 0;
};

constexpr uint32_t kTckNs = 1000;

void downloadOverXvc(TimedRun& run, const RemoteCase& c, sim::AttachedNor& nor, sim::Board& board) {
  const std::string path = ::testing::TempDir() + "nor_timed_" + std::to_string(getpid()) + ".bin";
  run.image.resize(c.size);
  for (size_t i = 0; i < run.image.size(); ++i) run.image[i] = static_cast<uint8_t>(i * 13 + c.type);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(run.image.data()), static_cast<std::streamsize>(run.image.size()));
  for (uint32_t o = 0; o < c.size + 0x100; ++o) nor.setBusByte(c.start + o, 0x5A);
  sim::XvcServer server(board, 2048);
  server.listen(0);
  std::thread serving([&server] { server.serve(); });
  NorSettings settings;
  settings.product = c.product;
  settings.flashType = c.type;
  settings.width = c.width;
  settings.block = readSectorText(c.block);
  settings.interleave = c.interleave;
  settings.imagePath = path;
  {
    XvcLink port("127.0.0.1", server.port(), kTckNs);
    restoreProductImages();
    runNorJob(run.page, port, settings);
    run.roundTrips = port.roundTrips();
  }
  server.stop();
  serving.join();
  unlink(path.c_str());
}

// Where the link knows its TCK period, each program waits out the part's worst case in
// Run-Test/Idle and the programs are read back once per sector: every type lands exactly on a
// board whose parts take exactly that long (from the query, or from the data sheet's table for the
// parts without one), and no type waits on the cable unit by unit.
TEST(NorOverRemoteCable, TimedProgrammingWritesEveryTypeExactly) {
  for (const RemoteCase& c : kEveryType) {
    SCOPED_TRACE(c.board);
    sim::BoardOptions options = sim::parseBoardOptions(std::string(c.board) + ",nortck=" + std::to_string(kTckNs));
    sim::Board board(options);
    sim::AttachedNor nor = sim::attachNorDevice(board, options);
    TimedRun run;
    downloadOverXvc(run, c, nor, board);
    EXPECT_EQ(run.page.boxes, std::vector<std::string>{"Download Complete."}) << run.page.log;
    EXPECT_NE(run.page.log.find("Program status: timed"), std::string::npos) << run.page.log;
    EXPECT_LT(run.roundTrips, 40u) << run.page.log;
    for (uint32_t o = 0; o < c.size + 0x100; ++o) {
      ASSERT_EQ(nor.busByte(c.start + o), o < c.size ? run.image[o] : 0xFF) << std::hex << "offset 0x" << c.start + o;
    }
    EXPECT_TRUE(board.violations().empty()) << board.violations().front();
  }
}

// A part slower than it says is still busy at the read-back, or when the next command comes. By
// units, each program here ends before the next command: read again after the reset, every unit
// holds its value and the download completes. By write buffers the next buffer comes while the
// first still runs and goes nowhere: the failure names that buffer's first unit.
TEST(NorOverRemoteCable, TimedProgrammingCatchesAPartSlowerThanItSays) {
  for (const RemoteCase& c : {kEveryType[7], kEveryType[5]}) {
    SCOPED_TRACE(c.board);
    sim::BoardOptions options =
        sim::parseBoardOptions(std::string(c.board) + ",nortck=" + std::to_string(kTckNs) + ",norslow");
    sim::Board board(options);
    sim::AttachedNor nor = sim::attachNorDevice(board, options);
    TimedRun run;
    downloadOverXvc(run, c, nor, board);
    if (c.type == K8d6316) {
      EXPECT_EQ(run.page.boxes, std::vector<std::string>{"Download Complete."}) << run.page.log;
      for (uint32_t o = 0; o < c.size; ++o) ASSERT_EQ(nor.busByte(c.start + o), run.image[o]) << o;
      continue;
    }
    EXPECT_EQ(run.page.outcome(), JobOutcome::Failed) << run.page.log;
    EXPECT_EQ(run.page.log.find("Download Complete"), std::string::npos);
    EXPECT_NE(run.page.log.find("  Write ERROR, ADDR: 0x10020\r\n"), std::string::npos) << run.page.log;
  }
}

// A program that fails while timed: the part shows status at every address until it is reset, the
// units before the failure included. The failure names the first unit that differs once the part
// is reset as its data sheet says (a write-buffer load that aborted needs the write-to-buffer-abort
// reset), and the part reads its array again: the next job on the board identifies it.
TEST(NorOverRemoteCable, TimedFailureNamesTheFirstUnitThatDiffersAndLeavesThePartReadable) {
  struct FailCase {
    RemoteCase remote;
    const char* fault;
    const char* line;
  };
  const FailCase cases[] = {
      {kEveryType[4], ",norprogramfail=F8101", "\r\n  Write to 0xF8100 failed\r\n"},
      {kEveryType[5], ",norprogramfail=10100", "  Write ERROR, ADDR: 0x10100\r\n"},
      {kEveryType[5], ",norbufferabort=10100", "  Write ERROR, ADDR: 0x10100\r\n"},
  };
  for (const FailCase& f : cases) {
    RemoteCase c = f.remote;
    c.size = 0x180;  // no later unit's data is the reset command (F0), which a failed part takes
    SCOPED_TRACE(std::string(c.board) + f.fault);
    sim::BoardOptions options =
        sim::parseBoardOptions(std::string(c.board) + ",nortck=" + std::to_string(kTckNs) + f.fault);
    sim::Board board(options);
    sim::AttachedNor nor = sim::attachNorDevice(board, options);
    TimedRun run;
    downloadOverXvc(run, c, nor, board);
    EXPECT_NE(run.page.log.find("Program status: timed"), std::string::npos) << run.page.log;
    EXPECT_NE(run.page.log.find(f.line), std::string::npos) << run.page.log;
    EXPECT_EQ(run.page.outcome(), JobOutcome::Failed) << run.page.log;

    RecordingPage page;
    ReadSettings settings;
    settings.flash = ReadFlash::Nor;
    settings.product = c.product;
    settings.flashType = c.type;
    settings.width = c.width;
    settings.block = readSectorText(c.block);
    settings.size = 0x100;
    settings.outputPath = ::testing::TempDir() + "nor_after_fail_" + std::to_string(getpid()) + ".bin";
    restoreProductImages();
    runReadJob(page, board, settings);
    EXPECT_EQ(page.boxes, std::vector<std::string>{kReadCompleteText}) << page.log;
    unlink(settings.outputPath.c_str());
  }
}

}  // namespace
}  // namespace zorv
