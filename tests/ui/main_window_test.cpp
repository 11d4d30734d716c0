#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <chrono>
#include <optional>
#include <utility>
#include <stdexcept>
#include <thread>

#include "cable/recording_port.h"
#include "cable_choice/cable_port.h"
#include "ui/connection_bar.h"
#include "ui/connection_dialog.h"
#include "ui/remembered_connection.h"
#include "ui/about_dialog.h"
#include "ui/dialog_units.h"
#include "ui_test_support.h"

namespace zorv::ui::test {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  QTabBar* tabs() const { return window.dialog->pageTabs().tabBar(); }
  PageTabCtrl& pageTabs() const { return window.dialog->pageTabs(); }
  void clickTab(int index) const { QTest::mouseClick(tabs(), Qt::LeftButton, {}, tabs()->tabRect(index).center()); }
  bool shows(int index) const {
    for (int i = 0; i < pageTabs().pageCount(); ++i)
      if (pageTabs().page(i)->isVisible() != (i == index)) return false;
    return pageTabs().currentPage() == index;
  }

  NullPort port;
  Window window{port};
};

TEST_F(MainWindowTest, FourTabsOverOneSharedPageRectangle) {
  ASSERT_EQ(tabs()->count(), 4);
  ASSERT_EQ(pageTabs().pageCount(), 4);
  EXPECT_EQ(tabs()->tabText(0), "NAND");
  EXPECT_EQ(tabs()->tabText(1), "NOR");
  EXPECT_EQ(tabs()->tabText(2), "Extra Function");
  EXPECT_EQ(tabs()->tabText(3), "Read");
  EXPECT_EQ(pageTabs().page(3), static_cast<JobPageWidget*>(pageTabs().readPage()));
  EXPECT_EQ(window.dialog->windowTitle(), "ZORV Parallel JTAG (v1.0)");
  EXPECT_FALSE(window.dialog->windowIcon().isNull());
  EXPECT_TRUE(shows(0));
  // One font throughout: the tab labels as the pages.
  EXPECT_EQ(QFontInfo(tabs()->font()).family(), QFontInfo(window.nand().font()).family());
  EXPECT_EQ(QFontInfo(tabs()->font()).pointSize(), QFontInfo(window.nand().font()).pointSize());

  // The pages sit just below the tab headers and fill the control.
  const QRect head = tabs()->tabRect(0);
  for (int i = 0; i < 4; ++i) {
    const QRect g = pageTabs().page(i)->geometry();
    EXPECT_EQ(g, QRect(head.x(), head.bottom() + 2, pageTabs().width() - head.x() - 1,
                       pageTabs().height() - head.bottom() - 3));
  }
  // Sizes in dialog units of the window's font.
  const DialogUnits units(mainWindowFont());
  EXPECT_EQ(window.dialog->size(), QSize(units.x(195), units.y(350)));  // the cable row below the tabs
  window.dialog->resize(100, 100);  // no smaller than its layout
  EXPECT_EQ(window.dialog->size(), QSize(units.x(195), units.y(350)));
  EXPECT_EQ(pageTabs().geometry(), units.rect(7, 7, 181, 320));
}

// Grown past its layout, the window gives the room to the log and the path boxes; the controls
// above keep their places.
TEST_F(MainWindowTest, TheLogAndThePathBoxTakeTheRoomOfAGrownWindow) {
  NandPage& nand = window.nand();
  const auto geometry = [&](int id) { return nand.control(id)->geometry(); };
  const QRect log = geometry(NandPage::Log), path = geometry(NandPage::PathBox), open = geometry(NandPage::OpenButton),
              bar = geometry(NandPage::ProgressBar), clock = geometry(NandPage::Clock),
              start = geometry(NandPage::StartButton);
  // A path a little too wide for the box as laid out is shortened, and shown whole once it fits.
  QString image = "/d/x/boot.bin";
  while (QFontMetrics(nand.control(NandPage::PathBox)->font()).horizontalAdvance(image) < path.width() + 20)
    image.insert(3, 'x');
  nand.setFileChooser([&](QWidget*, const QString&) { return image; });
  window.click(nand, NandPage::OpenButton);
  const auto shown = [&] { return static_cast<QLineEdit*>(nand.control(NandPage::PathBox))->text(); };
  EXPECT_EQ(shown(), "/.../boot.bin");
  window.dialog->resize(window.dialog->size() + QSize(100, 80));
  ASSERT_TRUE(waitUntil([&] { return geometry(NandPage::Log) != log; }));
  EXPECT_EQ(geometry(NandPage::Log), log.adjusted(0, 0, 100, 80));
  EXPECT_EQ(geometry(NandPage::PathBox), path.adjusted(0, 0, 100, 0));
  EXPECT_EQ(shown(), image);
  EXPECT_EQ(geometry(NandPage::OpenButton), open.translated(100, 0));
  EXPECT_EQ(geometry(NandPage::ProgressBar), bar.translated(0, 80).adjusted(0, 0, 100, 0));
  EXPECT_EQ(geometry(NandPage::Clock), clock.translated(100, 80));
  EXPECT_EQ(geometry(NandPage::StartButton), start);
  // The Read page's two path boxes and its log grow as well.
  ReadPage& read = window.read();
  clickTab(3);
  EXPECT_EQ(read.control(ReadPage::OutputBox)->width(), path.width() + 100);
  clickTab(2);
  EXPECT_EQ(window.extra().control(ExtraPage::Log)->height(), DialogUnits(pageFont()).y(213) + 80);
  EXPECT_EQ(read.control(ReadPage::PathBox)->width(), path.width() + 100);
  EXPECT_EQ(read.control(ReadPage::Log)->height(), DialogUnits(pageFont()).y(69) + 80);
}

TEST_F(MainWindowTest, ClickingATabSwitchesPagesAndFocus) {
  clickTab(1);
  EXPECT_TRUE(shows(1));
  ASSERT_NE(QApplication::focusWidget(), nullptr);
  EXPECT_TRUE(pageTabs().page(1)->isAncestorOf(QApplication::focusWidget()));

  clickTab(1);  // the current tab again
  EXPECT_TRUE(shows(1));

  // Beside the tabs: nothing changes.
  const QRect last = tabs()->tabRect(3);
  ASSERT_LT(last.right() + 10, tabs()->width());
  QTest::mouseClick(tabs(), Qt::LeftButton, {}, QPoint(last.right() + 10, last.center().y()));
  EXPECT_TRUE(shows(1));

  clickTab(2);
  EXPECT_TRUE(shows(2));
  clickTab(3);
  EXPECT_TRUE(shows(3));
  clickTab(0);
  EXPECT_TRUE(shows(0));
}

TEST_F(MainWindowTest, KeysOnTheTabStripSwitchTabsAndTabMovesIntoThePage) {
  clickTab(1);
  tabs()->setFocus();
  ASSERT_TRUE(waitUntil([&] { return tabs()->hasFocus(); }));
  for (Qt::Key key : {Qt::Key_Home, Qt::Key_End, Qt::Key_Return, Qt::Key_Escape}) {
    QTest::keyClick(tabs(), key);
    EXPECT_TRUE(shows(1)) << key;
    EXPECT_TRUE(window.dialog->isVisible()) << key;
  }
  const struct {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int shown;
  } steps[] = {{Qt::Key_Right, {}, 2},
               {Qt::Key_Right, {}, 3},
               {Qt::Key_Right, {}, 3},  // the arrows stop at the end
               {Qt::Key_Tab, Qt::ControlModifier, 0},  // Ctrl+Tab goes round
               {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 3},
               {Qt::Key_Left, {}, 2}};
  for (const auto& step : steps) {
    QTest::keyClick(tabs(), step.key, step.modifiers);
    EXPECT_TRUE(shows(step.shown)) << step.key;
    EXPECT_TRUE(tabs()->hasFocus()) << step.key;
  }
  QTest::keyClick(tabs(), Qt::Key_Tab);
  ASSERT_NE(QApplication::focusWidget(), nullptr);
  EXPECT_TRUE(pageTabs().page(2)->isAncestorOf(QApplication::focusWidget()));
  QWheelEvent wheel(QPointF(5, 5), tabs()->mapToGlobal(QPointF(5, 5)), {}, QPoint(0, -120), Qt::NoButton, {},
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(tabs(), &wheel);
  EXPECT_TRUE(shows(2));
}

TEST_F(MainWindowTest, EnterAndEscapeNeverCloseTheWindow) {
  window.dialog->setFocus();
  QTest::keyClick(window.dialog.get(), Qt::Key_Escape);
  QTest::keyClick(window.dialog.get(), Qt::Key_Return);
  EXPECT_TRUE(window.dialog->isVisible());
  EXPECT_EQ(window.dialog->result(), 0);
}

TEST_F(MainWindowTest, AboutEntryOpensTheAboutBox) {
  QAction* entry = window.dialog->aboutAction();
  EXPECT_EQ(entry->text(), QString::fromUtf8("ZORV Parallel JTAG 정보(&A)..."));
  const auto actions = window.dialog->aboutMenu()->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0], window.dialog->cableAction());
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2], entry);

  QString title;
  QString okText;
  bool closedByOk = false;
  QObject::connect(window.dialog.get(), &MainDialog::aboutOpened, [&] {
    QTimer::singleShot(0, [&] {
      auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(about, nullptr);
      title = about->windowTitle();
      auto* ok = about->findChild<QPushButton*>("1");
      ASSERT_NE(ok, nullptr);
      okText = ok->text();
      QTest::mouseClick(ok, Qt::LeftButton);
      closedByOk = !about->isVisible();
    });
  });
  entry->trigger();
  EXPECT_EQ(title, QString::fromUtf8("ZORV Parallel JTAG 정보"));
  EXPECT_EQ(okText, QString::fromUtf8("확인"));
  EXPECT_TRUE(closedByOk);

  // Other system commands are not the about entry's.
  bool opened = false;
  QObject::connect(window.dialog.get(), &MainDialog::aboutOpened, [&] { opened = true; });
  window.dialog->onSysCommand(0xF060);
  EXPECT_FALSE(opened);
}

TEST_F(MainWindowTest, RightClickOnTheTabStripOffersTheAboutEntry) {
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), tabs()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(tabs(), &event);
  EXPECT_TRUE(waitUntil([&] { return window.dialog->aboutMenu()->isVisible(); }));
  window.dialog->aboutMenu()->close();
}

TEST_F(MainWindowTest, TheCableIsShownAndChangedFromTheWindowForEveryPage) {
  ConnectionBar& bar = window.dialog->connectionBar();
  EXPECT_FALSE(bar.changeButton()->isEnabled());  // nothing to open cables with yet
  std::vector<uint32_t> periods;
  window.dialog->setConnection({"lpt", ""}, [&](const std::string& text, uint32_t tckPeriodNs) -> std::unique_ptr<JtagLink> {
    if (text != "sim" && text != "xvc:h:1") throw std::invalid_argument("unknown cable '" + text + "'");
    periods.push_back(tckPeriodNs);
    return std::make_unique<ParallelPortLink>(std::make_unique<NullPort>());
  });
  EXPECT_TRUE(bar.isVisible());
  EXPECT_EQ(bar.shownText(), "lpt");
  EXPECT_EQ(window.dialog->cableAction()->text(), "Cable: lpt...");
  std::vector<std::optional<Connection>> answers = {Connection{"bogus", ""}, std::nullopt, std::nullopt,
                                                    Connection{"sim", "1M"}, Connection{"sim", ""}};
  std::vector<Connection> offered;
  window.dialog->setConnectionAsker([&](QWidget*, const Connection& current) {
    offered.push_back(current);
    const std::optional<Connection> answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  });
  std::vector<Connection> remembered;
  QObject::connect(window.dialog.get(), &MainDialog::connectionChosen,
                   [&](const Connection& chosen) { remembered.push_back(chosen); });

  // A text that names no cable: a box, and the dialog again with what the user entered.
  QTest::mouseClick(bar.changeButton(), Qt::LeftButton);
  EXPECT_EQ(window.boxes, QStringList{"unknown cable 'bogus'"});
  ASSERT_EQ(offered.size(), 2u);
  EXPECT_EQ(offered[0].cable, "lpt");
  EXPECT_EQ(offered[1].cable, "bogus");
  window.dialog->cableAction()->trigger();  // the menu entry, cancelled
  EXPECT_EQ(window.dialog->connection().cable, "lpt");
  JtagLink* first = window.ownedLink.get();
  for (int i = 0; i < pageTabs().pageCount(); ++i) EXPECT_EQ(&pageTabs().page(i)->cablePort(), first);

  // A running job keeps the cable it started with: freeing it under the job would be fatal.
  NandPage& nand = *pageTabs().nandPage();
  nand.setJobFunction([](JobPage& page, JtagLink&, const NandSettings&) {
    while (page.stopRequested.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
  });
  nand.startOrStopJob();
  ASSERT_TRUE(nand.jobRunning());
  window.dialog->cableAction()->trigger();
  EXPECT_EQ(window.boxes.last(), "The cable can be changed when no job runs");
  EXPECT_EQ(&nand.cablePort(), first);
  nand.requestStop();
  ASSERT_TRUE(waitUntil([&] { return !nand.jobRunning(); }));

  // A TCK for a cable that has none is refused; then the cable alone is taken.
  QTest::mouseClick(bar.changeButton(), Qt::LeftButton);
  EXPECT_TRUE(window.boxes.last().contains("no TCK setting")) << window.boxes.last().toStdString();
  EXPECT_EQ(window.dialog->connection().cable, "sim");
  EXPECT_EQ(bar.shownText(), "sim");
  EXPECT_EQ(window.dialog->cableAction()->text(), "Cable: sim...");
  ASSERT_EQ(remembered.size(), 1u);
  EXPECT_EQ(remembered[0].cable, "sim");
  for (int i = 0; i < pageTabs().pageCount(); ++i) {
    EXPECT_NE(&pageTabs().page(i)->cablePort(), first);
    auto* link = dynamic_cast<ParallelPortLink*>(&pageTabs().page(i)->cablePort());
    ASSERT_NE(link, nullptr);
    EXPECT_NE(dynamic_cast<NullPort*>(&link->port()), nullptr);
  }

  // A rate goes to the cable as its period, and shows beside it.
  ASSERT_TRUE(window.dialog->useConnection({"xvc:h:1", "1M"}));
  EXPECT_EQ(periods.back(), 1000u);
  EXPECT_EQ(bar.shownText(), "xvc:h:1, TCK 1M");
  EXPECT_FALSE(window.dialog->useConnection({"xvc:h:1", "fast"}));
  EXPECT_TRUE(window.boxes.last().contains("'fast'")) << window.boxes.last().toStdString();
}

// A USB adapter is opened when it is chosen: one that is not there is named then, not at the next
// job, and the cable stays as it was.
TEST_F(MainWindowTest, AnAdapterThatCannotBeOpenedIsRefusedWhenChosen) {
  window.dialog->setConnection({"sim", ""}, [](const std::string& text, uint32_t tckPeriodNs) {
    return openCableLink(text, tckPeriodNs);
  });
  EXPECT_FALSE(window.dialog->useConnection({"ftdi:0403:6010:NO-SUCH-SERIAL", "6M"}));
  ASSERT_FALSE(window.boxes.isEmpty());
  EXPECT_TRUE(window.boxes.last().startsWith("ftdi: ")) << window.boxes.last().toStdString();
  EXPECT_EQ(window.dialog->connection().cable, "sim");
  // The virtual adapter opens, and is let go again until a job takes it.
  EXPECT_TRUE(window.dialog->useConnection({"ftdi:sim", "6M"}));
  EXPECT_EQ(window.dialog->connectionBar().shownText(), "ftdi:sim, TCK 6M");
}

// A TCK rate is remembered only with a cable that has one, and only as a rate.
TEST(RememberedConnectionTest, KeepsTheRateOnlyWhereTheCableHasOne) {
  QTemporaryDir dir;
  QSettings settings(dir.filePath("zorvjtag-gui.conf"), QSettings::IniFormat);
  EXPECT_EQ(rememberedConnection(settings), Connection{});
  rememberConnection(settings, {"xvc:h:2542", "1M"});
  EXPECT_EQ(rememberedConnection(settings), (Connection{"xvc:h:2542", "1M"}));
  for (const auto& [cable, tck] : {std::pair{"sim", "1M"}, {"xvc:h:2542", "fast"}}) {
    rememberConnection(settings, {cable, tck});
    EXPECT_EQ(rememberedConnection(settings), (Connection{cable, ""})) << cable << " " << tck;
  }
}

// The dialog lists every kind of the cable table, shows the current cable in its kind's fields,
// and builds the cable text from them; TCK only where the kind has one.
TEST(ConnectionDialogTest, OffersEveryCableKindWithItsFields) {
  ConnectionDialog dialog(Connection{"remote:10.0.0.2:3335", ""});
  ASSERT_EQ(dialog.kindBox()->count(), static_cast<int>(cableKinds().size()));
  for (size_t i = 0; i < cableKinds().size(); ++i)
    EXPECT_TRUE(dialog.kindBox()->itemText(static_cast<int>(i)).startsWith(cableKinds()[i].name));
  EXPECT_EQ(dialog.kindBox()->currentIndex(), 2);
  ASSERT_EQ(dialog.fieldCount(), 2);
  EXPECT_EQ(dialog.fieldLabel(0), "Host:");
  EXPECT_EQ(dialog.fieldText(0), "10.0.0.2");
  EXPECT_EQ(dialog.fieldText(1), "3335");
  EXPECT_FALSE(dialog.tckBox()->isEnabled());

  dialog.kindBox()->setCurrentIndex(dialog.kindBox()->findText("ftdi", Qt::MatchStartsWith));
  ASSERT_EQ(dialog.fieldCount(), 4);
  EXPECT_EQ(dialog.fieldLabel(2), "VID:PID:");
  dialog.setFieldText(2, "0403:6014");
  dialog.setFieldText(3, "FT1234");
  EXPECT_TRUE(dialog.tckBox()->isEnabled());
  dialog.tckBox()->setText("15M");
  EXPECT_EQ(dialog.connection().cable, "ftdi:0403:6014:FT1234");
  EXPECT_EQ(dialog.connection().tck, "15M");

  dialog.kindBox()->setCurrentIndex(dialog.kindBox()->findText("sim", Qt::MatchStartsWith));  // no TCK
  dialog.setFieldText(0, "chip=IKA");
  EXPECT_EQ(dialog.connection().cable, "sim:chip=IKA");
  EXPECT_EQ(dialog.connection().tck, "");
}

TEST(DialogUnitsTest, ConvertsFromTheFontsCharacterCell) {
  const DialogUnits units(7, 16);
  EXPECT_EQ(units.rect(2, 102, 174, 165), QRect(3, 204, 304, 330));
  EXPECT_EQ(units.x(3), 5);  // truncated, like the dialog manager's own conversion
  // Korean captions need a font that has Hangul.
  EXPECT_TRUE(QFontMetrics(pageFont()).inFont(QChar(0xD655)));  // 확
  EXPECT_TRUE(QFontMetrics(mainWindowFont()).inFont(QChar(0xD655)));
}

}  // namespace
}  // namespace zorv::ui::test
