#include "page/console_page.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

namespace zorv {
namespace {

TEST(ConsolePage, LogLineEndsBecomeNewlinesAndBoxesGoToErr) {
  std::ostringstream out, err;
  ConsolePage page(out, err, false);
  page.appendLog("[Toggling All Boundary]\r\n");
  page.appendLog("  Start toggling ... ");
  page.appendLog("STOP.\r\n");
  page.appendLog("\r\n");
  EXPECT_EQ(out.str(), "[Toggling All Boundary]\n  Start toggling ... STOP.\n\n");
  page.setOutcome(JobOutcome::Succeeded);
  EXPECT_EQ(page.exitStatus(), 0);
  page.showByteCount(1, 2);
  EXPECT_EQ(err.str(), "") << "no progress line unless asked for";
  page.messageBox("Cannot read JTAG ID");
  page.setOutcome(JobOutcome::Failed);
  EXPECT_EQ(err.str(), "Cannot read JTAG ID\n");
  EXPECT_EQ(page.exitStatus(), 1);
}

TEST(ConsolePage, StopSignalRequestsTheStopAndMeans130) {
  std::ostringstream out, err;
  {
    ConsolePage page(out, err, false);
    page.installStopSignals();
    std::raise(SIGTERM);
    EXPECT_EQ(page.stopRequested.load(), 1);
    EXPECT_EQ(page.exitStatus(), 130);
    page.messageBox("Cannot get LPT Base.");
    page.setOutcome(JobOutcome::Failed);
    EXPECT_EQ(page.exitStatus(), 1) << "a failure outranks the stop";
  }
  EXPECT_EQ(std::signal(SIGTERM, SIG_DFL), SIG_DFL) << "the page gives the signal back when it goes";
}

TEST(ConsolePage, AJobThatEndsWithoutAnOutcomeFails) {
  std::ostringstream out, err;
  ConsolePage failed(out, err, false);
  failed.appendLog("\r\n  Write to 0x10 failed\r\n");  // a unit failure shows no box
  EXPECT_EQ(failed.exitStatus(), 1);

  ConsolePage completed(out, err, false);
  completed.messageBox("Download Complete.");
  completed.setOutcome(JobOutcome::Succeeded);
  EXPECT_EQ(completed.exitStatus(), 0);
}

TEST(ConsolePage, TheOutcomeNotTheBoxTextDecidesTheExitStatus) {
  std::ostringstream out, err;
  ConsolePage reworded(out, err, false);
  reworded.messageBox("The image is in the flash.");
  reworded.setOutcome(JobOutcome::Succeeded);
  EXPECT_EQ(reworded.exitStatus(), 0);

  ConsolePage failedQuietly(out, err, false);
  failedQuietly.messageBox("Download Complete.");
  failedQuietly.setOutcome(JobOutcome::Failed);
  EXPECT_EQ(failedQuietly.exitStatus(), 1);

  ConsolePage stopped(out, err, false);
  stopped.setOutcome(JobOutcome::Stopped);
  EXPECT_EQ(stopped.exitStatus(), 130);
}

}  // namespace
}  // namespace zorv
