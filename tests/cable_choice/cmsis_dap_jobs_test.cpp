#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "cable_choice/job_rig.h"
#include "cable_choice/simulated_cmsis_dap.h"
#include "cmsis_dap/cmsis_dap_link.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "readback/read_job.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Misbehaviour = SimulatedCmsisDap::Misbehaviour;

// A CMSIS-DAP probe on the board: sequence packer, link, strict probe model, board.
class ProbeOnBoard : public jobrig::Adapter {
 public:
  ProbeOnBoard(std::unique_ptr<sim::Board> board, sim::DapProbe::Config config) {
    probe = std::make_shared<SimulatedCmsisDap>(std::move(board), config);
    link_ = std::make_unique<CmsisDapLink>([this](std::string&) -> std::shared_ptr<DapTransport> { return probe; });
  }
  JtagLink& link() override { return *link_; }
  std::string close() override {
    link_.reset();
    if (probe->probe().disconnects() == 0) return "no DAP_Disconnect at the end";
    return probe->cause();
  }
  std::shared_ptr<SimulatedCmsisDap> probe;

 private:
  std::unique_ptr<CmsisDapLink> link_;
};

// Small and large packets, with and without room for several in flight, with and without nTRST.
const jobrig::AdapterMaker kProbe = [](std::unique_ptr<sim::Board> board, size_t caseIndex) {
  sim::DapProbe::Config config;
  config.packetSize = caseIndex % 2 == 0 ? 512 : 64;
  config.packetCount = (caseIndex / 2) % 2 == 0 ? 1 : 4;
  config.trstWired = caseIndex % 3 != 0;
  return std::make_unique<ProbeOnBoard>(std::move(board), config);
};

class CmsisDapJobs : public ::testing::TestWithParam<size_t> {};

// Every job ends the same through the probe as on the parallel port, with no fault in the packets
// and the probe disconnected at the end.
TEST_P(CmsisDapJobs, LeaveTheBoardAsTheParallelPortDoes) { jobrig::expectSameAsParallelPort(GetParam(), kProbe); }

INSTANTIATE_TEST_SUITE_P(EveryJobEveryProduct, CmsisDapJobs, ::testing::Range<size_t>(0, jobrig::allJobs().size()));

// A NOR read over the probe gathers its reads into runs that one wait collects, rather than
// waiting for every unit on its own.
TEST(CmsisDapCable, NorReadsGatherIntoRunsOfOneWait) {
  restoreProductImages();
  const jobrig::AdapterMaker keep = [](std::unique_ptr<sim::Board> board, size_t) {
    return std::make_unique<ProbeOnBoard>(std::move(board), sim::DapProbe::Config{});
  };
  jobrig::Rig rig("chip=OBRIN,nor=S29AL008D", 0, &keep);
  const fs::path out = fs::temp_directory_path() / ("zorv_dap_read_" + std::to_string(getpid()) + ".bin");
  RecordingPage page;
  ReadSettings s;
  s.flash = ReadFlash::Nor;
  s.mode = ReadMode::Read;
  s.product = Obrin;
  s.flashType = S29al008d;
  s.width = 16;
  s.size = 4096;
  s.outputPath = out.string();
  const auto& link = static_cast<const CmsisDapLink&>(rig.port());
  runNorReadJob(page, rig.port(), s);
  fs::remove(out);
  EXPECT_EQ(page.boxes, std::vector<std::string>{kReadCompleteText});
  EXPECT_LE(link.flushWaits(), 10u) << "2048 units read";
}

// A probe that is unplugged, answers with an error status, answers short or falls silent in the
// middle of a download fails the job with its message and the cause, never a success.
TEST(CmsisDapCable, AProbeFaultMidJobFailsTheJobNamingIt) {
  const std::pair<Misbehaviour, const char*> faults[] = {
      {Misbehaviour::Unplugged, "Cable: the CMSIS-DAP probe was unplugged"},
      {Misbehaviour::ErrorStatus, "Cable: the CMSIS-DAP probe answered DAP_JTAG_Sequence with error status 0xFF"},
      {Misbehaviour::ShortAnswer, "Cable: the CMSIS-DAP probe's answer to DAP_JTAG_Sequence is"},
      {Misbehaviour::Silent, "Cable: the CMSIS-DAP probe gave no answer to DAP_JTAG_Sequence within 5 s"},
  };
  const fs::path image = fs::temp_directory_path() / ("zorv_dap_fault_" + std::to_string(getpid()) + ".bin");
  jobrig::writeFile(image, jobrig::imageOf(4096, 2));
  for (const auto& [how, line] : faults) {
    SCOPED_TRACE(line);
    restoreProductImages();
    const jobrig::AdapterMaker failing = [how = how](std::unique_ptr<sim::Board> board, size_t) {
      auto adapter = std::make_unique<ProbeOnBoard>(std::move(board), sim::DapProbe::Config{});
      adapter->probe->misbehaveAfter(300, how);
      return adapter;
    };
    jobrig::Rig rig("chip=OBRIN,nor=S29GL064M", 0, &failing);
    RecordingPage page;
    NorSettings s;
    s.product = Obrin;
    s.flashType = S29gl064m;
    s.width = 16;
    s.block = 1;
    s.imagePath = image.string();
    runNorJob(page, rig.port(), s);
    EXPECT_NE(page.log.find("Erasing"), std::string::npos) << page.log;
    EXPECT_NE(page.log.find(line), std::string::npos) << page.log;
    ASSERT_FALSE(page.boxes.empty());
    for (const std::string& box : page.boxes) EXPECT_EQ(box.find("Complete"), std::string::npos) << box;
  }
  fs::remove(image);
}

}  // namespace
}  // namespace zorv
