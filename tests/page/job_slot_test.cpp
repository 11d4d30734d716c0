#include "page/job_slot.h"

#include <gtest/gtest.h>

#include <future>

#include "extra/extra_job.h"
#include "extra/extra_run.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

using testing::fastTicks;
using testing::stopDuringCycle;

ExtraSettings readId() {
  ExtraSettings settings;
  settings.extraMode = ReadJtagId;
  return settings;
}

ExtraSettings toggling() {
  ExtraSettings settings;
  settings.extraMode = PinToggling;
  return settings;
}

// Page A's job is held in its set-up; meanwhile nothing else may start, on A or on B.
TEST(JobSlot, OneJobAtATimePerPageAndOnTheCable) {
  restoreProductImages();
  auto board = sim::makeBoard("");
  RecordingPage pageA, pageB;
  JobSlot slotA, slotB;
  std::promise<void> inSetUp;
  std::promise<void> goOn;
  std::shared_future<void> goOnSignal = goOn.get_future().share();
  pageA.onEvent = [&](RecordingPage&, const RecordingPage::Event& e) {
    if (e.what == "lock") {
      inSetUp.set_value();
      goOnSignal.wait();
    }
  };
  const auto jobA = [&] { runExtraJob(pageA, *board, readId()); };
  ASSERT_EQ(startOrStopJob(pageA, slotA, "RUN", jobA, nullptr), StartOutcome::Started);
  inSetUp.get_future().wait();

  std::string why;
  bool secondRan = false;
  EXPECT_EQ(startOrStopJob(pageA, slotA, "RUN", [&] { secondRan = true; }, &why), StartOutcome::Refused)
      << "Enter during set-up";
  EXPECT_EQ(why, kPageBusyText);

  pageB.stopRequested.store(1);  // left over from an earlier job on B
  why.clear();
  const auto jobB = [&] {
    runExtraJob(pageB, *board, toggling(), fastTicks(pageB, stopDuringCycle(1)));
  };
  EXPECT_EQ(startOrStopJob(pageB, slotB, "RUN", jobB, &why), StartOutcome::Refused);
  EXPECT_EQ(why, kCableBusyText);
  EXPECT_EQ(pageB.stopRequested.load(), 1) << "a refused start changes nothing";
  EXPECT_TRUE(pageB.events.empty());

  goOn.set_value();
  slotA.join();
  EXPECT_FALSE(secondRan);
  EXPECT_EQ(pageA.log, "[READ JTAG ID]\r\n  JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)\r\n\r\n");

  const uint64_t updatesBefore = board->updateCount();
  ASSERT_EQ(startOrStopJob(pageB, slotB, "RUN", jobB, &why), StartOutcome::Started);
  EXPECT_EQ(pageB.stopRequested.load(), 0) << "the stale request is dropped when the job starts";
  slotB.join();
  EXPECT_EQ(board->updateCount() - updatesBefore, 2u) << "so the toggling ran a full cycle";
  EXPECT_EQ(pageB.log.find("STOP.\r\n") != std::string::npos, true);
}

TEST(JobSlot, StopPressedWhileTogglingEndsTheJob) {
  restoreProductImages();
  auto board = sim::makeBoard("chip=IKA");
  RecordingPage page;
  JobSlot slot;
  std::promise<void> stoppable;
  page.onEvent = [&](RecordingPage&, const RecordingPage::Event& e) {
    if (e.what == "button" && e.text == "STOP" && e.enabled) stoppable.set_value();
  };
  ExtraSettings settings = toggling();
  settings.product = Ika;
  ASSERT_EQ(startOrStopJob(page, slot, "RUN",
                           [&] { runExtraJob(page, *board, settings, fastTicks(page, 0)); }, nullptr),
            StartOutcome::Started);
  stoppable.get_future().wait();
  std::string why;
  EXPECT_EQ(startOrStopJob(page, slot, "STOP", [] { FAIL() << "STOP never starts a job"; }, &why),
            StartOutcome::StopRequested);
  slot.join();
  EXPECT_FALSE(slot.busy());
  EXPECT_EQ(page.stopRequested.load(), 0);
  EXPECT_EQ(page.boxes.size(), 0u);
  EXPECT_NE(page.log.find("  Start toggling ... STOP.\r\n\r\n"), std::string::npos);
  EXPECT_EQ(board->updateCount() % 2, 0u) << "whole cycles only";
  EXPECT_TRUE(tryAcquireCable()) << "the cable is free again";
  releaseCable();
}

}  // namespace
}  // namespace zorv
