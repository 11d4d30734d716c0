#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cable_choice/cable_port.h"
#include "cable_choice/simulated_ftdi.h"
#include "extra/extra_run.h"
#include "link/ftdi_link.h"
#include "link/parallel_port_link.h"
#include "nand/nand_job.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "readback/read_job.h"
#include "sim/nand_device.h"
#include "sim/nor_attach.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A board with its flash, driven either as the parallel port the jobs were written for, or
// through an FTDI adapter: MPSSE encoder, strict interpreter, board.
struct Rig {
  std::unique_ptr<sim::Board> ownBoard;
  std::shared_ptr<SimulatedFtdi> adapter;
  std::unique_ptr<ParallelPortLink> boardLink;
  std::unique_ptr<FtdiLink> ftdi;
  sim::Board* board = nullptr;
  sim::NandDevice* nand = nullptr;
  sim::AttachedNor nor;

  Rig(const std::string& options, uint8_t nandCode, const FtdiLayout* layout) {
    sim::BoardOptions parsed = sim::parseBoardOptions(options);
    auto made = std::make_unique<sim::Board>(parsed);
    board = made.get();
    if (nandCode != 0) {
      sim::NandDeviceConfig config;
      config.deviceCode = nandCode;
      nand = &sim::attachNandDevice(*board, config);
    } else {
      nor = sim::attachNorDevice(*board, parsed);
    }
    if (layout == nullptr) {
      ownBoard = std::move(made);
      boardLink = std::make_unique<ParallelPortLink>(*ownBoard);
      return;
    }
    sim::MpsseInterpreter::Wiring wiring;
    wiring.trstPin = layout->trst.data;
    adapter = std::make_shared<SimulatedFtdi>(std::move(made), wiring);
    ftdi = std::make_unique<FtdiLink>(*layout, [this](std::string&) {
      FtdiDevice device;
      device.transport = adapter;
      return device;
    });
  }
  JtagLink& port() { return ftdi ? static_cast<JtagLink&>(*ftdi) : *boardLink; }

  // Everything a job can leave behind on the board.
  std::vector<std::string> state() const {
    std::vector<std::string> s{board->drivenPins(), std::to_string(board->instruction()),
                               std::to_string(static_cast<int>(board->tapState()))};
    for (const std::string& v : board->violations()) s.push_back("violation " + v);
    if (nand != nullptr) {
      const uint32_t pageSize = nand->geometry().pageSize;
      for (uint32_t page : nand->storedPages()) {
        const Bytes main = nand->mainBytes(page * pageSize, pageSize);
        std::string text = "page " + std::to_string(page) + ":" + std::string(main.begin(), main.end());
        for (uint32_t o = 0; o < nand->geometry().spareSize; ++o) text += static_cast<char>(nand->spareByte(page, o));
        s.push_back(text);
      }
      for (uint32_t b : nand->eraseLog()) s.push_back("erase " + std::to_string(b));
      for (uint32_t p : nand->programLog()) s.push_back("program " + std::to_string(p));
    } else if (nor.sizeBytes() != 0) {
      std::string bytes(nor.sizeBytes(), '\0');
      for (uint32_t o = 0; o < nor.sizeBytes(); ++o) bytes[o] = static_cast<char>(nor.busByte(o));
      s.push_back(bytes);
      for (const auto& [first, last] : nor.erasedRanges()) s.push_back(std::to_string(first) + "-" + std::to_string(last));
      s.push_back("programs " + std::to_string(nor.programOperations()));
    }
    return s;
  }
};

struct JobCase {
  std::string name;
  std::string options;
  uint8_t nandCode;  // 0: a NOR board
  // Prepares the board's old contents (same on both boards) and runs the job; the files given
  // are the image to write and the output to read into.
  std::function<void(Rig&, JobPage&, JtagLink&, const fs::path& image, const fs::path& output)> run;
};

const char* const kChips[] = {"OBRIN", "TQR2400", "IKA", "VESKAR"};

Bytes imageOf(size_t size, unsigned seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 29 + seed * 13 + (i >> 7));
  return bytes;
}

std::vector<JobCase> allJobs() {
  std::vector<JobCase> cases;
  const uint8_t nandCodes[] = {0x75, 0xF1, 0xF1, 0xF1};  // few blocks: the bad-block scan reads them all
  for (int p = 0; p < kProductCount; ++p) {
    const std::string chip = std::string("chip=") + kChips[p];
    cases.push_back({std::string(kChips[p]) + " idcode", chip, 0, [p](Rig&, JobPage& page, JtagLink& port, auto&, auto&) {
                       ExtraSettings s;
                       s.product = p;
                       s.extraMode = ReadJtagId;
                       runExtraJob(page, port, s);
                     }});
    cases.push_back({std::string(kChips[p]) + " toggle", chip, 0, [p](Rig&, JobPage& page, JtagLink& port, auto&, auto&) {
                       ExtraSettings s;
                       s.product = p;
                       s.extraMode = PinToggling;
                       s.toggleCs = 1;
                       runExtraJob(page, port, s, testing::fastTicks(page, testing::stopDuringCycle(2)));
                     }});
    const uint8_t code = nandCodes[p];
    cases.push_back({std::string(kChips[p]) + " NAND download with verify", chip, code,
                     [p](Rig& rig, JobPage& page, JtagLink& port, const fs::path& image, auto&) {
                       rig.nand->preload(0, imageOf(rig.nand->geometry().pageSize, 9));
                       const Bytes bytes = imageOf(rig.nand->geometry().pageSize + 300, 1);
                       std::ofstream(image, std::ios::binary)
                           .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                       NandSettings s;
                       s.product = p;
                       s.block = 1;
                       s.imagePath = image.string();
                       s.verify = 1;
                       runNandJob(page, port, s);
                     }});
    for (const ReadMode mode : {ReadMode::Read, ReadMode::Verify, ReadMode::Erase, ReadMode::BadScan}) {
      cases.push_back({std::string(kChips[p]) + " NAND read-back " + std::to_string(static_cast<int>(mode)), chip,
                       code, [p, mode](Rig& rig, JobPage& page, JtagLink& port, const fs::path& image, const fs::path& out) {
                         const uint32_t pageSize = rig.nand->geometry().pageSize;
                         const uint32_t block = rig.nand->geometry().blockSize();
                         rig.nand->preload(block, imageOf(pageSize * 2, 3));
                         const Bytes bytes = imageOf(pageSize + 100, 3);
                         std::ofstream(image, std::ios::binary)
                             .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                         ReadSettings s;
                         s.flash = ReadFlash::Nand;
                         s.mode = mode;
                         s.product = p;
                         s.block = 1;
                         s.size = pageSize + 100;
                         s.count = 1;
                         s.outputPath = out.string();
                         s.imagePath = image.string();
                         runReadJob(page, port, s);
                       }});
    }
  }
  struct NorType {
    int product;
    const char* options;
    int type;
    int width;
  };
  const NorType types[] = {
      {Tqr2400, "chip=TQR2400,nor=EN29LV010A", En29lv010a, 8}, {Ika, "chip=IKA,nor=EN29LV040A", En29lv040a, 8},
      {Obrin, "chip=OBRIN,nor=AM29LV040B", Am29lv040b, 8},     {Tqr2400, "chip=TQR2400,nor=S29AL004D", S29al004d, 16},
      {Ika, "chip=IKA,nor=S29AL008D", S29al008d, 16},          {Obrin, "chip=OBRIN,nor=S29GL064M", S29gl064m, 16},
      {Tqr2400, "chip=TQR2400,nor=S29GL128M", S29gl128m, 16},  {Ika, "chip=IKA,nor=K8D6316", K8d6316, 16},
      {Obrin, "chip=OBRIN,nor=SST39VF6401", Sst39vf6401, 16},  {Veskar, "chip=VESKAR", 0, 8},
  };
  for (const NorType& t : types) {
    cases.push_back({std::string(t.options) + " NOR download", t.options, 0,
                     [t](Rig& rig, JobPage& page, JtagLink& port, const fs::path& image, auto&) {
                       for (uint32_t o = 0; o < 0x300; ++o) rig.nor.setBusByte(0x10000 + o, 0x5A);
                       const Bytes bytes = imageOf(200, static_cast<unsigned>(t.type));
                       std::ofstream(image, std::ios::binary)
                           .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                       NorSettings s;
                       s.product = t.product;
                       s.flashType = t.type;
                       s.width = t.width;
                       s.base = 0;
                       s.block = 1;
                       s.imagePath = image.string();
                       runNorJob(page, port, s);
                     }});
  }
  for (const NorType& t : {types[3], types[9]}) {
    for (const ReadMode mode : {ReadMode::Read, ReadMode::Verify, ReadMode::Erase}) {
      cases.push_back({std::string(t.options) + " NOR read-back " + std::to_string(static_cast<int>(mode)), t.options, 0,
                       [t, mode](Rig& rig, JobPage& page, JtagLink& port, const fs::path& image, const fs::path& out) {
                         for (uint32_t o = 0; o < 0x200; ++o) rig.nor.setBusByte(o, static_cast<uint8_t>(o * 5));
                         const Bytes bytes = imageOf(0x100, 4);
                         std::ofstream(image, std::ios::binary)
                             .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                         ReadSettings s;
                         s.flash = ReadFlash::Nor;
                         s.mode = mode;
                         s.product = t.product;
                         s.flashType = t.type;
                         s.width = t.width;
                         s.block = 0;
                         s.size = 0x180;
                         s.count = 1;
                         s.outputPath = out.string();
                         s.imagePath = image.string();
                         runReadJob(page, port, s);
                       }});
    }
  }
  return cases;
}

struct Outcome {
  std::string log;
  std::vector<std::string> boxes;
  Bytes output;
  std::vector<std::string> board;
};

// A link that answers late names how NOR programs are waited for; the parallel port never does.
// An adapter a USB round trip away polls: waiting out the worst case would cost it more.
std::string withoutWaitModeLine(std::string log) {
  EXPECT_EQ(log.find("  Program status: timed"), std::string::npos);
  const size_t at = log.find("  Program status: ");
  if (at != std::string::npos) log.erase(at, log.find("\r\n", at) + 2 - at);
  return log;
}

Outcome runOn(const JobCase& c, const FtdiLayout* layout, std::string& adapterFault) {
  // Both runs use the same names: the read-back jobs log them.
  const std::string stem = (fs::temp_directory_path() / ("zorv_ftdi_" + std::to_string(getpid()))).string();
  const fs::path image = stem + ".bin";
  const fs::path output = stem + ".out";
  restoreProductImages();
  Outcome outcome;
  {
    Rig rig(c.options, c.nandCode, layout);
    RecordingPage page;
    c.run(rig, page, rig.port(), image, output);
    rig.ftdi.reset();  // the adapter sends what it still holds
    if (rig.adapter) adapterFault = rig.adapter->cause();
    outcome = {layout != nullptr ? withoutWaitModeLine(page.log) : page.log, page.boxes, slurp(output), rig.state()};
  }
  std::error_code ignored;
  fs::remove(image, ignored);
  fs::remove(output, ignored);
  return outcome;
}

class FtdiJobs : public ::testing::TestWithParam<size_t> {};

// Every job ends the same through the MPSSE path as on the parallel port: the same log and
// boxes, the same file read, the same flash contents and pins, with no fault in the stream. The
// generic layout stands five TMS-high clocks in for nTRST; the Tigard layout moves its nTRST pin.
TEST_P(FtdiJobs, LeaveTheBoardAsTheParallelPortDoes) {
  const JobCase c = allJobs()[GetParam()];
  SCOPED_TRACE(c.name);
  std::string fault;
  const Outcome direct = runOn(c, nullptr, fault);
  const FtdiLayout* layout = findFtdiLayout(GetParam() % 2 == 0 ? "ft2232h" : "tigard");
  const Outcome mpsse = runOn(c, layout, fault);
  EXPECT_EQ(fault, "");
  EXPECT_EQ(mpsse.log, direct.log);
  EXPECT_EQ(mpsse.boxes, direct.boxes);
  EXPECT_TRUE(mpsse.output == direct.output);
  ASSERT_EQ(mpsse.board.size(), direct.board.size());
  for (size_t i = 0; i < direct.board.size(); ++i) EXPECT_TRUE(mpsse.board[i] == direct.board[i]) << "board item " << i;
}

INSTANTIATE_TEST_SUITE_P(EveryJobEveryProduct, FtdiJobs, ::testing::Range<size_t>(0, allJobs().size()));

// An adapter pulled out in the middle of a download: the job fails naming the cause, never a
// success.
TEST(FtdiCable, UnpluggedMidJobFailsWithTheCause) {
  restoreProductImages();
  Rig rig("chip=OBRIN,nor=S29GL064M", 0, findFtdiLayout("ft2232h"));
  rig.adapter->unplugAfterTransfers(60);
  const fs::path image = fs::temp_directory_path() / ("zorv_ftdi_unplug_" + std::to_string(getpid()) + ".bin");
  const Bytes bytes = imageOf(4096, 2);
  std::ofstream(image, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  RecordingPage page;
  NorSettings s;
  s.product = Obrin;
  s.flashType = S29gl064m;
  s.width = 16;
  s.block = 1;
  s.imagePath = image.string();
  runNorJob(page, rig.port(), s);
  fs::remove(image);
  EXPECT_NE(page.log.find("Erasing"), std::string::npos) << page.log;
  EXPECT_NE(page.log.find("Cable: the FTDI adapter was unplugged"), std::string::npos) << page.log;
  for (const std::string& box : page.boxes) EXPECT_EQ(box.find("Complete"), std::string::npos) << box;
}

}  // namespace
}  // namespace zorv

namespace zorv {
namespace {

FtdiOpener openerOf(std::shared_ptr<SimulatedFtdi> adapter) {
  return [adapter](std::string&) {
    FtdiDevice device;
    device.transport = adapter;
    device.name = "FT2232H";
    return device;
  };
}

// A board whose nTRST line is filtered (5 ms) sees the pulse: held low long enough to reach the TAP,
// and released long enough before the next clock that the clock is not lost to a TAP still reset.
TEST(FtdiCable, NtrstPulseReachesATapBehindAFilteredLine) {
  const FtdiLayout& tigard = *findFtdiLayout("tigard");
  sim::MpsseInterpreter::Wiring wiring;
  wiring.trstPin = tigard.trst.data;
  wiring.trstFilter = std::chrono::milliseconds(5);
  auto adapter = std::make_shared<SimulatedFtdi>(sim::makeBoard("chip=IKA"), wiring);
  FtdiLink link(tigard, openerOf(adapter));
  ASSERT_TRUE(link.grantAccess());
  link.clockTms(0b0010, 4, false);  // Test-Logic-Reset to Shift-DR
  link.flush();
  ASSERT_EQ(adapter->board().tapState(), sim::TapState::ShiftDr);
  link.pulseTrst();
  EXPECT_EQ(adapter->board().tapState(), sim::TapState::TestLogicReset);
  link.clockTms(0, 1, false);
  link.flush();
  EXPECT_EQ(adapter->board().tapState(), sim::TapState::RunTestIdle);
  EXPECT_EQ(link.linkFailure(), "");
}

// Below the 60 MHz clock's slowest rate (458 Hz) the 12 MHz one takes over, never a faster TCK
// than asked (as the modelled chip runs it); below its own slowest (91.6 Hz) the cable is refused.
TEST(FtdiCable, SlowTckNeverRunsFasterThanAsked) {
  for (const uint64_t hz : {458u, 457u, 100u, 92u}) {
    SCOPED_TRACE(hz);
    auto adapter = std::make_shared<SimulatedFtdi>(sim::makeBoard("chip=IKA"), sim::MpsseInterpreter::Wiring{});
    FtdiLink link(*findFtdiLayout("ft2232h"), openerOf(adapter), tckPeriodOfRate(hz));
    ::testing::internal::CaptureStderr();
    link.grantAccess();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(link.linkFailure(), "");
    EXPECT_LE(adapter->interpreter().tckHz(), hz);
    EXPECT_GE(adapter->interpreter().tckHz(), hz * 99 / 100);
  }
  auto adapter = std::make_shared<SimulatedFtdi>(sim::makeBoard("chip=IKA"), sim::MpsseInterpreter::Wiring{});
  FtdiLink link(*findFtdiLayout("ft2232h"), openerOf(adapter), tckPeriodOfRate(91));
  link.grantAccess();
  EXPECT_EQ(link.linkFailure(), "the FT2232H runs TCK at 91.6 Hz at the slowest; 91 Hz asked");
  EXPECT_EQ(adapter->interpreter().clocks(), 0u);
}

}  // namespace
}  // namespace zorv
