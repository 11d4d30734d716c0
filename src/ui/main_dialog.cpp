#include "ui/main_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <algorithm>
#include <QTabBar>
#include <exception>

#include "board/board_lookup.h"
#include "cable_choice/cable_port.h"
#include "cable_choice/tck_rate.h"
#include "ui/connection_bar.h"
#include "ui/connection_dialog.h"
#include "ui/about_dialog.h"
#include "ui/control_table.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/job_page_widget.h"
#include "ui/message_box_host.h"
#include "ui/page_tab_ctrl.h"

namespace zorv::ui {

MainDialog::MainDialog(JtagLink& port, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      boxes_(new MessageBoxHost(this)),
      scroll_(new QScrollArea(this)),
      content_(new QWidget),
      pageTabs_(new PageTabCtrl(content_)),
      icon_(appIcon()),
      port_(&port) {
  setObjectName(QStringLiteral("102"));
  setWindowTitle(QStringLiteral("ZORV Parallel JTAG (v1.0)"));
  // One font throughout, the pages' (the tab labels included); the window keeps the size and
  // places its own layout was drawn for, in the units of its own font.
  setFont(pageFont());
  const DialogUnits units(mainWindowFont());
  // The tab control as the window's own layout places it, and below it the cable row, which takes
  // the window's bottom margin and a line more.
  layoutSize_ = QSize(units.x(195), units.y(350));
  contentSize_ = QSize(units.x(195), units.y(330));
  tabsLaidOut_ = units.rect(7, 7, 181, 320);
  barLaidOut_ = units.rect(7, 331, 181, 14);

  content_->setMinimumSize(contentSize_);
  content_->installEventFilter(this);
  scroll_->setWidget(content_);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setFocusPolicy(Qt::NoFocus);
  pageTabs_->setGeometry(tabsLaidOut_);
  onInitDialog();
  fitToScreen();
}

void MainDialog::fitToScreen() {
  // The window's frame is not known before it is shown: a title bar's height is kept free for it.
  QSize size = layoutSize_;
  if (const QScreen* shownOn = screen()) {
    const QSize room = shownOn->availableGeometry().size() -
                       QSize(0, style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
    // A scroll bar along one side takes room from the other.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (size.height() > room.height()) size = QSize(size.width() + bar, room.height());
    if (size.width() > room.width()) size = QSize(room.width(), std::min(size.height() + bar, room.height()));
  }
  setMinimumSize(size);
  resize(size);
}

void MainDialog::placeContent() {
  const QSize gained = (content_->size() - contentSize_).expandedTo(QSize(0, 0));
  pageTabs_->setGeometry(grownRect(tabsLaidOut_, gained, GrowsWide | GrowsTall));
}

void MainDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // The cable row keeps its place at the bottom, in sight; the tabs above it scroll when short.
  const int rowSpace = layoutSize_.height() - contentSize_.height();
  scroll_->setGeometry(0, 0, width(), std::max(0, height() - rowSpace));
  const QSize gained(width() - layoutSize_.width(), height() - layoutSize_.height());
  bar_->setGeometry(grownRect(barLaidOut_, gained, GrowsWide | MovesDown));
}

MainDialog::~MainDialog() {
  // The pages (and the jobs they collect) go before the box host they show their boxes with.
  boxes_->setClosing(true);
  delete pageTabs_;
}

void MainDialog::onInitDialog() {
  menu_ = new QMenu(this);
  cableAction_ = menu_->addAction(QStringLiteral("Cable..."));
  cableAction_->setEnabled(false);
  connect(cableAction_, &QAction::triggered, this, &MainDialog::chooseConnection);
  menu_->addSeparator();
  aboutAction_ = menu_->addAction(QString::fromUtf8(kAboutEntryText));
  aboutAction_->setData(kAboutCommand);
  connect(aboutAction_, &QAction::triggered, this, [this] { onSysCommand(kAboutCommand); });

  setWindowIcon(icon_);

  QTabBar* tabs = pageTabs_->tabBar();
  tabs->addTab(QStringLiteral("NAND"));
  tabs->addTab(QStringLiteral("NOR"));
  tabs->addTab(QStringLiteral("Extra Function"));
  tabs->addTab(QStringLiteral("Read"));
  tabs->installEventFilter(this);
  pageTabs_->installEventFilter(this);

  pageTabs_->createPages(*port_, *boxes_);
  // After the pages, so that Tab reaches it after them.
  bar_ = new ConnectionBar(this);
  connect(bar_, &ConnectionBar::changeAsked, this, &MainDialog::chooseConnection);
  connect(bar_, &ConnectionBar::boardFileAsked, this, &MainDialog::chooseBoardFile);
  connect(bar_, &ConnectionBar::noBoardAsked, this, &MainDialog::chooseNoBoard);
  for (int i = 0; i < pageTabs_->pageCount(); ++i) {
    connect(pageTabs_->page(i), &JobPageWidget::jobEnded, this, &MainDialog::onJobEnded);
    connect(pageTabs_->page(i), &JobPageWidget::tabSwitchAsked, this, &MainDialog::switchTab);
  }
  // The window opens with the focus on the first page's first control, not on the tab strip.
  pageTabs_->page(0)->focusFirstControl();
}

void MainDialog::switchTab(int step) {
  const int count = pageTabs_->pageCount();
  // Shown as a click shows it: the focus goes into the page.
  pageTabs_->tabBar()->setCurrentIndex(((pageTabs_->currentPage() + step) % count + count) % count);
}

void MainDialog::onSysCommand(int command) {
  if ((command & 0xFFF0) != kAboutCommand) return;
  AboutDialog about(this);
  emit aboutOpened();
  about.exec();
}

namespace {

QString askWithFileDialog(QWidget* owner, const QString& folder) {
  return QFileDialog::getOpenFileName(owner, QStringLiteral("Board file"), folder,
                                      QStringLiteral("Board files (*.toml);;All Files(*)"));
}

std::optional<Connection> askWithConnectionDialog(QWidget* owner, const Connection& offered) {
  ConnectionDialog dialog(offered, owner);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.connection();
}

}  // namespace

void MainDialog::setConnection(const Connection& current, CableOpener open) {
  connection_ = current;
  openCable_ = std::move(open);
  if (!askConnection_) askConnection_ = askWithConnectionDialog;
  cableAction_->setEnabled(true);
  showConnection();
}

void MainDialog::setChain(const ChainDescription& chain) {
  chain_ = chain;
  pageTabs_->setChain(chain_);
  showConnection();
}

void MainDialog::setBoard(std::shared_ptr<const BoardFile> board) {
  board_ = std::move(board);
  pageTabs_->setBoard(board_);
  if (board_) {
    const QString path = QString::fromStdString(board_->path);
    bar_->showBoard(QFileInfo(path).fileName(), QDir::toNativeSeparators(path));
  } else {
    bar_->showBoard({}, {});
  }
  showConnection();  // the board's chain, where it gives one, is the one the jobs take
}

void MainDialog::chooseBoardFile() {
  // The folder of the board chosen, else the boards that come with the program.
  const QString folder = board_ ? QFileInfo(QString::fromStdString(board_->path)).absolutePath()
                                : QString::fromStdString(installedBoardsDir());
  const QString path = (askBoard_ ? askBoard_ : askWithFileDialog)(this, folder);
  if (!path.isEmpty() && useBoardFile(path)) emit boardChosen(QString::fromStdString(board_->path));
}

void MainDialog::chooseNoBoard() {
  if (!board_) return;
  setBoard(nullptr);
  emit boardChosen(QString());
}

bool MainDialog::useBoardFile(const QString& path) {
  try {
    setBoard(std::make_shared<const BoardFile>(readBoardFile(path.toStdString())));
    return true;
  } catch (const std::exception& error) {  // a BoardFileError naming the file and line, above all
    boxes_->show(QString::fromUtf8(error.what()));
    return false;
  }
}

void MainDialog::showConnection() {
  const ChainDescription& jobChain = board_ && board_->chain.given() ? board_->chain : chain_;
  const QString chain = jobChain.given() ? QStringLiteral(", chain %1").arg(QString::fromStdString(jobChain.text())) : QString();
  bar_->showConnection(connection_, chain);
  cableAction_->setText(QStringLiteral("Cable: %1%2...").arg(connection_.shownText(), chain));
}

void MainDialog::chooseConnection() {
  if (!openCable_) return;
  // A running job holds the cable it started with until its end.
  if (anyJobRunning()) {
    boxes_->show(QStringLiteral("The cable can be changed when no job runs"));
    return;
  }
  Connection offered = connection_;
  for (;;) {
    const std::optional<Connection> chosen = askConnection_(this, offered);
    if (!chosen || *chosen == connection_) return;
    if (useConnection(*chosen)) {
      emit connectionChosen(connection_);
      return;
    }
    offered = *chosen;  // refused with a box: asked again as the user left it
  }
}

bool MainDialog::useConnection(const Connection& wanted) {
  if (!openCable_ || anyJobRunning()) return false;
  const std::string cable = wanted.cable.trimmed().toStdString();
  const QString tck = wanted.tck.trimmed();
  uint32_t tckPeriodNs = 0;
  if (!tck.isEmpty()) {
    if (!cableSetsTck(cable)) {
      boxes_->show(QStringLiteral("The cable '%1' has no TCK setting (only %2 have)")
                       .arg(QString::fromStdString(cable), QString::fromStdString(tckCableSyntaxes())));
      return false;
    }
    const std::optional<uint64_t> hz = readTckRate(tck.toStdString());
    if (!hz) {
      boxes_->show(QStringLiteral("TCK '%1' is not a rate from 1 Hz to 1000M (k or M after it for kHz, MHz)").arg(tck));
      return false;
    }
    tckPeriodNs = tckPeriodOfRate(*hz);
  }
  std::unique_ptr<JtagLink> port;
  try {
    port = openCable_(cable, tckPeriodNs);
  } catch (const std::exception& e) {
    boxes_->show(QString::fromUtf8(e.what()));
    return false;
  }
  if (!port) return false;
  // A USB adapter that cannot be opened says why now, before any job, and is let go again.
  const CableKind* kind = findCableKind(cable);
  if (kind != nullptr && kind->opensAtChoice) {
    port->grantAccess();
    const std::string failure = port->linkFailure();
    port->release();
    if (!failure.empty()) {
      boxes_->show(QString::fromStdString(std::string(kind->name) + ": " + failure));
      return false;
    }
  }
  pageTabs_->setPort(*port);
  port_ = port.get();
  ownPort_ = std::move(port);  // the one before goes only now, after no page refers to it
  connection_ = {QString::fromStdString(cable), tck};
  showConnection();
  return true;
}

bool MainDialog::anyJobRunning() const {
  for (int i = 0; i < pageTabs_->pageCount(); ++i)
    if (pageTabs_->page(i)->jobRunning()) return true;
  return false;
}

namespace {

// How far a key on the tab strip moves the current tab (0: not a tab key). Ctrl+Tab goes round,
// the arrows stop at either end.
int tabStep(const QKeyEvent& key, int current, int count) {
  const bool ctrl = key.modifiers().testFlag(Qt::ControlModifier);
  if (ctrl && key.key() == Qt::Key_Tab) return current + 1 < count ? 1 : 1 - count;
  if (ctrl && key.key() == Qt::Key_Backtab) return current > 0 ? -1 : count - 1;
  if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return 0;
  if (key.key() == Qt::Key_Right || key.key() == Qt::Key_Down) return current + 1 < count ? 1 : 0;
  if (key.key() == Qt::Key_Left || key.key() == Qt::Key_Up) return current > 0 ? -1 : 0;
  return 0;
}

}  // namespace

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == content_) {
    if (event->type() == QEvent::Resize) placeContent();
    return false;
  }
  // The wheel never switches tabs: it would, unasked, as the pointer passes over the strip.
  if (event->type() == QEvent::Wheel) return true;
  if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  if (watched == pageTabs_->tabBar()) {
    const int current = pageTabs_->currentPage();
    const int step = tabStep(*key, current, pageTabs_->pageCount());
    if (step != 0) {
      pageTabs_->selectFromKeyboard(current + step);
      return true;
    }
    // Tab and Shift+Tab move the focus on; every other key (Enter, Escape above all) is discarded.
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
  }
  return true;
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  // Ctrl+Tab changes the tab from anywhere; every other key that reaches the window is discarded.
  if (event->modifiers().testFlag(Qt::ControlModifier) && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab))
    switchTab(event->key() == Qt::Key_Tab ? 1 : -1);
  event->accept();
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) { menu_->popup(event->globalPos()); }

void MainDialog::closeEvent(QCloseEvent* event) {
  if (anyJobRunning()) {
    // Joining a job here could wait for ever on a job that waits for this thread. Instead the
    // jobs are asked to stop, their boxes answer themselves, and the window closes when the
    // last job has reached its end.
    closing_ = true;
    boxes_->setClosing(true);
    boxes_->closeOpenBoxes();
    pageTabs_->setEnabled(false);
    for (int i = 0; i < pageTabs_->pageCount(); ++i)
      if (pageTabs_->page(i)->jobRunning()) pageTabs_->page(i)->requestStop();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void MainDialog::onJobEnded() {
  if (closing_ && !anyJobRunning()) close();
}

}  // namespace zorv::ui
