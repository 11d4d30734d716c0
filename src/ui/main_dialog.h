#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "link/jtag_link.h"

class QAction;
class QMenu;
class QScrollArea;

namespace zorv::ui {

class MessageBoxHost;
class PageTabCtrl;

// The main window: the tab control with the four job pages. Its layout is its smallest size; grown,
// it gives the room to the pages' logs and path boxes, and on a smaller screen it scrolls. Keys that reach the window itself
// are discarded, so Enter and Escape never close it; it closes through its close button only.
// Ctrl+Tab / Ctrl+Shift+Tab change the tab from anywhere in the window, and on the tab strip the
// arrow keys do; Tab moves from the strip into the page and Shift+Tab back out. Closing while jobs run stops them first and closes when the last has ended.
// The about entry lives in the window's context menu (right click on the tab strip or any empty
// part of the window), since most desktops here offer no system menu to extend. The cable entry
// beside it changes the cable the jobs use, as --cable does on the command line.
class MainDialog : public QDialog {
  Q_OBJECT

 public:
  // The port is the process-wide cable; it must outlive the window.
  explicit MainDialog(JtagLink& port, QWidget* parent = nullptr);
  ~MainDialog() override;

  PageTabCtrl& pageTabs() const { return *pageTabs_; }
  // What the window shows, in a scroll area: on a screen smaller than the layout it scrolls.
  QScrollArea* scrollArea() const { return scroll_; }
  MessageBoxHost& boxes() const { return *boxes_; }
  // The context menu holding the about entry.
  QMenu* aboutMenu() const { return menu_; }
  QAction* aboutAction() const { return aboutAction_; }
  bool closing() const { return closing_; }
  bool anyJobRunning() const;

  // Opens the port a cable text names, or throws std::exception saying why it cannot.
  using CableOpener = std::function<std::unique_ptr<JtagLink>(const std::string& cableText)>;
  // Asks the user for a cable text, offering the current one; empty when cancelled.
  using CableAsker = std::function<QString(QWidget* owner, const QString& current)>;
  // Names the cable the window started with and how to open another; without it the cable
  // entry stays disabled.
  void setCableChoice(const QString& current, CableOpener open);
  void setCableAsker(CableAsker ask) { askCable_ = std::move(ask); }
  QAction* cableAction() const { return cableAction_; }
  const QString& cableText() const { return cableText_; }
  // The cable entry: asks for a cable and uses it from the next job on.
  void chooseCable();
  // Switches to the cable; a text that names none is refused with a box and changes nothing.
  bool useCable(const QString& text);

  // Shows the page step tabs on (round), with the focus in it.
  void switchTab(int step);

  // The system command of the about entry.
  static constexpr int kAboutCommand = 0x0010;
  void onSysCommand(int command);

 signals:
  void aboutOpened();
  // The user switched to another cable (to be remembered for the next start).
  void cableChosen(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void onInitDialog();
  void onJobEnded();
  // The window's size and smallest size: its layout's, or what the screen has room for.
  void fitToScreen();
  // Places the tab control (and what is beside it) for the room the window gives.
  void placeContent();

  MessageBoxHost* boxes_;
  QScrollArea* scroll_;
  QWidget* content_;
  PageTabCtrl* pageTabs_;
  QSize layoutSize_;    // the window's content as its layout draws it
  QRect tabsLaidOut_;   // the tab control in that layout
  QIcon icon_;
  QMenu* menu_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QAction* cableAction_ = nullptr;
  QString cableText_;
  CableOpener openCable_;
  CableAsker askCable_;
  std::unique_ptr<JtagLink> ownPort_;  // after the pages are gone (see the destructor)
  JtagLink* port_;
  bool closing_ = false;
};

}  // namespace zorv::ui
