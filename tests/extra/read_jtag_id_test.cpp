#include <gtest/gtest.h>

#include "cable/recording_port.h"
#include "extra/extra_job.h"
#include "extra/extra_run.h"
#include "page/recording_page.h"
#include "readback/losing_port.h"

namespace zorv::testing {
namespace {

TEST(ReadJtagId, LogsTheDecodedIdOfEachProduct) {
  const struct {
    int product;
    const char* board;
    const char* line;
  } cases[] = {
      {Obrin, "", "  JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)\r\n"},
      {Tqr2400, "chip=TQR2400", "  JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)\r\n"},
      {Ika, "chip=IKA", "  JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)\r\n"},
      {Veskar, "chip=VESKAR", "  JTAG ID: Ver(0x0), Part(0x0022), Maker(0xB5E)\r\n"},
  };
  for (const auto& c : cases) {
    ExtraRun job(c.board);
    job.run(c.product, ReadJtagId);
    EXPECT_EQ(job.page.log, std::string("[READ JTAG ID]\r\n") + c.line + "\r\n") << c.board;
    EXPECT_TRUE(job.page.boxes.empty());
    EXPECT_FALSE(job.everShowedStop());
    EXPECT_EQ(job.board->updateCount(), 0u) << "reading the ID drives no pins";
    EXPECT_EQ(job.board->tapState(), sim::TapState::TestLogicReset) << "nTRST pulsed at the end";
    EXPECT_EQ(job.page.events.front().what, "lock");
    EXPECT_EQ(job.page.events.back().what, "unlock");
  }
}

// Every failure after the header ends the same way: one box, an empty line, nTRST, unlocked page.
TEST(ReadJtagId, FailuresShowTheirBoxAndCleanUp) {
  const struct {
    const char* board;
    int product;
    const char* box;
    const char* cause;  // the log line naming what was read and what was expected
  } cases[] = {
      {"noboard", Obrin, "Cannot read JTAG ID", "  Cable: TDO stays high: no chip answers (JTAG ID read 0xFFFFFFFF)\r\n"},
      {"tdo=0", Obrin, "Cannot read JTAG ID", "  Cable: TDO stays low: no chip answers (JTAG ID read 0x00000000)\r\n"},
      {"tdo=1", Veskar, "Cannot read JTAG ID", "  Cable: TDO stays high: no chip answers (JTAG ID read 0xFFFFFFFF)\r\n"},
      // Another product on the board: TQR2400 takes OBRIN's identification opcode for BYPASS, and
      // VESKAR's version field is OBRIN's.
      {"chip=TQR2400", Obrin, "Cannot read JTAG ID",
       "  JTAG ID: read 0xE1E1E1E0, expected 0x00AECADD (mask 0x0FFFFFFF)\r\n"},
      {"chip=VESKAR", Obrin, "Cannot read JTAG ID",
       "  JTAG ID: read 0x0022B5E1 (VESKAR), expected 0x00AECADD (mask 0x0FFFFFFF)\r\n"},
      {"noport", Obrin, "Cannot get LPT Base.", ""},
  };
  for (const auto& c : cases) {
    for (int mode : {ReadJtagId, PinToggling}) {
      ExtraRun job(c.board);
      job.run(c.product, mode);
      const std::string header = mode == ReadJtagId ? "[READ JTAG ID]\r\n" : "[Toggling All Boundary]\r\n";
      EXPECT_EQ(job.page.log, header + c.cause + "\r\n") << c.board;
      ASSERT_EQ(job.page.boxes.size(), 1u) << c.board;
      EXPECT_EQ(job.page.boxes[0], c.box);
      EXPECT_FALSE(job.everShowedStop()) << c.board;
      EXPECT_EQ(job.board->updateCount(), 0u);
      EXPECT_EQ(job.board->extestLoads(), 0u) << "no pin is driven by a job on the wrong chip";
      EXPECT_FALSE(job.page.locked);
      EXPECT_EQ(job.page.events.back().what, "unlock");
      EXPECT_EQ(job.board->tapState(), sim::TapState::TestLogicReset);
    }
  }
}

TEST(ReadJtagId, ProductOrModeOutOfRangeDoesNothingButTheFrame) {
  const struct {
    int product;
    int mode;
  } cases[] = {{-1, ReadJtagId}, {4, PinToggling}, {Obrin, 2}, {Veskar, -1}};
  for (const auto& c : cases) {
    ExtraRun job("");
    job.run(c.product, c.mode);
    EXPECT_EQ(job.page.log, "\r\n");
    EXPECT_TRUE(job.page.boxes.empty());
    EXPECT_EQ(job.board->tckCount(), 0u) << "the cable is never touched";
    ASSERT_EQ(job.page.events.size(), 3u);
    EXPECT_EQ(job.page.events[0].what, "lock");
    EXPECT_EQ(job.page.events[2].what, "unlock");
  }
}

// The scan's answers were all in when the link went, on its last clock: still no success.
TEST(ReadJtagId, ALinkLostDuringTheIdScanIsNoSuccess) {
  auto board = sim::makeBoard("");
  ExtraSettings settings;
  settings.extraMode = ReadJtagId;
  LosingPort counting(*board);
  RecordingPage whole;
  runExtraJob(whole, counting, settings);
  ASSERT_TRUE(whole.boxes.empty());
  LosingPort losing(*board);
  losing.limit = counting.writes - 3;  // before the closing nTRST pulse
  RecordingPage page;
  runExtraJob(page, losing, settings);
  EXPECT_EQ(page.log, "[READ JTAG ID]\r\n  Cable: link to the test board lost\r\n\r\n");
  EXPECT_EQ(page.boxes, std::vector<std::string>{"Cannot read JTAG ID"});
  EXPECT_EQ(page.outcome(), JobOutcome::Failed);
}

TEST(ReadJtagId, RefusedPortAccessIsReportedAndTheJobGoesOn) {
  RecordingPort port;
  port.accessGranted = false;  // and nothing answers: reads give 0xFF
  RecordingPage page;
  ExtraSettings settings;
  settings.extraMode = ReadJtagId;
  runExtraJob(page, port, settings);
  ASSERT_EQ(page.boxes.size(), 2u);
  EXPECT_EQ(page.boxes[0], "Couldn't access giveio device");
  EXPECT_EQ(page.boxes[1], "Cannot get LPT Base.");
  EXPECT_EQ(page.events[0].what, "box") << "access is asked for before the page is locked";
  EXPECT_EQ(page.events[1].what, "lock");
  EXPECT_EQ(page.log, "[READ JTAG ID]\r\n\r\n");
  EXPECT_EQ(port.writtenBytes(), (std::vector<uint8_t>{0x55, 0x0C, 0x04, 0x0C}))
      << "the presence test, then only the closing nTRST pulse";
}

}  // namespace
}  // namespace zorv::testing
