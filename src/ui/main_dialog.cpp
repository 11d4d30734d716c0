#include "ui/main_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QInputDialog>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <QTabBar>
#include <exception>

#include "cable_choice/cable_port.h"
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
  layoutSize_ = QSize(units.x(195), units.y(334));
  tabsLaidOut_ = units.rect(7, 7, 181, 320);

  content_->setMinimumSize(layoutSize_);
  content_->installEventFilter(this);
  scroll_->setWidget(content_);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setFocusPolicy(Qt::NoFocus);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scroll_);
  pageTabs_->setGeometry(tabsLaidOut_);
  fitToScreen();
  onInitDialog();
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
  const QSize gained = (content_->size() - layoutSize_).expandedTo(QSize(0, 0));
  pageTabs_->setGeometry(grownRect(tabsLaidOut_, gained, GrowsWide | GrowsTall));
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
  connect(cableAction_, &QAction::triggered, this, &MainDialog::chooseCable);
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

QString askWithInputDialog(QWidget* owner, const QString& current) {
  const QStringList offered = {QStringLiteral("lpt"), QStringLiteral("ppdev"), QStringLiteral("ppdev:/dev/parport0"),
                               QStringLiteral("remote:127.0.0.1:44853"), QStringLiteral("xvc:127.0.0.1:2542"),
                               QStringLiteral("sim")};
  QStringList items = offered;
  if (!items.contains(current)) items.prepend(current);
  bool ok = false;
  const QString text = QInputDialog::getItem(
      owner, QStringLiteral("Cable"),
      QString::fromStdString(cableSyntaxList()) + QStringLiteral(":"), items,
      static_cast<int>(items.indexOf(current)), true, &ok);
  return ok ? text.trimmed() : QString();
}

}  // namespace

void MainDialog::setCableChoice(const QString& current, CableOpener open) {
  cableText_ = current;
  openCable_ = std::move(open);
  if (!askCable_) askCable_ = askWithInputDialog;
  cableAction_->setText(QStringLiteral("Cable: %1...").arg(cableText_));
  cableAction_->setEnabled(true);
}

void MainDialog::chooseCable() {
  if (!openCable_) return;
  // A running job holds the cable it started with until its end.
  if (anyJobRunning()) {
    boxes_->show(QStringLiteral("The cable can be changed when no job runs"));
    return;
  }
  const QString chosen = askCable_(this, cableText_);
  if (chosen.isEmpty() || chosen == cableText_) return;
  if (useCable(chosen)) emit cableChosen(cableText_);
}

bool MainDialog::useCable(const QString& text) {
  if (!openCable_ || anyJobRunning()) return false;
  std::unique_ptr<JtagLink> port;
  try {
    port = openCable_(text.toStdString());
  } catch (const std::exception& e) {
    boxes_->show(QString::fromUtf8(e.what()));
    return false;
  }
  if (!port) return false;
  pageTabs_->setPort(*port);
  port_ = port.get();
  ownPort_ = std::move(port);  // the one before goes only now, after no page refers to it
  cableText_ = text;
  cableAction_->setText(QStringLiteral("Cable: %1...").arg(cableText_));
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
