#include "ui/page_tab_ctrl.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

#include "ui/extra_page.h"
#include "ui/nand_page.h"
#include "ui/nor_page.h"
#include "ui/read_page.h"

namespace zorv::ui {

PageTabCtrl::PageTabCtrl(QWidget* parent) : QWidget(parent), tabs_(new QTabBar(this)) {
  tabs_->setObjectName(QStringLiteral("1000"));
  tabs_->setExpanding(false);
  tabs_->setDrawBase(false);
  tabs_->setFocusPolicy(Qt::StrongFocus);
  connect(tabs_, &QTabBar::currentChanged, this, &PageTabCtrl::showPage);
}

PageTabCtrl::~PageTabCtrl() {
  // Each page stops and collects its own job before it goes.
  for (int i = 0; i < pageCount_; ++i) delete pages_[i];
}

JobPageWidget* PageTabCtrl::page(int index) const {
  return index >= 0 && index < pageCount_ ? pages_[index] : nullptr;
}
NandPage* PageTabCtrl::nandPage() const { return static_cast<NandPage*>(pages_[0]); }
NorPage* PageTabCtrl::norPage() const { return static_cast<NorPage*>(pages_[1]); }
ExtraPage* PageTabCtrl::extraPage() const { return static_cast<ExtraPage*>(pages_[2]); }
ReadPage* PageTabCtrl::readPage() const { return static_cast<ReadPage*>(pages_[3]); }

void PageTabCtrl::createPages(JtagLink& port, MessageBoxHost& boxes) {
  currentPage_ = 0;
  pages_[0] = new NandPage(port, boxes, this);
  pages_[1] = new NorPage(port, boxes, this);
  pages_[2] = new ExtraPage(port, boxes, this);
  pages_[3] = new ReadPage(port, boxes, this);
  // A NOR read takes the bus the NOR tab has chosen.
  readPage()->setNorBusSource([nor = norPage()] { return nor->bus(); });
  pages_[0]->show();
  for (int i = 1; i < pageCount_; ++i) pages_[i]->hide();
  layoutPages();
  // The control has its layout size now: so have the pages.
  for (int i = 0; i < pageCount_; ++i) pages_[i]->rememberLayoutSize();
}

void PageTabCtrl::setChain(const ChainDescription& chain) {
  for (int i = 0; i < pageCount_; ++i) pages_[i]->setChain(chain);
}

void PageTabCtrl::setBoard(const std::shared_ptr<const BoardFile>& board) {
  for (int i = 0; i < pageCount_; ++i) pages_[i]->setBoard(board);
}

void PageTabCtrl::setPort(JtagLink& port) {
  for (int i = 0; i < pageCount_; ++i) pages_[i]->setPort(port);
}

void PageTabCtrl::selectFromKeyboard(int index) {
  focusFollows_ = false;
  tabs_->setCurrentIndex(index);
  focusFollows_ = true;
}

void PageTabCtrl::layoutPages() {
  placePages();
  for (int i = 0; i < pageCount_; ++i) {
    pages_[i]->raise();
    pages_[i]->setVisible(i == currentPage_);
  }
}

void PageTabCtrl::placePages() {
  tabs_->setGeometry(0, 0, width(), tabs_->sizeHint().height());
  // Edges as the classic tab control reports them: right and bottom lie just outside.
  const QRect head = tabs_->tabRect(0).translated(tabs_->pos());
  const int headBottom = head.y() + head.height();
  const int left = head.x();
  const int top = headBottom + 1;
  const int w = width() - head.x() - 1;
  const int h = height() - headBottom - 2;
  for (int i = 0; i < pageCount_; ++i) pages_[i]->setGeometry(left, top, w, h);
}

void PageTabCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (pages_[0] != nullptr) placePages();
}

void PageTabCtrl::showPage(int index) {
  if (index == currentPage_ || !page(index)) return;
  pages_[currentPage_]->hide();
  currentPage_ = index;
  JobPageWidget* shown = pages_[currentPage_];
  shown->show();
  if (focusFollows_) shown->focusFirstControl();
}

void PageTabCtrl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionTabWidgetFrame frame;
  frame.initFrom(this);
  frame.rect = QRect(0, tabs_->height() - 1, width(), height() - tabs_->height() + 1);
  frame.tabBarSize = tabs_->sizeHint();
  frame.shape = QTabBar::RoundedNorth;
  style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

}  // namespace zorv::ui
