#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabBar>
#include <QPushButton>

#include "cable/recording_port.h"
#include "targets/target_product.h"
#include "ui/dialog_units.h"
#include "ui_test_support.h"

namespace zorv::ui::test {
namespace {

class PagesTest : public ::testing::Test {
 protected:
  QLineEdit* edit(JobPageWidget& page, int id) const { return qobject_cast<QLineEdit*>(page.control(id)); }
  QComboBox* combo(int id) const { return qobject_cast<QComboBox*>(window.nor().control(id)); }
  QString text(JobPageWidget& page, int id) const {
    QWidget* w = page.control(id);
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    return {};
  }
  bool checked(JobPageWidget& page, int id) const { return window.button(page, id)->isChecked(); }
  bool enabled(JobPageWidget& page, int id) const { return page.control(id)->isEnabled(); }
  // Ids of the controls that are disabled, in list order.
  std::vector<int> disabled(JobPageWidget& page, const std::vector<int>& ids) const {
    std::vector<int> out;
    for (int id : ids)
      if (!page.control(id)->isEnabled()) out.push_back(id);
    return out;
  }
  void chooseType(int index) const {
    QComboBox* types = combo(NorPage::FlashType);
    types->setCurrentIndex(index);
    emit types->activated(index);  // as the user's choice from the list
  }
  void showTab(int index) const { window.dialog->pageTabs().tabBar()->setCurrentIndex(index); }

  NullPort port;
  Window window{port};
};

// Every control of the NAND page, in tab order.
const std::vector<int> kNandIds = {1029, 1002, 1028, 1004, 1005, 1056, 1006, 1032, 1033, 1061,
                                   1057, 1010, 1009, 1011, 1038, 1037, 1012, 1026, 1036};
const std::vector<int> kNorIds = {1046, 1030, 1034, 1035, 1007, 1031, 1015, 1047, 1016, 1041, 1042, 1027, 1017,
                                  1019, 1020, 1045, 1013, 1021, 1023, 1022, 1043, 1044, 1048, 1039, 1059};
const std::vector<int> kExtraIds = {1049, 1014, 1007, 1008, 1050, 1001, 1024, 1025, 1054, 1052, 1051, 1053};

TEST_F(PagesTest, FreshNandPage) {
  NandPage& nand = window.nand();
  EXPECT_TRUE(checked(nand, NandPage::productRadio(Obrin)));
  EXPECT_EQ(text(nand, NandPage::BlockEdit), "0");
  EXPECT_FALSE(checked(nand, NandPage::Verify));
  EXPECT_EQ(text(nand, NandPage::PathBox), "");
  EXPECT_EQ(text(nand, NandPage::BaseEdit), "");
  EXPECT_FALSE(enabled(nand, NandPage::BaseEdit));
  EXPECT_EQ(text(nand, NandPage::ByteCounter), " / [Bytes]");
  EXPECT_EQ(text(nand, NandPage::Clock), "00 : 00");
  EXPECT_EQ(text(nand, NandPage::StartButton), "Download");
  EXPECT_EQ(text(nand, NandPage::OpenButton), "Open");
  EXPECT_EQ(nand.stopRequested(), 0);
  auto* log = qobject_cast<QPlainTextEdit*>(nand.control(NandPage::Log));
  EXPECT_TRUE(log->isReadOnly());  // a record to select and copy, not to type into
  EXPECT_EQ(log->lineWrapMode(), QPlainTextEdit::NoWrap);

  // Every control exists with its id, at its place in dialog units of the page font.
  const DialogUnits units(pageFont());
  // The log starts below the image group's row of write options.
  EXPECT_EQ(nand.control(NandPage::Log)->geometry(), units.rect(2, 112, 174, 155));
  EXPECT_EQ(nand.control(NandPage::StartButton)->geometry(), units.rect(133, 12, 39, 41));
  for (int id : kNandIds) EXPECT_EQ(nand.control(id)->objectName(), QString::number(id));
}

TEST_F(PagesTest, FreshNorPage) {
  NorPage& nor = window.nor();
  EXPECT_TRUE(checked(nor, NorPage::productRadio(Obrin)));
  EXPECT_EQ(combo(NorPage::FlashType)->currentText(), "EN29LV010A");
  EXPECT_EQ(combo(NorPage::Interleave)->currentText(), "1");
  EXPECT_EQ(combo(NorPage::Width)->currentText(), "8");
  EXPECT_EQ(text(nor, NorPage::BaseEdit), "0");
  EXPECT_EQ(text(nor, NorPage::BlockEdit), "0");
  EXPECT_EQ(text(nor, NorPage::PathBox), "");
  ASSERT_EQ(combo(NorPage::FlashType)->count(), 10);
  EXPECT_EQ(combo(NorPage::FlashType)->itemText(9), "AutoDetect");
  EXPECT_EQ(combo(NorPage::Interleave)->count(), 2);
  EXPECT_EQ(combo(NorPage::Width)->itemText(1), "16");
  EXPECT_EQ(qobject_cast<QPlainTextEdit*>(nor.control(NorPage::Log))->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  for (int id : kNorIds) EXPECT_EQ(nor.control(id)->objectName(), QString::number(id));
}

TEST_F(PagesTest, FreshExtraPage) {
  ExtraPage& extra = window.extra();
  EXPECT_TRUE(checked(extra, ExtraPage::productRadio(Obrin)));
  EXPECT_TRUE(checked(extra, ExtraPage::PinToggling));
  EXPECT_FALSE(checked(extra, ExtraPage::ToggleCs));
  EXPECT_EQ(text(extra, ExtraPage::StartButton), "RUN");
  EXPECT_EQ(text(extra, ExtraPage::ToggleCs), "Togglling CS");
  for (int id : kExtraIds) EXPECT_EQ(extra.control(id)->objectName(), QString::number(id));
}

TEST_F(PagesTest, TabGoesThroughThePageAsItReadsAndStopsOnceInEachRadioGroup) {
  // The NOR page's keyboard stops, from its first control: the product group once, then the
  // edits, combos and buttons top to bottom, left to right, the log last.
  NorPage& nor = window.nor();
  const auto stops = [&] {
    std::vector<QString> names;
    QWidget* first = nor.control(NorPage::productRadio(Obrin));
    QWidget* w = first;
    do {
      if (nor.isAncestorOf(w) && !w->objectName().isEmpty() && (w->focusPolicy() & Qt::TabFocus))
        names.push_back(w->objectName());
      w = w->nextInFocusChain();
    } while (w != first);
    return names;
  };
  EXPECT_EQ(stops(), (std::vector<QString>{"1030", "1039", "1027", "1017", "1019", "1020", "1016", "1013", "1021",
                                           "1064", "1065", "1031"}));
  // The group's stop follows its checked button, also when the page checks it.
  window.button(nor, NorPage::productRadio(Ika))->setChecked(true);
  EXPECT_TRUE(nor.control(NorPage::productRadio(Ika))->focusPolicy() & Qt::TabFocus);
  EXPECT_FALSE(nor.control(NorPage::productRadio(Obrin))->focusPolicy() & Qt::TabFocus);
}

TEST_F(PagesTest, RadioGroupsAreSeparate) {
  ExtraPage& extra = window.extra();
  window.click(extra, ExtraPage::ReadJtagId);
  window.click(extra, ExtraPage::productRadio(Veskar));
  EXPECT_TRUE(checked(extra, ExtraPage::productRadio(Veskar)));
  EXPECT_TRUE(checked(extra, ExtraPage::ReadJtagId));  // VESKAR keeps the function
  EXPECT_FALSE(checked(extra, ExtraPage::productRadio(Obrin)));
}

TEST_F(PagesTest, ExtraProductChangeResetsToPinTogglingButKeepsCs) {
  ExtraPage& extra = window.extra();
  window.click(extra, ExtraPage::ToggleCs);
  window.click(extra, ExtraPage::ReadJtagId);
  window.click(extra, ExtraPage::productRadio(Tqr2400));
  EXPECT_TRUE(checked(extra, ExtraPage::PinToggling));
  EXPECT_TRUE(checked(extra, ExtraPage::productRadio(Tqr2400)));
  EXPECT_TRUE(checked(extra, ExtraPage::ToggleCs));
  EXPECT_EQ(extra.settings().product, 1);
  EXPECT_EQ(extra.settings().extraMode, zorv::PinToggling);
  EXPECT_EQ(extra.settings().toggleCs, 1);
}

TEST_F(PagesTest, NorFlashTypeChoosesTheWidth) {
  chooseType(5);  // S29GL064M
  EXPECT_EQ(combo(NorPage::Width)->currentText(), "16");
  chooseType(2);  // AM29LV040B
  EXPECT_EQ(combo(NorPage::Width)->currentText(), "8");
  combo(NorPage::Width)->setCurrentIndex(1);
  chooseType(9);  // AutoDetect
  EXPECT_EQ(combo(NorPage::Width)->currentText(), "16");
  EXPECT_EQ(window.nor().flashType(), 9);
  combo(NorPage::Interleave)->setCurrentIndex(1);
  chooseType(0);
  EXPECT_EQ(combo(NorPage::Interleave)->currentText(), "2");  // never touched by the type
}

TEST_F(PagesTest, NorVeskarFixesTheBusAndOtherProductsRestoreIt) {
  NorPage& nor = window.nor();
  chooseType(4);  // S29AL008D
  combo(NorPage::Interleave)->setCurrentIndex(1);
  edit(nor, NorPage::BlockEdit)->setText("7");
  edit(nor, NorPage::BaseEdit)->setText("8000");

  window.click(nor, NorPage::productRadio(Veskar));
  EXPECT_EQ(combo(NorPage::FlashType)->currentText(), "AutoDetect");
  EXPECT_EQ(combo(NorPage::Width)->currentText(), "8");
  EXPECT_EQ(combo(NorPage::Interleave)->currentText(), "1");
  EXPECT_EQ(text(nor, NorPage::BaseEdit), "0x0");
  EXPECT_EQ(text(nor, NorPage::BlockEdit), "7");  // typed text survives the exchange
  const std::vector<int> fixed = {NorPage::FlashType, NorPage::Width, NorPage::WidthLabel, NorPage::Interleave,
                                  NorPage::InterleaveLabel, NorPage::BaseEdit};
  EXPECT_EQ(disabled(nor, kNorIds).size(), fixed.size());
  for (int id : fixed) EXPECT_FALSE(enabled(nor, id)) << id;
  EXPECT_EQ(nor.flashType(), 4);  // the page's own selection is not the user's

  window.click(nor, NorPage::productRadio(Veskar));  // twice: still one AutoDetect
  EXPECT_EQ(combo(NorPage::FlashType)->count(), 10);

  window.click(nor, NorPage::productRadio(Ika));
  EXPECT_EQ(combo(NorPage::FlashType)->count(), 9);
  EXPECT_EQ(combo(NorPage::FlashType)->currentText(), "S29AL008D");
  EXPECT_EQ(text(nor, NorPage::BaseEdit), "0x0");
  EXPECT_TRUE(disabled(nor, kNorIds).empty());

  window.click(nor, NorPage::productRadio(Obrin));  // twice: only one entry removed
  window.click(nor, NorPage::productRadio(Obrin));
  EXPECT_EQ(combo(NorPage::FlashType)->count(), 9);
  EXPECT_EQ(combo(NorPage::FlashType)->itemText(8), "SST39VF6401");
}

TEST_F(PagesTest, NorAutoDetectChoiceLeavesNoSelectionForOtherProducts) {
  chooseType(9);
  window.click(window.nor(), NorPage::productRadio(Tqr2400));
  EXPECT_EQ(combo(NorPage::FlashType)->count(), 9);
  EXPECT_EQ(combo(NorPage::FlashType)->currentIndex(), -1);
  EXPECT_EQ(window.nor().flashType(), 9);
}

TEST_F(PagesTest, OpenSetsThePathAndACancelledDialogChangesNothing) {
  NorPage& nor = window.nor();
  const QString deep = "/data/" + QString(80, 'x') + "/flash/boot.bin";
  QStringList answers = {deep, "/data/images/flash/boot.bin", ""};
  QString filterSeen;
  nor.setFileChooser([&](QWidget* owner, const QString& filter) {
    EXPECT_EQ(owner, window.dialog.get());
    filterSeen = filter;
    return answers.takeFirst();
  });
  edit(nor, NorPage::BlockEdit)->setText("3");  // typed before Open, kept after it
  window.click(nor, NorPage::OpenButton);
  // All Files shows names without a dot as well.
  EXPECT_EQ(filterSeen, "Download File(*.bin);;All Files(*)");
  EXPECT_EQ(nor.imagePath(), deep);
  // Shortened only when the whole path does not fit.
  EXPECT_EQ(text(nor, NorPage::PathBox), "/.../boot.bin");
  EXPECT_EQ(edit(nor, NorPage::PathBox)->toolTip(), deep);
  window.click(nor, NorPage::OpenButton);
  EXPECT_EQ(nor.imagePath(), "/data/images/flash/boot.bin");
  EXPECT_EQ(text(nor, NorPage::PathBox), "/data/images/flash/boot.bin");
  EXPECT_EQ(text(nor, NorPage::BlockEdit), "3");
  EXPECT_TRUE(edit(nor, NorPage::PathBox)->isReadOnly());
  EXPECT_EQ(edit(nor, NorPage::PathBox)->toolTip(), "/data/images/flash/boot.bin");

  edit(nor, NorPage::PathBox)->setText("/typed/by/hand.bin");
  window.click(nor, NorPage::OpenButton);  // cancelled
  EXPECT_EQ(nor.imagePath(), "/data/images/flash/boot.bin");
  EXPECT_EQ(text(nor, NorPage::PathBox), "/typed/by/hand.bin");
  nor.copyControlsToSettings();
  EXPECT_EQ(nor.settings().imagePath, "/data/images/flash/boot.bin");  // typed text is never opened
}

// Each option of the command line's download and read commands has its control on its tab.
TEST_F(PagesTest, TheCommandLinesOptionsReachTheJobsFromTheirTabs) {
  NandPage& nand = window.nand();
  std::vector<NandSettings> nandRuns;
  nand.setJobFunction([&](JobPage&, JtagLink&, const NandSettings& s) {
    nandRuns.push_back(s);
    return 0;
  });
  EXPECT_FALSE(checked(nand, NandPage::SkipBlank));
  EXPECT_FALSE(checked(nand, NandPage::Oob));
  window.click(nand, NandPage::SkipBlank);
  window.click(nand, NandPage::Oob);
  window.click(nand, NandPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));
  ASSERT_EQ(nandRuns.size(), 1u);
  EXPECT_TRUE(nandRuns[0].skipBlank);
  EXPECT_TRUE(nandRuns[0].oob);

  NorPage& nor = window.nor();
  showTab(1);
  std::vector<NorSettings> norRuns;
  nor.setJobFunction([&](JobPage&, JtagLink&, const NorSettings& s) {
    norRuns.push_back(s);
    return 0;
  });
  for (int id : {NorPage::SkipBlank, NorPage::SkipUnchanged}) {
    EXPECT_FALSE(checked(nor, id));
    window.click(nor, id);
    window.click(nor, NorPage::StartButton);
    ASSERT_TRUE(waitUntil([&] { return !nor.jobRunning(); }));
    window.click(nor, id);
  }
  ASSERT_EQ(norRuns.size(), 2u);
  EXPECT_TRUE(norRuns[0].skipBlank && !norRuns[0].skipUnchanged);
  EXPECT_TRUE(!norRuns[1].skipBlank && norRuns[1].skipUnchanged);

  ReadPage& read = window.read();
  showTab(3);
  std::vector<ReadSettings> readRuns;
  read.setJobFunction([&](JobPage&, JtagLink&, const ReadSettings& s) {
    readRuns.push_back(s);
    return 0;
  });
  read.setSaveChooser([](QWidget*, const QString&) { return QStringLiteral("/nonexistent/copy.bin"); });
  window.click(read, ReadPage::SaveButton);
  window.click(read, ReadPage::ToEnd);
  window.click(read, ReadPage::PadBad);
  window.click(read, ReadPage::ReadButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning(); }));
  ASSERT_EQ(readRuns.size(), 1u);
  EXPECT_TRUE(readRuns[0].padBad);
  window.click(read, ReadPage::Nor);  // a NAND option
  EXPECT_FALSE(enabled(read, ReadPage::PadBad));
}

// NAND and NOR copies each have their own file; a NOR read takes its bus from the NOR tab; and a
// read never replaces a file the Save dialog has not just asked about without asking first.
TEST_F(PagesTest, ReadTabKeepsAFilePerFlashTakesTheNorTabsBusAndAsksBeforeReplacing) {
  QTemporaryDir dir;
  const QString nandCopy = dir.filePath("nand.bin"), norCopy = dir.filePath("nor.bin");
  ReadPage& read = window.read();
  std::vector<ReadSettings> runs;
  read.setJobFunction([&](JobPage&, JtagLink&, const ReadSettings& s) {
    runs.push_back(s);
    QFile(QString::fromStdString(s.outputPath)).open(QIODevice::WriteOnly);
    return 0;
  });
  const auto readNow = [&] {
    window.click(read, ReadPage::ReadButton);
    return waitUntil([&] { return !read.jobRunning(); });
  };
  // The NOR tab's choice, before the Read tab is shown.
  showTab(1);
  chooseType(4);  // S29AL008D, 16 bits wide
  combo(NorPage::Interleave)->setCurrentIndex(1);
  edit(window.nor(), NorPage::BaseEdit)->setText("8000");

  showTab(3);
  window.click(read, ReadPage::ToEnd);
  read.setSaveChooser([&](QWidget*, const QString&) { return nandCopy; });
  window.click(read, ReadPage::SaveButton);
  ASSERT_TRUE(readNow());
  window.click(read, ReadPage::Nor);
  EXPECT_EQ(text(read, ReadPage::OutputBox), "");
  const auto readCombo = [&](int id) { return qobject_cast<QComboBox*>(read.control(id))->currentText(); };
  EXPECT_EQ(readCombo(ReadPage::FlashType), "S29AL008D");
  EXPECT_EQ(readCombo(ReadPage::Width), "16");
  EXPECT_EQ(readCombo(ReadPage::Interleave), "2");
  EXPECT_EQ(text(read, ReadPage::BaseEdit), "8000");
  read.setSaveChooser([&](QWidget*, const QString&) { return norCopy; });
  window.click(read, ReadPage::SaveButton);
  ASSERT_TRUE(readNow());
  window.click(read, ReadPage::Nand);
  EXPECT_EQ(text(read, ReadPage::OutputBox), nandCopy);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].outputPath, nandCopy.toStdString());
  EXPECT_EQ(runs[1].outputPath, norCopy.toStdString());
  EXPECT_EQ(runs[1].flashType, 4);
  EXPECT_EQ(runs[1].base, 0x8000u);
  EXPECT_TRUE(window.boxes.isEmpty());

  // The NAND copy exists now: No (the default) keeps it, Yes replaces it.
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  window.onBox = [&](QMessageBox& box) { defaultButton = box.standardButton(box.defaultButton()); };
  ASSERT_TRUE(readNow());
  EXPECT_EQ(window.boxes, QStringList{nandCopy + " already exists.\nDo you want to replace it?"});
  EXPECT_EQ(defaultButton, QMessageBox::No);
  EXPECT_EQ(runs.size(), 2u);
  window.onBox = [](QMessageBox& box) {
    QTimer::singleShot(0, &box, [b = &box] { b->button(QMessageBox::Yes)->click(); });
  };
  ASSERT_TRUE(readNow());
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[2].outputPath, nandCopy.toStdString());
}

TEST_F(PagesTest, LockAndUnlockActOnTheirLists) {
  NandPage& nand = window.nand();
  nand.lockPage();
  EXPECT_EQ(disabled(nand, kNandIds), (std::vector<int>{1002, 1028, 1005, 1056, 1006, 1032, 1033, 1061, 1057, 1011,
                                                         1038, 1037, 1012, 1026, 1036}));
  nand.setStartButton("STOP", true);
  nand.unlockPage();
  EXPECT_EQ(text(nand, NandPage::StartButton), "Download");
  EXPECT_EQ(disabled(nand, kNandIds), std::vector<int>{1012});

  ExtraPage& extra = window.extra();
  extra.lockPage();
  EXPECT_EQ(disabled(extra, kExtraIds),
            (std::vector<int>{1049, 1014, 1007, 1008, 1050, 1024, 1025, 1054, 1052, 1051, 1053}));
  extra.setStartButton("STOP", false);
  extra.unlockPage();
  EXPECT_EQ(text(extra, ExtraPage::StartButton), "RUN");
  EXPECT_TRUE(disabled(extra, kExtraIds).empty());

  NorPage& nor = window.nor();
  nor.lockPage();
  EXPECT_EQ(disabled(nor, kNorIds), (std::vector<int>{1046, 1030, 1034, 1035, 1007, 1047, 1016, 1041, 1042, 1027,
                                                       1017, 1019, 1020, 1045, 1013, 1021, 1043, 1044, 1048, 1039}));
  nor.unlockPage();
  EXPECT_TRUE(disabled(nor, kNorIds).empty());
}

TEST_F(PagesTest, ProgressOperationsFormatTheirLabels) {
  NandPage& nand = window.nand();
  nand.showByteCount(1024, 4096);
  nand.showElapsed(3725);
  nand.setProgressPosition(42);
  EXPECT_EQ(text(nand, NandPage::ByteCounter), "1024 / 4096 [Bytes]");
  EXPECT_EQ(text(nand, NandPage::Clock), "62 : 05");
  EXPECT_EQ(qobject_cast<QProgressBar*>(nand.control(NandPage::ProgressBar))->value(), 42);
  nand.resetProgressBar();
  EXPECT_EQ(qobject_cast<QProgressBar*>(nand.control(NandPage::ProgressBar))->value(), 0);
}

TEST_F(PagesTest, LogAppendsGoToTheEndWhateverTheUserSelected) {
  NandPage& nand = window.nand();
  auto* log = qobject_cast<QPlainTextEdit*>(nand.control(NandPage::Log));
  nand.appendLog("[Download to NAND]\r\n  Erasing ");
  log->selectAll();
  nand.appendLog(".");
  nand.appendLog(". OK.\r\n");
  EXPECT_EQ(nand.logText(), "[Download to NAND]\r\n  Erasing .. OK.\r\n");
}

// A job that takes its page through set-up into its stoppable phase and waits there for STOP.
int waitForStop(JobPage& page) {
  page.lockPage();
  page.appendLog("[Fake]\r\n");
  page.setStartButton("STOP", true);
  while (page.stopRequested.load() == 0) std::this_thread::yield();
  page.stopRequested.store(0);
  page.appendLog("  STOP.\r\n\r\n");
  page.unlockPage();
  return 0;
}

TEST_F(PagesTest, EnterStartsOrStopsFromAnyControlAndEscapeDoesNothing) {
  NandPage& nand = window.nand();
  std::atomic<int> started{0};
  nand.setJobFunction([&](JobPage& page, JtagLink&, const NandSettings& s) {
    EXPECT_EQ(s.block, 16u);
    ++started;
    return waitForStop(page);
  });
  edit(nand, NandPage::BlockEdit)->setText("16");
  for (int id : {NandPage::BlockEdit, NandPage::PathBox, NandPage::Log}) {
    QWidget* target = nand.control(id);
    target->setFocus();
    const int before = started.load();
    QTest::keyClick(target, Qt::Key_Escape);
    EXPECT_EQ(started.load(), before);
    EXPECT_TRUE(window.dialog->isVisible());

    QTest::keyClick(target, Qt::Key_Return);
    ASSERT_TRUE(waitUntil([&] { return text(nand, NandPage::StartButton) == "STOP"; })) << id;
    EXPECT_EQ(started.load(), before + 1);
    // The controls are locked now; the log box is not, and the keypad's Enter there asks for the stop.
    QTest::keyClick(nand.control(NandPage::Log), Qt::Key_Enter);
    ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); })) << id;
    EXPECT_EQ(text(nand, NandPage::StartButton), "Download");
  }
  EXPECT_EQ(started.load(), 3);
  EXPECT_EQ(nand.stopRequested(), 0);
  EXPECT_TRUE(window.boxes.isEmpty());
  // Enter in the log box never reached it as a line break.
  EXPECT_EQ(nand.logText(), "[Fake]\r\n  STOP.\r\n\r\n[Fake]\r\n  STOP.\r\n\r\n[Fake]\r\n  STOP.\r\n\r\n");
}

TEST_F(PagesTest, EnterWhereverTheFocusWentStopsAJobStartedFromTheBlockBox) {
  NandPage& nand = window.nand();
  std::atomic<int> started{0};
  nand.setJobFunction([&](JobPage& page, JtagLink&, const NandSettings&) {
    ++started;
    return waitForStop(page);
  });
  // To whichever control has the focus at that moment, as a real key press goes.
  const auto pressEnter = [] { QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Return); };
  nand.control(NandPage::BlockEdit)->setFocus();
  pressEnter();
  ASSERT_TRUE(waitUntil([&] { return text(nand, NandPage::StartButton) == "STOP"; }));
  pressEnter();
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));
  EXPECT_EQ(started.load(), 1);
  EXPECT_EQ(nand.logText(), "[Fake]\r\n  STOP.\r\n\r\n");
}

TEST_F(PagesTest, EnterOnAFocusedButtonStartsOnlyOnce) {
  ExtraPage& extra = window.extra();
  showTab(2);
  std::atomic<int> started{0};
  extra.setJobFunction([&](JobPage& page, JtagLink&, const ExtraSettings&) {
    ++started;
    return waitForStop(page);
  });
  QWidget* run = extra.control(ExtraPage::StartButton);
  run->setFocus();
  QTest::keyClick(run, Qt::Key_Return);
  ASSERT_TRUE(waitUntil([&] { return text(extra, ExtraPage::StartButton) == "STOP"; }));
  window.click(extra, ExtraPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !extra.jobRunning(); }));
  EXPECT_EQ(started.load(), 1);
}

TEST_F(PagesTest, ReadPageSetsTheNorBusAsTheNorPageAndHandsItsSettingsToTheJob) {
  ReadPage& read = window.read();
  showTab(3);
  const std::vector<int> bus = {1078, 1079, 1081, 1082, 1088, 1089, 1090, 1091};
  EXPECT_TRUE(checked(read, ReadPage::Nand));
  EXPECT_TRUE(checked(read, ReadPage::productRadio(Obrin)));
  EXPECT_EQ(disabled(read, bus), bus);  // a NAND read needs no bus settings
  window.click(read, ReadPage::Nor);
  EXPECT_TRUE(disabled(read, bus).empty());
  auto* types = qobject_cast<QComboBox*>(read.control(ReadPage::FlashType));
  auto* width = qobject_cast<QComboBox*>(read.control(ReadPage::Width));
  types->setCurrentIndex(4);
  emit types->activated(4);
  EXPECT_EQ(types->currentText(), "S29AL008D");
  EXPECT_EQ(width->currentText(), "16");
  window.click(read, ReadPage::productRadio(Veskar));
  EXPECT_EQ(types->currentText(), "AutoDetect");
  EXPECT_EQ(width->currentText(), "8");
  EXPECT_EQ(text(read, ReadPage::BaseEdit), "0x0");
  EXPECT_EQ(disabled(read, bus), (std::vector<int>{1079, 1082, 1088, 1089, 1090, 1091}));
  window.click(read, ReadPage::productRadio(Ika));
  EXPECT_EQ(types->currentText(), "S29AL008D");
  EXPECT_EQ(types->count(), 9);
  EXPECT_TRUE(disabled(read, bus).empty());
  EXPECT_EQ(width->currentText(), "8");  // as on the NOR page, until a type is chosen again
  emit types->activated(4);

  std::vector<ReadSettings> runs;
  read.setJobFunction([&](JobPage& page, JtagLink&, const ReadSettings& settings) {
    page.lockPage();
    runs.push_back(settings);
    page.unlockPage();
    return 0;
  });
  read.setSaveChooser([](QWidget*, const QString&) { return QStringLiteral("/backups/ika/nor.bin"); });
  window.click(read, ReadPage::SaveButton);
  qobject_cast<QComboBox*>(read.control(ReadPage::Interleave))->setCurrentIndex(1);
  edit(read, ReadPage::BaseEdit)->setText("8000");
  edit(read, ReadPage::BlockEdit)->setText("0x10");
  edit(read, ReadPage::SizeEdit)->setText("64K");
  // Raw reads a NOR bus whose part is not identified, as the command line's --raw.
  ASSERT_TRUE(enabled(read, ReadPage::Raw));
  window.click(read, ReadPage::Raw);
  window.click(read, ReadPage::ReadButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning() && runs.size() == 1; }));
  EXPECT_TRUE(runs[0].raw);
  EXPECT_EQ(runs[0].flash, ReadFlash::Nor);
  EXPECT_EQ(runs[0].mode, ReadMode::Read);
  EXPECT_EQ(runs[0].product, 2);
  EXPECT_EQ(runs[0].flashType, 4);
  EXPECT_EQ(runs[0].width, 16);
  EXPECT_EQ(runs[0].interleave, 2);
  EXPECT_EQ(runs[0].base, 0x8000u);
  EXPECT_EQ(runs[0].block, 16u);
  EXPECT_EQ(runs[0].size, 65536u);
  EXPECT_FALSE(runs[0].toEnd);
  EXPECT_EQ(runs[0].outputPath, "/backups/ika/nor.bin");
  EXPECT_EQ(text(read, ReadPage::OutputBox), "/backups/ika/nor.bin");  // it fits
  EXPECT_TRUE(edit(read, ReadPage::OutputBox)->isReadOnly());
  EXPECT_TRUE(edit(read, ReadPage::PathBox)->isReadOnly());
  EXPECT_EQ(edit(read, ReadPage::OutputBox)->toolTip(), "/backups/ika/nor.bin");

  // A size that cannot be read starts nothing; "To the end" needs none.
  QStringList boxes;
  window.dialog->boxes().onShown = [&](QMessageBox& box) {
    boxes << box.text();
    QTimer::singleShot(0, &box, [b = &box] { b->done(QMessageBox::Ok); });
  };
  edit(read, ReadPage::SizeEdit)->setText("12Q");
  window.click(read, ReadPage::ReadButton);
  EXPECT_EQ(boxes, QStringList{"Size \"12Q\" is not a number of bytes (decimal or 0x hexadecimal, K or M after it)"});
  EXPECT_FALSE(read.jobRunning());
  window.click(read, ReadPage::ToEnd);
  EXPECT_FALSE(enabled(read, ReadPage::SizeEdit));

  // Verify compares with the chosen image; afterwards Read (and Enter) read again.
  read.setFileChooser([](QWidget*, const QString&) { return QStringLiteral("/images/nor.bin"); });
  window.click(read, ReadPage::OpenButton);
  window.click(read, ReadPage::VerifyButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning() && runs.size() == 2; }));
  EXPECT_EQ(runs[1].mode, ReadMode::Verify);
  EXPECT_EQ(runs[1].imagePath, "/images/nor.bin");
  QTest::keyClick(read.control(ReadPage::BlockEdit), Qt::Key_Return);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning() && runs.size() == 3; }));
  EXPECT_EQ(runs[2].mode, ReadMode::Read);
  EXPECT_TRUE(runs[2].toEnd);
  EXPECT_EQ(boxes.size(), 1);

  // OOB is the NAND's: a NAND read takes it (to a file of its own).
  window.click(read, ReadPage::Nand);
  read.setSaveChooser([](QWidget*, const QString&) { return QStringLiteral("/backups/ika/nand.bin"); });
  window.click(read, ReadPage::SaveButton);
  window.click(read, ReadPage::Oob);
  window.click(read, ReadPage::ReadButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning() && runs.size() == 4; }));
  EXPECT_EQ(runs[3].flash, ReadFlash::Nand);
  EXPECT_TRUE(runs[3].oob);
}

TEST_F(PagesTest, ByteCountersHoldTheLargestCountWhole) {
  const struct {
    JobPageWidget* page;
    int counter;
  } counters[] = {{&window.nand(), NandPage::ByteCounter},
                  {&window.nor(), NorPage::ByteCounter},
                  {&window.read(), ReadPage::ByteCounter}};
  for (const auto& c : counters) {
    c.page->showByteCount(int64_t{1} << 32, int64_t{1} << 32);  // a whole 4 GiB read
    auto* label = qobject_cast<QLabel*>(c.page->control(c.counter));
    ASSERT_NE(label, nullptr);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width())
        << label->text().toStdString();
  }
}

TEST_F(PagesTest, ReadTabRefusesABlockPast32BitsRatherThanWrapToBlockZero) {
  ReadPage& read = window.read();
  int runs = 0;
  read.setJobFunction([&](JobPage&, JtagLink&, const ReadSettings&) { return ++runs; });
  read.setSaveChooser([](QWidget*, const QString&) { return QStringLiteral("/backups/nand.bin"); });
  window.click(read, ReadPage::SaveButton);
  edit(read, ReadPage::SizeEdit)->setText("64K");
  edit(read, ReadPage::BlockEdit)->setText("4294967296");
  window.click(read, ReadPage::ReadButton);
  EXPECT_EQ(window.boxes, QStringList{"Block No. \"4294967296\" is not a number (decimal, or hexadecimal after 0x)"});
  EXPECT_FALSE(read.jobRunning());
  EXPECT_EQ(runs, 0);
}

}  // namespace
}  // namespace zorv::ui::test
