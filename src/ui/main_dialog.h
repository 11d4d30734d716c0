#pragma once

#include <QDialog>
#include <QIcon>

#include "link/jtag_link.h"

class QAction;
class QMenu;

namespace zorv::ui {

class MessageBoxHost;
class PageTabCtrl;

// The main window: the tab control with the four job pages. Keys that reach the window itself
// (or the tab strip) are discarded, so Enter and Escape never close it; it closes through its
// close button only. Closing while jobs run stops them first and closes when the last has ended.
// The about entry lives in the window's context menu (right click on the tab strip or any empty
// part of the window), since most desktops here offer no system menu to extend.
class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // The port is the process-wide cable; it must outlive the window.
  explicit MainDialog(JtagLink& port, QWidget* parent = nullptr);
  ~MainDialog() override;

  PageTabCtrl& pageTabs() const { return *pageTabs_; }
  MessageBoxHost& boxes() const { return *boxes_; }
  // The context menu holding the about entry.
  QMenu* aboutMenu() const { return menu_; }
  QAction* aboutAction() const { return aboutAction_; }
  bool closing() const { return closing_; }
  bool anyJobRunning() const;

  // The system command of the about entry.
  static constexpr int kAboutCommand = 0x0010;
  void onSysCommand(int command);

 signals:
  void aboutOpened();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void onInitDialog();
  void onJobEnded();

  MessageBoxHost* boxes_;
  PageTabCtrl* pageTabs_;
  QIcon icon_;
  QMenu* menu_ = nullptr;
  QAction* aboutAction_ = nullptr;
  JtagLink& port_;
  bool closing_ = false;
};

}  // namespace zorv::ui
