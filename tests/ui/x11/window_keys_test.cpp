// The window from the keyboard alone, on a real X server: where the focus starts, where Tab, the
// arrows, Space, Enter and Ctrl+Tab take it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTabBar>
#include <atomic>
#include <thread>

#include "cable/recording_port.h"
#include "targets/target_product.h"
#include "ui/ui_test_support.h"

namespace zorv::ui::test {
namespace {

// A key as the user presses it: to whichever widget has the focus.
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(static_cast<QWidget*>(nullptr), key, modifiers);
}

QWidget* focus() { return QApplication::focusWidget(); }

int waitForStop(JobPage& page) {
  page.lockPage();
  page.setStartButton("STOP", true);
  while (page.stopRequested.load() == 0) std::this_thread::yield();
  page.stopRequested.store(0);
  page.unlockPage();
  return 0;
}

TEST(WindowKeysTest, FocusStartsOnThePageAndTabLeavesTheLogUntouched) {
  NullPort port;
  Window window(port);
  NandPage& nand = window.nand();
  QTabBar* tabs = window.dialog->pageTabs().tabBar();
  EXPECT_EQ(focus(), nand.control(NandPage::productRadio(Obrin)));

  tabs->setFocus();
  ASSERT_TRUE(waitUntil([&] { return focus() == tabs; }));
  press(Qt::Key_Tab);
  EXPECT_EQ(focus(), nand.control(NandPage::productRadio(Obrin)));
  press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(focus(), tabs);

  // The log: selected and copied from the keyboard, never typed into; Tab leaves it.
  auto* log = static_cast<QPlainTextEdit*>(nand.control(NandPage::Log));
  nand.appendLog("[Download to NAND]\r\n");
  log->setFocus();
  ASSERT_TRUE(waitUntil([&] { return focus() == log; }));
  press(Qt::Key_X);
  press(Qt::Key_Home, Qt::ControlModifier);
  press(Qt::Key_End, Qt::ShiftModifier);
  EXPECT_EQ(log->textCursor().selectedText(), "[Download to NAND]");
  press(Qt::Key_Tab);
  EXPECT_NE(focus(), log);
  EXPECT_EQ(nand.logText(), "[Download to NAND]\r\n");
}

// The Extra Function page run from the keyboard: Ctrl+Tab from the log, the arrows in each radio
// group, Space on the check box (Enter there starts nothing), Enter on RUN.
TEST(WindowKeysTest, ReadJtagIdChosenAndStartedWithKeysOnly) {
  NullPort port;
  Window window(port);
  ExtraPage& extra = window.extra();
  std::atomic<int> started{0};
  ExtraSettings ran;
  extra.setJobFunction([&](JobPage& page, JtagLink&, const ExtraSettings& settings) {
    ran = settings;
    ++started;
    return waitForStop(page);
  });
  window.nand().control(NandPage::Log)->setFocus();
  press(Qt::Key_Tab, Qt::ControlModifier);
  press(Qt::Key_Tab, Qt::ControlModifier);
  ASSERT_TRUE(extra.isVisible());
  EXPECT_EQ(focus(), extra.control(ExtraPage::productRadio(Obrin)));

  press(Qt::Key_Down);
  EXPECT_EQ(focus(), extra.control(ExtraPage::productRadio(Tqr2400)));
  EXPECT_TRUE(window.button(extra, ExtraPage::productRadio(Tqr2400))->isChecked());
  press(Qt::Key_Tab);
  EXPECT_EQ(focus(), extra.control(ExtraPage::PinToggling));
  press(Qt::Key_Down);
  EXPECT_TRUE(window.button(extra, ExtraPage::ReadJtagId)->isChecked());
  press(Qt::Key_Tab);
  ASSERT_EQ(focus(), extra.control(ExtraPage::ToggleCs));
  press(Qt::Key_Space);
  EXPECT_TRUE(window.button(extra, ExtraPage::ToggleCs)->isChecked());
  press(Qt::Key_Return);
  EXPECT_EQ(started.load(), 0);
  EXPECT_FALSE(extra.jobRunning());

  press(Qt::Key_Tab);
  ASSERT_EQ(focus(), extra.control(ExtraPage::StartButton));
  press(Qt::Key_Return);
  ASSERT_TRUE(waitUntil([&] { return started.load() == 1; }));
  EXPECT_EQ(ran.product, Tqr2400);
  EXPECT_EQ(ran.extraMode, ReadJtagId);
  EXPECT_EQ(ran.toggleCs, 1);
  extra.requestStop();
  ASSERT_TRUE(waitUntil([&] { return !extra.jobRunning(); }));
}

// Enter on another button does that button's work; from a box or the log it starts the job.
TEST(WindowKeysTest, EnterStartsTheJobOnlyFromItsButtonOrWhereNoOtherButtonHasTheFocus) {
  NullPort port;
  Window window(port);
  NandPage& nand = window.nand();
  std::atomic<int> started{0};
  nand.setJobFunction([&](JobPage& page, JtagLink&, const NandSettings&) {
    ++started;
    return waitForStop(page);
  });
  int chooserOpened = 0;
  nand.setFileChooser([&](QWidget*, const QString&) {
    ++chooserOpened;
    return QString();
  });
  nand.control(NandPage::OpenButton)->setFocus();
  press(Qt::Key_Return);
  EXPECT_EQ(chooserOpened, 1);
  EXPECT_EQ(started.load(), 0);

  nand.control(NandPage::BlockEdit)->setFocus();
  press(Qt::Key_Return);
  ASSERT_TRUE(waitUntil([&] { return started.load() == 1; }));
  nand.requestStop();
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));
}

}  // namespace
}  // namespace zorv::ui::test
