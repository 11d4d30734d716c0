#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "cable_choice/cable_port.h"
#include "cable_choice/job_rig.h"
#include "cable_choice/simulated_ftdi.h"
#include "link/ftdi_link.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using jobrig::Bytes;

// An FTDI adapter on the board: MPSSE encoder, strict interpreter, board.
class FtdiOnBoard : public jobrig::Adapter {
 public:
  FtdiOnBoard(std::unique_ptr<sim::Board> board, const FtdiLayout& layout) {
    sim::MpsseInterpreter::Wiring wiring;
    wiring.trstPin = layout.trst.data;
    chip = std::make_shared<SimulatedFtdi>(std::move(board), wiring);
    link_ = std::make_unique<FtdiLink>(layout, [this](std::string&) {
      FtdiDevice device;
      device.transport = chip;
      return device;
    });
  }
  JtagLink& link() override { return *link_; }
  std::string close() override {
    link_.reset();  // the adapter sends what it still holds
    return chip->cause();
  }
  std::shared_ptr<SimulatedFtdi> chip;

 private:
  std::unique_ptr<FtdiLink> link_;
};

// The generic layout stands five TMS-high clocks in for nTRST; the Tigard layout moves its nTRST
// pin.
const jobrig::AdapterMaker kFtdi = [](std::unique_ptr<sim::Board> board, size_t caseIndex) {
  return std::make_unique<FtdiOnBoard>(std::move(board), *findFtdiLayout(caseIndex % 2 == 0 ? "ft2232h" : "tigard"));
};

class FtdiJobs : public ::testing::TestWithParam<size_t> {};

// Every job ends the same through the MPSSE path as on the parallel port: the same log and
// boxes, the same file read, the same flash contents and pins, with no fault in the stream.
TEST_P(FtdiJobs, LeaveTheBoardAsTheParallelPortDoes) { jobrig::expectSameAsParallelPort(GetParam(), kFtdi); }

INSTANTIATE_TEST_SUITE_P(EveryJobEveryProduct, FtdiJobs, ::testing::Range<size_t>(0, jobrig::allJobs().size()));

// An adapter pulled out in the middle of a download: the job fails naming the cause, never a
// success.
TEST(FtdiCable, UnpluggedMidJobFailsWithTheCause) {
  restoreProductImages();
  const jobrig::AdapterMaker unplugging = [](std::unique_ptr<sim::Board> board, size_t) {
    auto adapter = std::make_unique<FtdiOnBoard>(std::move(board), *findFtdiLayout("ft2232h"));
    adapter->chip->unplugAfterTransfers(60);
    return adapter;
  };
  jobrig::Rig rig("chip=OBRIN,nor=S29GL064M", 0, &unplugging);
  const fs::path image = fs::temp_directory_path() / ("zorv_ftdi_unplug_" + std::to_string(getpid()) + ".bin");
  jobrig::writeFile(image, jobrig::imageOf(4096, 2));
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
