#include "ui/main_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTabBar>

#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/dialog_units.h"
#include "ui/job_page_widget.h"
#include "ui/message_box_host.h"
#include "ui/page_tab_ctrl.h"

namespace zorv::ui {

MainDialog::MainDialog(JtagLink& port, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      boxes_(new MessageBoxHost(this)),
      pageTabs_(new PageTabCtrl(this)),
      icon_(appIcon()),
      port_(port) {
  setObjectName(QStringLiteral("102"));
  setWindowTitle(QStringLiteral("ZORV Parallel JTAG (v1.0)"));
  setFont(mainWindowFont());
  const DialogUnits units(font());
  setFixedSize(units.x(195), units.y(334));
  pageTabs_->setGeometry(units.rect(7, 7, 181, 320));
  onInitDialog();
}

MainDialog::~MainDialog() {
  // The pages (and the jobs they collect) go before the box host they show their boxes with.
  boxes_->setClosing(true);
  delete pageTabs_;
}

void MainDialog::onInitDialog() {
  menu_ = new QMenu(this);
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

  pageTabs_->createPages(port_, *boxes_);
  for (int i = 0; i < pageTabs_->pageCount(); ++i)
    connect(pageTabs_->page(i), &JobPageWidget::jobEnded, this, &MainDialog::onJobEnded);
}

void MainDialog::onSysCommand(int command) {
  if ((command & 0xFFF0) != kAboutCommand) return;
  AboutDialog about(this);
  emit aboutOpened();
  about.exec();
}

bool MainDialog::anyJobRunning() const {
  for (int i = 0; i < pageTabs_->pageCount(); ++i)
    if (pageTabs_->page(i)->jobRunning()) return true;
  return false;
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  // Keys on the tab strip never switch tabs; the wheel does not either.
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::Wheel) return true;
  return QDialog::eventFilter(watched, event);
}

void MainDialog::keyPressEvent(QKeyEvent* event) { event->accept(); }

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
