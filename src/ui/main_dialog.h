#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "board/board_file.h"
#include "chain/chain_description.h"
#include "link/jtag_link.h"
#include "ui/connection.h"

class QAction;
class QMenu;
class QScrollArea;

namespace zorv::ui {

class ConnectionBar;
class MessageBoxHost;
class PageTabCtrl;

// The main window: the tab control with the four job pages, and below it the row that shows the
// cable the jobs use and changes it (as --cable and --tck do on the command line). Its layout is
// its smallest size; grown, it gives the room to the pages' logs and path boxes, and on a smaller
// screen the tabs scroll above the cable row. Keys that reach the window itself are discarded, so
// Enter and Escape never close it; it closes through its close button only. Ctrl+Tab /
// Ctrl+Shift+Tab change the tab from anywhere in the window, and on the tab strip the arrow keys
// do; Tab moves from the strip into the page and Shift+Tab back out. Closing while jobs run stops
// them first and closes when the last has ended. The about entry lives in the window's context
// menu (right click on the tab strip or any empty part of the window), since most desktops here
// offer no system menu to extend; the cable entry beside it opens the cable dialog too.
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

  // Opens the port a cable text names, asking a cable that sets one for the TCK period (0: its
  // own), or throws std::exception saying why it cannot.
  using CableOpener = std::function<std::unique_ptr<JtagLink>(const std::string& cableText, uint32_t tckPeriodNs)>;
  // Asks the user for a connection, offering the one given; nothing when cancelled.
  using ConnectionAsker = std::function<std::optional<Connection>(QWidget* owner, const Connection& offered)>;
  // Names the connection the window started with and how to open another; without it the cable
  // cannot be changed.
  void setConnection(const Connection& current, CableOpener open);
  void setConnectionAsker(ConnectionAsker ask) { askConnection_ = std::move(ask); }
  const Connection& connection() const { return connection_; }
  ConnectionBar& connectionBar() const { return *bar_; }
  QAction* cableAction() const { return cableAction_; }
  // The Change... button and the cable entry: asks until the user gives a connection that opens
  // or cancels; the one that opens is used from the next job on.
  void chooseConnection();
  // Switches to the connection; one that does not open is refused with a box and changes nothing.
  bool useConnection(const Connection& wanted);

  // Shows the page step tabs on (round), with the focus in it.
  void switchTab(int step);

  // The devices on the cable around the product (as --chain), shown with the cable; every job takes
  // them from its next start on.
  void setChain(const ChainDescription& chain);
  const ChainDescription& chain() const { return chain_; }

  // The board file every job takes from its next start on (as --board; null: none), shown beside
  // the cable. Its chain, where it gives one, is the one the jobs take instead of the window's.
  void setBoard(std::shared_ptr<const BoardFile> board);
  const std::shared_ptr<const BoardFile>& board() const { return board_; }
  // Asks the user for a board file, starting in the folder given; empty when cancelled.
  using BoardAsker = std::function<QString(QWidget* owner, const QString& folder)>;
  void setBoardAsker(BoardAsker ask) { askBoard_ = std::move(ask); }
  // The board button's entries: a board file the user picks, or none.
  void chooseBoardFile();
  void chooseNoBoard();
  // Takes the board file at path; one that cannot be read is refused with a box quoting why, and
  // the board chosen before stays.
  bool useBoardFile(const QString& path);

  // The system command of the about entry.
  static constexpr int kAboutCommand = 0x0010;
  void onSysCommand(int command);

 signals:
  void aboutOpened();
  // The user switched to another connection (to be remembered for the next start).
  void connectionChosen(const Connection& chosen);
  // The user chose a board file (its path), or none (empty), to be remembered for the next start.
  void boardChosen(const QString& path);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void onInitDialog();
  void onJobEnded();
  // The window's size and smallest size: its layout's, or what the screen has room for.
  void fitToScreen();
  // Places the tab control for the room the scroll area gives it.
  void placeContent();
  // The cable row and the cable entry: the connection and, when one is given, the chain.
  void showConnection();

  MessageBoxHost* boxes_;
  QScrollArea* scroll_;
  QWidget* content_;
  PageTabCtrl* pageTabs_;
  ConnectionBar* bar_ = nullptr;
  QSize layoutSize_;    // the window as its layout draws it
  QSize contentSize_;   // what scrolls in it: the tab control and its margins
  QRect tabsLaidOut_;   // the tab control in that layout
  QRect barLaidOut_;    // the cable row, below the tabs
  QIcon icon_;
  QMenu* menu_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QAction* cableAction_ = nullptr;
  Connection connection_;
  ChainDescription chain_;
  std::shared_ptr<const BoardFile> board_;
  BoardAsker askBoard_;
  CableOpener openCable_;
  ConnectionAsker askConnection_;
  std::unique_ptr<JtagLink> ownPort_;  // after the pages are gone (see the destructor)
  JtagLink* port_;
  bool closing_ = false;
};

}  // namespace zorv::ui
