#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QPushButton>
#include <atomic>
#include <thread>

#include "link/jtag_cable.h"
#include "cable/recording_port.h"
#include "page/job_slot.h"
#include "ui_test_support.h"

namespace zorv::ui::test {
namespace {

QString caption(JobPageWidget& page, int id) { return static_cast<QPushButton*>(page.control(id))->text(); }

// Ends a fake job the way every job ends: a blank line, the reset pulse, the page unlocked.
void commonEnd(JobPage& page, JtagLink& port) {
  page.appendLog("\r\n");
  JtagCable cable(port);
  cable.dataPort = kLptDataPort;
  cable.pulseTrst();
  page.unlockPage();
}

bool endsWithResetPulse(const RecordingPort& port) {
  const auto bytes = port.writtenBytes();
  return bytes.size() >= 3 && std::vector<uint8_t>(bytes.end() - 3, bytes.end()) == std::vector<uint8_t>{0x0C, 0x04, 0x0C};
}

TEST(JobThreadTest, PageOperationsFromTheJobThreadAreDoneWhenTheyReturn) {
  NullPort port;
  Window window(port);
  NandPage& nand = window.nand();
  nand.jobPage().clock = [] { return int64_t{1000}; };
  std::atomic<int> step{0};
  std::thread job([&] {
    JobPage& page = nand.jobPage();
    page.lockPage();
    step = 1;
    page.appendLog("[Download to NAND]\r\n");
    step = 2;
    page.showProgress(1024, 4096, 1000 - 61);
    step = 3;
    page.setStartButton("STOP", true);
    step = 4;
    page.unlockPage();
    step = 5;
  });
  // Whenever a step is seen here, the request before it must already show (the one after it may
  // show too: it can have run while the job was on its way to the next step).
  bool inOrder = true;
  ASSERT_TRUE(waitUntil([&] {
    const int now = step.load();
    const bool enabled = nand.control(NandPage::StartButton)->isEnabled();
    const QString bytes = static_cast<QLabel*>(nand.control(NandPage::ByteCounter))->text();
    if (now == 1) inOrder &= !enabled;
    if (now == 2) inOrder &= nand.logText() == "[Download to NAND]\r\n";
    if (now == 3)
      inOrder &= bytes == "1024 / 4096 [Bytes]" &&
                 static_cast<QLabel*>(nand.control(NandPage::Clock))->text() == "01 : 01";
    // unlockPage may already have run too, which puts the idle caption back.
    if (now == 4)
      inOrder &= enabled && (caption(nand, NandPage::StartButton) == "STOP" ||
                             caption(nand, NandPage::StartButton) == "Download");
    return now == 5;
  }));
  job.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(caption(nand, NandPage::StartButton), "Download");
  EXPECT_TRUE(nand.control(NandPage::StartButton)->isEnabled());
}

TEST(JobThreadTest, MessageBoxesAreModalWarningsWithOkOnlyAndTheJobWaitsForThem) {
  NullPort port;
  Window window(port);
  std::atomic<bool> returned{false};
  bool jobWaited = false;
  window.onBox = [&](QMessageBox& box) {
    jobWaited = !returned.load();
    EXPECT_EQ(box.icon(), QMessageBox::Warning);
    EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box.windowTitle(), "ZORV Parallel JTAG");
    EXPECT_EQ(box.parentWidget(), window.dialog.get());
    EXPECT_TRUE(box.isModal());
  };
  std::thread job([&] {
    window.nor().jobPage().messageBox("Cannot find LPT PORT");
    returned = true;
  });
  ASSERT_TRUE(waitUntil([&] { return returned.load(); }));
  job.join();
  EXPECT_TRUE(jobWaited);
  EXPECT_EQ(window.boxes, QStringList{"Cannot find LPT PORT"});
}

TEST(JobThreadTest, ASecondStartIsRefusedWithABoxAndNothingElseChanges) {
  RecordingPort port;
  Window window(port);
  NandPage& nand = window.nand();
  NorPage& nor = window.nor();
  std::atomic<int> runs{0};
  nand.setJobFunction([&](JobPage& page, JtagLink& io, const NandSettings&) {
    ++runs;
    page.lockPage();
    // Set-up: the button still reads "Download", disabled; Enter in the log box tries a second start.
    while (page.stopRequested.load() == 0) std::this_thread::yield();
    page.stopRequested.store(0);
    commonEnd(page, io);
    return 0;
  });
  std::atomic<int> norRuns{0};
  nor.setJobFunction([&](JobPage&, JtagLink&, const NorSettings&) { return ++norRuns; });

  window.click(nand, NandPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !nand.control(NandPage::StartButton)->isEnabled(); }));

  QTest::keyClick(nand.control(NandPage::Log), Qt::Key_Return);
  EXPECT_EQ(window.boxes, QStringList{QString::fromUtf8(kPageBusyText)});
  EXPECT_EQ(caption(nand, NandPage::StartButton), "Download");
  EXPECT_FALSE(nand.control(NandPage::StartButton)->isEnabled());
  EXPECT_EQ(nand.stopRequested(), 0);

  // Another page while the cable is busy.
  window.dialog->pageTabs().tabBar()->setCurrentIndex(1);
  window.click(nor, NorPage::StartButton);
  EXPECT_EQ(window.boxes.size(), 2);
  EXPECT_EQ(window.boxes.last(), QString::fromUtf8(kCableBusyText));
  EXPECT_FALSE(nor.jobRunning());
  EXPECT_TRUE(nor.control(NorPage::StartButton)->isEnabled());
  EXPECT_EQ(nor.logText(), "");

  nand.requestStop();
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));
  EXPECT_EQ(runs.load(), 1);
  EXPECT_EQ(norRuns.load(), 0);

  // With the cable free again the other page starts.
  window.click(nor, NorPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return norRuns.load() == 1 && !nor.jobRunning(); }));
}

// A long job that polls its stop flag and, once stopped, still has a box and its common end ahead.
int stoppableJob(JobPage& page, JtagLink& port, std::atomic<bool>& ended) {
  page.lockPage();
  page.appendLog("[Toggling All Boundary]\r\n");
  page.setStartButton("STOP", true);
  while (page.stopRequested.load() == 0) std::this_thread::yield();
  page.stopRequested.store(0);
  page.appendLog("  STOP.\r\n");
  page.setStartButton("STOP", false);
  page.messageBox("Stopped by the user");
  commonEnd(page, port);
  ended = true;
  return 0;
}

TEST(JobThreadTest, ClosingMidJobStopsTheJobLetsItEndAndThenCloses) {
  RecordingPort port;
  Window window(port);
  ExtraPage& extra = window.extra();
  std::atomic<bool> ended{false};
  extra.setJobFunction([&](JobPage& page, JtagLink& io, const ExtraSettings&) { return stoppableJob(page, io, ended); });
  window.dialog->pageTabs().tabBar()->setCurrentIndex(2);
  window.click(extra, ExtraPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return caption(extra, ExtraPage::StartButton) == "STOP"; }));

  EXPECT_FALSE(window.dialog->close());  // not yet: the job is still running
  EXPECT_TRUE(window.dialog->closing());
  ASSERT_TRUE(waitUntil([&] { return !window.dialog->isVisible(); }));
  EXPECT_TRUE(ended.load());
  EXPECT_FALSE(extra.jobRunning());
  EXPECT_TRUE(window.boxes.isEmpty());  // nobody was left to read the box: it answered itself
  EXPECT_EQ(extra.logText(), "[Toggling All Boundary]\r\n  STOP.\r\n\r\n");
  EXPECT_TRUE(endsWithResetPulse(port));
}

TEST(JobThreadTest, ClosingWhileAJobBoxIsOpenAnswersTheBox) {
  RecordingPort port;
  Window window(port);
  NorPage& nor = window.nor();
  std::atomic<bool> ended{false};
  nor.setJobFunction([&](JobPage& page, JtagLink& io, const NorSettings&) {
    page.lockPage();
    page.messageBox("Cannot find LPT PORT");
    commonEnd(page, io);
    ended = true;
    return 0;
  });
  // The box stays open until the window is closed behind it.
  window.dialog->boxes().onShown = [&](QMessageBox&) { QTimer::singleShot(0, window.dialog.get(), [&] { window.dialog->close(); }); };
  window.click(nor, NorPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !window.dialog->isVisible(); }));
  EXPECT_TRUE(ended.load());
  EXPECT_TRUE(endsWithResetPulse(port));
}

TEST(JobThreadTest, DestroyingTheWindowMidJobNeitherHangsNorTouchesTheGonePage) {
  RecordingPort port;
  auto window = std::make_unique<Window>(port);
  std::atomic<bool> ended{false};
  std::atomic<int> requestsAfterStop{0};
  window->nand().setJobFunction([&](JobPage& page, JtagLink& io, const NandSettings&) {
    page.lockPage();
    page.setStartButton("STOP", true);
    while (page.stopRequested.load() == 0) page.appendLog(".");  // keeps the UI thread busy with requests
    for (int i = 0; i < 100; ++i, ++requestsAfterStop) page.appendLog(".");
    page.messageBox("Download Complete.");
    commonEnd(page, io);
    ended = true;
    return 0;
  });
  window->click(window->nand(), NandPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return window->nand().logText().size() > 10; }));
  window.reset();  // joins the job: it must get through its remaining requests on its own
  EXPECT_TRUE(ended.load());
  EXPECT_EQ(requestsAfterStop.load(), 100);
  EXPECT_TRUE(endsWithResetPulse(port));
}

}  // namespace
}  // namespace zorv::ui::test
