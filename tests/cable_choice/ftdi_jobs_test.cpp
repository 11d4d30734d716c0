#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

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
