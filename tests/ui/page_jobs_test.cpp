// Whole jobs driven from the pages against the virtual board, as a user would run them.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QTabBar>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <thread>

#include "cable/direct_io_port.h"
#include "cable_choice/cable_port.h"
#include "chain/chain_description.h"
#include "link/remote_bitbang_link.h"
#include "sim/board.h"
#include "sim/remote_bitbang_server.h"
#include "targets/target_product.h"
#include "ui/connection_bar.h"
#include "ui_test_support.h"

namespace zorv::ui::test {
namespace {

// The boards the jobs run on (every virtual board carries a NAND part; the NOR part is chosen to
// match the page's first flash type).
constexpr const char* kNandBoard = "sim:chip=OBRIN";
constexpr const char* kNorBoard = "sim:chip=OBRIN,nor=EN29LV010A";
constexpr const char* kToggleBoard = "sim:chip=TQR2400";

// What the page showed at one moment of the job.
struct Snapshot {
  QString log;
  QString caption;
  bool buttonEnabled = false;
  std::vector<int> disabledInputs;
  QString bytes;
  QString clock;
  int bar = -1;
};

class PageJobsTest : public ::testing::Test {
 protected:
  // False when this build's virtual board does not know the board's devices yet.
  bool open(const char* board) {
    try {
      port = openCableLink(board);
    } catch (const std::invalid_argument&) {
      return false;
    }
    window = std::make_unique<Window>(*port);
    return true;
  }

  Snapshot snapshot(JobPageWidget& page, int start, const std::vector<int>& inputs, int bytes = 0, int clock = 0,
                    int bar = 0) const {
    Snapshot s;
    s.log = page.logText();
    auto* button = static_cast<QPushButton*>(page.control(start));
    s.caption = button->text();
    s.buttonEnabled = button->isEnabled();
    for (int id : inputs)
      if (!page.control(id)->isEnabled()) s.disabledInputs.push_back(id);
    if (bytes) s.bytes = static_cast<QLabel*>(page.control(bytes))->text();
    if (clock) s.clock = static_cast<QLabel*>(page.control(clock))->text();
    if (bar) s.bar = static_cast<QProgressBar*>(page.control(bar))->value();
    return s;
  }

  // Records the page each time the job appends to the log.
  void recordAtEveryAppend(JobPageWidget& page, int logId, std::function<Snapshot()> take) {
    auto* log = static_cast<QPlainTextEdit*>(page.control(logId));
    QObject::connect(log, &QPlainTextEdit::textChanged, log, [this, take] { history.push_back(take()); });
  }

  // The state when the log first contained text.
  const Snapshot* at(const QString& text) const {
    for (const auto& s : history)
      if (s.log.contains(text)) return &s;
    return nullptr;
  }

  QString writeImage(qsizetype size) {
    const QString path = dir.filePath("image.bin");
    std::ofstream out(path.toStdString(), std::ios::binary);
    std::mt19937 random(7);
    for (qsizetype i = 0; i < size; ++i) out.put(static_cast<char>(random() & 0xFF));
    return path;
  }

  void chooseImage(JobPageWidget& page, int openButton, const QString& path) {
    page.setFileChooser([path](QWidget*, const QString&) { return path; });
    window->click(page, openButton);
  }

  // The page's job is still the placeholder that only frames a run (it logs no header).
  static bool jobNotBuilt(JobPageWidget& page, const char* header) { return !page.logText().contains(header); }

  QTemporaryDir dir;
  std::unique_ptr<JtagLink> port;
  std::unique_ptr<Window> window;
  std::vector<Snapshot> history;
};

const std::vector<int> kNandInputs = {1006, 1032, 1033, 1061, 1012, 1026, 1028, 1002, 1036,
                                      1005, 1056, 1057, 1037, 1038};

TEST_F(PageJobsTest, FullNandDownloadWithVerify) {
  ASSERT_TRUE(open(kNandBoard));
  NandPage& nand = window->nand();
  const QString image = writeImage(5000);
  chooseImage(nand, NandPage::OpenButton, image);
  window->click(nand, NandPage::Verify);
  auto take = [&] { return snapshot(nand, NandPage::StartButton, kNandInputs, NandPage::ByteCounter, NandPage::Clock, NandPage::ProgressBar); };
  recordAtEveryAppend(nand, NandPage::Log, take);
  std::optional<Snapshot> atBox;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  window->onBox = [&](QMessageBox& box) {
    atBox = take();
    icon = box.icon();
  };

  window->click(nand, NandPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));
  if (jobNotBuilt(nand, "[Download to NAND]")) GTEST_SKIP() << "the NAND job is not built yet";

  const QString log = nand.logText();
  EXPECT_EQ(window->boxes, QStringList{"Download Complete."}) << log.toStdString();
  EXPECT_EQ(icon, QMessageBox::Information);  // a success is no warning
  EXPECT_TRUE(log.startsWith("[Download to NAND]\r\n  Image: " + image + "\r\n")) << log.toStdString();
  EXPECT_TRUE(log.contains("  BASE: 0x0, SIZE: 0x1388\r\n")) << log.toStdString();
  EXPECT_TRUE(log.contains("  Erasing ")) << log.toStdString();
  EXPECT_TRUE(log.contains("  Programming to 0x0 ... Done.\r\n")) << log.toStdString();
  EXPECT_TRUE(log.endsWith("  Verifying... OK.\r\n\r\n")) << log.toStdString();

  // Set-up: locked, button disabled under its idle caption.
  const Snapshot* header = at("[Download to NAND]");
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->caption, "Download");
  EXPECT_FALSE(header->buttonEnabled);
  EXPECT_EQ(header->disabledInputs, kNandInputs);
  const Snapshot* sized = at("  BASE: ");
  ASSERT_NE(sized, nullptr);
  EXPECT_EQ(sized->bytes, "0 / 5000 [Bytes]");
  EXPECT_EQ(sized->clock, "00 : 00");
  EXPECT_EQ(sized->bar, 0);
  // Stoppable from the program pass on.
  const Snapshot* programming = at("  Programming to 0x0 ... ");
  ASSERT_NE(programming, nullptr);
  EXPECT_EQ(programming->caption, "STOP");
  EXPECT_TRUE(programming->buttonEnabled);
  // At the completion box the job is still in its stoppable phase with everything done.
  ASSERT_TRUE(atBox.has_value());
  EXPECT_EQ(atBox->caption, "STOP");
  EXPECT_TRUE(atBox->buttonEnabled);
  EXPECT_EQ(atBox->bytes, "5000 / 5000 [Bytes]");
  EXPECT_EQ(atBox->bar, 100);
  EXPECT_TRUE(QRegularExpression("^\\d\\d : \\d\\d$").match(atBox->clock).hasMatch());
  // Idle again: only the base box stays disabled; counter and clock keep their last values.
  const Snapshot end = take();
  EXPECT_EQ(end.caption, "Download");
  EXPECT_TRUE(end.buttonEnabled);
  EXPECT_EQ(end.disabledInputs, std::vector<int>{1012});
  EXPECT_EQ(end.bytes, "5000 / 5000 [Bytes]");
  EXPECT_EQ(nand.stopRequested(), 0);
}

const std::vector<int> kNorInputs = {1030, 1034, 1035, 1007, 1039, 1041, 1027, 1042, 1017, 1043,
                                     1019, 1044, 1020, 1045, 1013, 1021, 1046, 1047, 1048};

TEST_F(PageJobsTest, RefusedLptRightsShowTheWayThatWorksInTheBox) {
  port = std::make_unique<ParallelPortLink>(
      std::make_unique<DirectIoPort>([](unsigned long, unsigned long, int) { return -1; }));
  window = std::make_unique<Window>(*port);
  QStringList details;
  window->onBox = [&](QMessageBox& box) { details << box.informativeText(); };
  window->click(window->nand(), NandPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !window->nand().jobRunning(); }));
  ASSERT_FALSE(window->boxes.isEmpty());
  EXPECT_EQ(window->boxes[0], "Couldn't access giveio device");
  // The way in the window itself, not a command-line option.
  EXPECT_TRUE(details[0].contains("Change...")) << details[0].toStdString();
  EXPECT_FALSE(details[0].contains("--cable")) << details[0].toStdString();
}

TEST_F(PageJobsTest, NorDownload) {
  if (!open(kNorBoard)) GTEST_SKIP() << "the virtual board has no NOR device yet";
  NorPage& nor = window->nor();
  window->dialog->pageTabs().tabBar()->setCurrentIndex(1);
  chooseImage(nor, NorPage::OpenButton, writeImage(3000));
  auto take = [&] { return snapshot(nor, NorPage::StartButton, kNorInputs, NorPage::ByteCounter, NorPage::Clock, NorPage::ProgressBar); };
  recordAtEveryAppend(nor, NorPage::Log, take);
  std::optional<Snapshot> atBox;
  window->onBox = [&](QMessageBox&) { atBox = take(); };

  window->click(nor, NorPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !nor.jobRunning(); }));
  if (jobNotBuilt(nor, "[Download to NOR]")) GTEST_SKIP() << "the NOR job is not built yet";

  const QString log = nor.logText();
  EXPECT_EQ(window->boxes, QStringList{"Download Complete."}) << log.toStdString();
  EXPECT_TRUE(log.startsWith("[Download to NOR]\r\n  Image: " + dir.filePath("image.bin") +
                             "\r\n  Type: EN29LV010A, Interleave: 1, Width: 8\r\n"))
      << log.toStdString();
  EXPECT_TRUE(log.contains(" OK.\r\n  Programming and Verifying to 0x0 ... OK.\r\n  Download Time: ")) << log.toStdString();
  EXPECT_TRUE(log.endsWith(" [sec]\r\n\r\n")) << log.toStdString();

  const Snapshot* header = at("[Download to NOR]");
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->caption, "Download");
  EXPECT_FALSE(header->buttonEnabled);
  EXPECT_EQ(header->disabledInputs, kNorInputs);
  const Snapshot* programming = at("  Programming and Verifying");
  ASSERT_NE(programming, nullptr);
  EXPECT_EQ(programming->caption, "STOP");
  EXPECT_TRUE(programming->buttonEnabled);
  EXPECT_EQ(programming->bytes, "0 / 3000 [Bytes]");
  // The write loop is over: the button stays "STOP" but can no longer be pressed.
  ASSERT_TRUE(atBox.has_value());
  EXPECT_EQ(atBox->caption, "STOP");
  EXPECT_FALSE(atBox->buttonEnabled);
  EXPECT_EQ(atBox->bytes, "3000 / 3000 [Bytes]");
  EXPECT_EQ(atBox->bar, 100);
  const Snapshot end = take();
  EXPECT_EQ(end.caption, "Download");
  EXPECT_TRUE(end.buttonEnabled);
  EXPECT_TRUE(end.disabledInputs.empty());
}

const std::vector<int> kExtraInputs = {1049, 1014, 1007, 1008, 1050, 1053, 1025, 1054, 1052, 1051};

TEST_F(PageJobsTest, PinTogglingUntilStop) {
  ASSERT_TRUE(open(kToggleBoard));
  ExtraPage& extra = window->extra();
  window->dialog->pageTabs().tabBar()->setCurrentIndex(2);
  window->click(extra, ExtraPage::productRadio(Tqr2400));
  auto take = [&] { return snapshot(extra, ExtraPage::StartButton, kExtraInputs); };
  recordAtEveryAppend(extra, ExtraPage::Log, take);

  window->click(extra, ExtraPage::StartButton);
  const bool toggling = waitUntil([&] {
    return static_cast<QPushButton*>(extra.control(ExtraPage::StartButton))->text() == "STOP" || !extra.jobRunning();
  });
  ASSERT_TRUE(toggling);
  if (!extra.jobRunning() && jobNotBuilt(extra, "[Toggling All Boundary]"))
    GTEST_SKIP() << "the Extra Function job is not built yet";

  const Snapshot during = take();
  EXPECT_TRUE(during.buttonEnabled);
  EXPECT_EQ(during.disabledInputs, kExtraInputs);  // only the button (and the log) can be used
  EXPECT_TRUE(extra.control(ExtraPage::Log)->isEnabled());

  window->click(extra, ExtraPage::StartButton);
  EXPECT_EQ(extra.stopRequested(), 1);
  EXPECT_EQ(static_cast<QPushButton*>(extra.control(ExtraPage::StartButton))->text(), "STOP");
  ASSERT_TRUE(waitUntil([&] { return !extra.jobRunning(); }));

  const QString log = extra.logText();
  EXPECT_TRUE(log.startsWith("[Toggling All Boundary]\r\n")) << log.toStdString();
  EXPECT_TRUE(log.endsWith("  Start toggling ... STOP.\r\n\r\n")) << log.toStdString();
  EXPECT_TRUE(window->boxes.isEmpty());
  const Snapshot* stopped = at("STOP.\r\n");
  ASSERT_NE(stopped, nullptr);
  EXPECT_EQ(stopped->caption, "STOP");
  const Snapshot end = take();
  EXPECT_EQ(end.caption, "RUN");
  EXPECT_TRUE(end.buttonEnabled);
  EXPECT_TRUE(end.disabledInputs.empty());
  EXPECT_EQ(extra.stopRequested(), 0);
}

// A job over a network cable hands the server back when it ends: another program (the command
// line, OpenOCD) can take the board at once instead of waiting out a time-out.
TEST_F(PageJobsTest, AJobGivesTheRemoteServerBackWhenItEnds) {
  const auto board = sim::makeBoard("chip=OBRIN");
  sim::RemoteBitbangServer server(*board);
  server.listen(0);
  std::thread serving([&] { server.serve(); });
  port = openCableLink("remote:127.0.0.1:" + std::to_string(server.port()));
  window = std::make_unique<Window>(*port);
  ExtraPage& extra = window->extra();
  window->click(extra, ExtraPage::ReadJtagId);
  window->click(extra, ExtraPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return extra.jobRunning(); }));
  ASSERT_TRUE(waitUntil([&] { return !extra.jobRunning(); }));
  EXPECT_TRUE(extra.logText().contains("JTAG ID")) << extra.logText().toStdString();

  // The next client is served now: one round trip answers, with the window still open.
  RemoteBitbangLink next("127.0.0.1", server.port());
  ASSERT_TRUE(next.grantAccess());
  uint8_t tdo = 0;
  next.shiftBits("0", 1, false, {&tdo, 0, 1});
  next.flush();
  EXPECT_TRUE(next.linkFailure().empty()) << next.linkFailure();
  server.stop();
  serving.join();
}

// The chain the window keeps goes into every job, and shows with the cable.
TEST_F(PageJobsTest, JobsTakeTheChainTheWindowKeeps) {
  ASSERT_TRUE(open("sim:chip=OBRIN,chain=8:target"));
  window->dialog->setConnection({"sim:chip=OBRIN,chain=8:target", ""},
                                [](const std::string& text, uint32_t) { return openCableLink(text); });
  window->dialog->setChain(parseChainText("8,target"));
  EXPECT_EQ(window->dialog->cableAction()->text(), "Cable: sim:chip=OBRIN,chain=8:target, chain 8,target...");
  EXPECT_EQ(window->dialog->connectionBar().shownText(), "sim:chip=OBRIN,chain=8:target, chain 8,target");
  ExtraPage& extra = window->extra();
  window->dialog->pageTabs().tabBar()->setCurrentIndex(2);
  window->click(extra, ExtraPage::ReadJtagId);
  window->click(extra, ExtraPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !extra.jobRunning(); }));
  EXPECT_EQ(extra.logText(), "[READ JTAG ID]\r\n  JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)\r\n\r\n");
  EXPECT_TRUE(window->boxes.isEmpty());
}

// A board file chosen in the window: every job plays its chip on its chain, as --board does; the
// board shows beside the cable.
TEST_F(PageJobsTest, JobsTakeTheBoardChosenInTheWindow) {
  const std::string boardFile = std::string(ZORV_TEST_BOARDS) + "/kestrel9.toml";
  ASSERT_TRUE(open(("sim:board=" + boardFile + ",nand=0xF1").c_str()));
  ASSERT_TRUE(window->dialog->useBoardFile(QString::fromStdString(boardFile)));
  EXPECT_EQ(window->dialog->connectionBar().shownBoard(), "Board: kestrel9.toml");
  EXPECT_TRUE(window->dialog->connectionBar().shownText().endsWith(", chain 8:0x0A51C093,target"));
  NandPage& nand = window->nand();
  chooseImage(nand, NandPage::OpenButton, writeImage(2048 * 2 + 100));
  window->click(nand, NandPage::Verify);
  window->click(nand, NandPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));
  EXPECT_EQ(window->boxes, QStringList{"Download Complete."}) << nand.logText().toStdString();
  EXPECT_TRUE(nand.logText().endsWith("  Verifying... OK.\r\n\r\n")) << nand.logText().toStdString();
}

// A board file that cannot be read is refused with a box naming its line, the board chosen before
// staying; a product other than the board's, or a board without the page's flash, is refused before
// any job starts; "No board" forgets it.
TEST_F(PageJobsTest, BoardChoicesTheWindowRefuses) {
  ASSERT_TRUE(open(kNandBoard));
  MainDialog& dialog = *window->dialog;
  QStringList remembered;
  QObject::connect(&dialog, &MainDialog::boardChosen, [&](const QString& path) { remembered << path; });
  const QString obrin = QStringLiteral(ZORV_SHIPPED_BOARDS "/obrin.toml");
  QString picked = obrin;
  dialog.setBoardAsker([&](QWidget*, const QString&) { return picked; });
  dialog.chooseBoardFile();
  ASSERT_EQ(remembered, QStringList{obrin});

  picked = dir.filePath("broken.toml");
  std::ofstream(picked.toStdString()) << "chain = \"target\"\n[target\n";
  dialog.chooseBoardFile();
  ASSERT_EQ(window->boxes.size(), 1);
  EXPECT_TRUE(window->boxes[0].startsWith(picked + ":2: ")) << window->boxes[0].toStdString();
  EXPECT_EQ(dialog.board()->path, obrin.toStdString());
  EXPECT_EQ(dialog.connectionBar().shownBoard(), "Board: obrin.toml");
  EXPECT_EQ(remembered.size(), 1);

  NandPage& nand = window->nand();
  window->click(nand, NandPage::ProductRadio2);
  window->click(nand, NandPage::StartButton);
  EXPECT_FALSE(nand.jobRunning());
  EXPECT_EQ(window->boxes.last(), "The board file " + obrin + " is built around OBRIN, not IKA");
  EXPECT_TRUE(nand.logText().isEmpty());

  // A board without NAND flash: the NAND job would have nothing to drive.
  std::ifstream shipped(obrin.toStdString());
  std::string text((std::istreambuf_iterator<char>(shipped)), std::istreambuf_iterator<char>());
  text.erase(text.find("[nand]"), text.find("[nor]") - text.find("[nand]"));
  picked = dir.filePath("nor-only.toml");
  std::ofstream(picked.toStdString()) << text;
  dialog.chooseBoardFile();
  window->click(nand, NandPage::ProductRadio0);
  window->click(nand, NandPage::StartButton);
  EXPECT_FALSE(nand.jobRunning());
  EXPECT_EQ(window->boxes.last(), "The board file " + picked + " has no NAND flash");
  EXPECT_TRUE(nand.logText().isEmpty());
  // Its NOR flash is there for the NOR tab, which gets as far as asking for an image.
  NorPage& nor = window->nor();
  window->click(nor, NorPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !nor.jobRunning(); }));
  EXPECT_FALSE(window->boxes.last().contains("has no NOR flash")) << window->boxes.last().toStdString();

  dialog.connectionBar().noBoardAction()->trigger();
  EXPECT_EQ(dialog.board(), nullptr);
  EXPECT_EQ(dialog.connectionBar().shownBoard(), "Board: none");
  EXPECT_EQ(remembered.last(), QString());
}

// Every input of the Read page a NAND job locks; the NOR bus controls stay disabled throughout.
const std::vector<int> kReadInputs = {1070, 1071, 1072, 1073, 1074, 1075, 1076, 1077, 1080, 1083, 1084,
                                      1085, 1086, 1087, 1092, 1093, 1094, 1095, 1096, 1097, 1098, 1099, 1109};

std::vector<int> without(std::vector<int> ids, int id) {
  ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
  return ids;
}

TEST_F(PageJobsTest, ReadTabCopiesNandIntoAFileAndVerifiesIt) {
  ASSERT_TRUE(open(kNandBoard));
  NandPage& nand = window->nand();
  const QString image = writeImage(5000);
  chooseImage(nand, NandPage::OpenButton, image);
  window->click(nand, NandPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));
  ASSERT_EQ(window->boxes, QStringList{"Download Complete."}) << nand.logText().toStdString();
  window->boxes.clear();

  ReadPage& read = window->read();
  window->dialog->pageTabs().tabBar()->setCurrentIndex(3);
  const QString copy = dir.filePath("copy.bin");
  read.setSaveChooser([copy](QWidget*, const QString&) { return copy; });
  window->click(read, ReadPage::SaveButton);
  static_cast<QLineEdit*>(read.control(ReadPage::SizeEdit))->setText("5000");
  int startButton = ReadPage::ReadButton;
  auto take = [&] {
    return snapshot(read, startButton, kReadInputs, ReadPage::ByteCounter, ReadPage::Clock, ReadPage::ProgressBar);
  };
  recordAtEveryAppend(read, ReadPage::Log, take);
  std::optional<Snapshot> atBox;
  window->onBox = [&](QMessageBox&) { atBox = take(); };

  window->click(read, ReadPage::ReadButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning(); }));
  QString log = read.logText();
  EXPECT_EQ(window->boxes, QStringList{"Read Complete."}) << log.toStdString();
  EXPECT_TRUE(log.startsWith("[Read NAND]\r\n")) << log.toStdString();
  EXPECT_TRUE(log.contains("  Reading from 0x0 ... OK.\r\n")) << log.toStdString();
  QFile original(image), back(copy);
  ASSERT_TRUE(original.open(QIODevice::ReadOnly));
  ASSERT_TRUE(back.open(QIODevice::ReadOnly));
  EXPECT_TRUE(original.readAll() == back.readAll());

  const Snapshot* header = at("[Read NAND]");
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->caption, "Read");
  EXPECT_FALSE(header->buttonEnabled);
  EXPECT_EQ(header->disabledInputs, kReadInputs);
  const Snapshot* reading = at("  Reading from ");
  ASSERT_NE(reading, nullptr);
  EXPECT_EQ(reading->caption, "STOP");
  EXPECT_EQ(reading->disabledInputs, without(kReadInputs, ReadPage::ReadButton));
  ASSERT_TRUE(atBox.has_value());
  EXPECT_EQ(atBox->bytes, "5000 / 5000 [Bytes]");
  EXPECT_EQ(atBox->bar, 100);
  EXPECT_TRUE(take().disabledInputs.empty());
  EXPECT_FALSE(read.control(ReadPage::FlashType)->isEnabled());

  // The Verify button runs the comparison and is its STOP button; Read waits, locked.
  history.clear();
  window->boxes.clear();
  atBox.reset();
  read.setFileChooser([image](QWidget*, const QString&) { return image; });
  window->click(read, ReadPage::OpenButton);
  startButton = ReadPage::VerifyButton;
  window->click(read, ReadPage::VerifyButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning(); }));
  log = read.logText();
  EXPECT_EQ(window->boxes, QStringList{"Verify Complete."}) << log.toStdString();
  EXPECT_TRUE(log.contains("\r\n\r\n[Verify NAND]\r\n")) << log.toStdString();
  const Snapshot* verifying = at("  Verifying... ");
  ASSERT_NE(verifying, nullptr);
  EXPECT_EQ(verifying->caption, "STOP");
  EXPECT_TRUE(verifying->buttonEnabled);
  EXPECT_EQ(verifying->disabledInputs, without(kReadInputs, ReadPage::VerifyButton));
  EXPECT_EQ(static_cast<QPushButton*>(read.control(ReadPage::VerifyButton))->text(), "Verify");
  EXPECT_EQ(static_cast<QPushButton*>(read.control(ReadPage::ReadButton))->text(), "Read");
  EXPECT_TRUE(take().disabledInputs.empty());
}

// A copy with spare areas made on the Read tab goes back through the NAND tab, spare areas and all.
TEST_F(PageJobsTest, ACopyWithSpareAreasIsRestoredFromTheNandTab) {
  ASSERT_TRUE(open(kNandBoard));
  ReadPage& read = window->read();
  window->dialog->pageTabs().tabBar()->setCurrentIndex(3);
  const QString copy = dir.filePath("copy-oob.bin");
  read.setSaveChooser([copy](QWidget*, const QString&) { return copy; });
  window->click(read, ReadPage::SaveButton);
  static_cast<QLineEdit*>(read.control(ReadPage::SizeEdit))->setText("4K");
  window->click(read, ReadPage::Oob);
  window->click(read, ReadPage::ReadButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning(); }));
  ASSERT_EQ(window->boxes, QStringList{"Read Complete."}) << read.logText().toStdString();
  EXPECT_EQ(QFileInfo(copy).size(), 2 * (2048 + 64));

  NandPage& nand = window->nand();
  window->dialog->pageTabs().tabBar()->setCurrentIndex(0);
  chooseImage(nand, NandPage::OpenButton, copy);
  window->click(nand, NandPage::Oob);
  window->click(nand, NandPage::Verify);
  window->click(nand, NandPage::StartButton);
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));
  const QString log = nand.logText();
  EXPECT_EQ(window->boxes.last(), "Download Complete.") << log.toStdString();
  EXPECT_TRUE(log.contains("  BASE: 0x0, SIZE: 0x1000\r\n")) << log.toStdString();  // the pages, not their spare areas
  EXPECT_TRUE(log.contains("  Verifying... OK.")) << log.toStdString();
}

TEST_F(PageJobsTest, ReadTabStopsAReadToTheEndAndLeavesNoFile) {
  ASSERT_TRUE(open(kNandBoard));
  ReadPage& read = window->read();
  window->dialog->pageTabs().tabBar()->setCurrentIndex(3);
  const QString whole = dir.filePath("whole.bin");
  read.setSaveChooser([whole](QWidget*, const QString&) { return whole; });
  window->click(read, ReadPage::SaveButton);
  window->click(read, ReadPage::ToEnd);
  auto* button = static_cast<QPushButton*>(read.control(ReadPage::ReadButton));

  window->click(read, ReadPage::ReadButton);
  ASSERT_TRUE(waitUntil([&] { return button->text() == "STOP" || !read.jobRunning(); }));
  ASSERT_TRUE(read.jobRunning()) << read.logText().toStdString();
  window->click(read, ReadPage::ReadButton);
  EXPECT_EQ(read.stopRequested(), 1);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning(); }));

  const QString log = read.logText();
  EXPECT_TRUE(log.endsWith("  STOP.\r\n\r\n")) << log.toStdString();
  EXPECT_TRUE(window->boxes.isEmpty());
  EXPECT_FALSE(QFile::exists(whole));
  EXPECT_FALSE(QFile::exists(whole + ".part"));
  EXPECT_EQ(button->text(), "Read");
  EXPECT_EQ(read.stopRequested(), 0);
}

// Erase asks first and does nothing on No; Bad Blocks scans without asking.
TEST_F(PageJobsTest, ReadTabErasesNandBlocksOnlyAfterTheUserConfirms) {
  ASSERT_TRUE(open("sim:chip=VESKAR"));
  ReadPage& read = window->read();
  window->dialog->pageTabs().tabBar()->setCurrentIndex(3);
  window->click(read, ReadPage::productRadio(Veskar));
  static_cast<QLineEdit*>(read.control(ReadPage::BlockEdit))->setText("3");
  static_cast<QLineEdit*>(read.control(ReadPage::CountEdit))->setText("2");
  window->click(read, ReadPage::EraseButton);
  EXPECT_EQ(window->boxes, QStringList{"Erase 2 blocks from block 3?"});
  EXPECT_FALSE(read.jobRunning());
  EXPECT_TRUE(read.logText().isEmpty()) << read.logText().toStdString();

  window->boxes.clear();
  window->onBox = [](QMessageBox& box) {
    if (box.text().endsWith("?")) QTimer::singleShot(0, &box, [b = &box] { b->button(QMessageBox::Yes)->click(); });
  };
  window->click(read, ReadPage::EraseButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning(); }));
  EXPECT_EQ(window->boxes, (QStringList{"Erase 2 blocks from block 3?", "Erase Complete."}))
      << read.logText().toStdString();
  EXPECT_TRUE(read.logText().contains("[Erase NAND]\r\n")) << read.logText().toStdString();
  EXPECT_EQ(static_cast<QPushButton*>(read.control(ReadPage::EraseButton))->text(), "Erase");

  window->boxes.clear();
  window->click(read, ReadPage::ScanButton);
  ASSERT_TRUE(waitUntil([&] { return !read.jobRunning(); }));
  EXPECT_EQ(window->boxes, QStringList{"Scan Complete."}) << read.logText().toStdString();

  window->click(read, ReadPage::Nor);
  EXPECT_FALSE(read.control(ReadPage::EraseButton)->isEnabled());
  EXPECT_FALSE(read.control(ReadPage::Oob)->isEnabled());
}

}  // namespace
}  // namespace zorv::ui::test
