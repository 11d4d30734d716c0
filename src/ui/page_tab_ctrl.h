#pragma once

#include <QWidget>
#include <array>
#include <memory>

#include "board/board_file.h"
#include "chain/chain_description.h"
#include "link/jtag_link.h"

class QTabBar;

namespace zorv::ui {

class JobPageWidget;
class MessageBoxHost;
class NandPage;
class NorPage;
class ExtraPage;
class ReadPage;

// The tab control of the main window: a strip of four tabs over one shared rectangle where the
// chosen page shows. A mouse click changes the tab and takes the focus into the page; the keys of
// the strip (handled by the window) change it and leave the focus on the strip.
class PageTabCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit PageTabCtrl(QWidget* parent);
  ~PageTabCtrl() override;

  void createPages(JtagLink& port, MessageBoxHost& boxes);
  // Every page's jobs use this cable from their next start on.
  void setPort(JtagLink& port);
  // Every page's jobs take this chain from their next start on.
  void setChain(const ChainDescription& chain);
  // Every page's jobs take this board file (null: none) from their next start on.
  void setBoard(const std::shared_ptr<const BoardFile>& board);
  // Shows the page as a key on the strip asks: the focus stays on the strip.
  void selectFromKeyboard(int index);
  void layoutPages();
  // The tab strip and the pages' shared rectangle for the control's size now.
  void placePages();

  QTabBar* tabBar() const { return tabs_; }
  int currentPage() const { return currentPage_; }
  int pageCount() const { return pageCount_; }
  JobPageWidget* page(int index) const;
  NandPage* nandPage() const;
  NorPage* norPage() const;
  ExtraPage* extraPage() const;
  ReadPage* readPage() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showPage(int index);

  QTabBar* tabs_;
  std::array<JobPageWidget*, 5> pages_{};
  int currentPage_ = 0;
  int pageCount_ = 4;
  bool focusFollows_ = true;
};

}  // namespace zorv::ui
