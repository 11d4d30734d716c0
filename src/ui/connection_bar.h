#pragma once

#include <QWidget>

#include "ui/connection.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zorv::ui {

// The text of the button that changes the cable, as the window's boxes name it.
inline constexpr const char* kChangeCableButton = "Change...";
// The button that chooses the board file, and the entries of its menu.
inline constexpr const char* kBoardButton = "Board...";
inline constexpr const char* kBoardFileEntry = "Board file...";
inline constexpr const char* kNoBoardEntry = "No board";

// The row below the tabs that shows the cable the jobs use, whatever tab is shown, with the button
// that opens the cable dialog, and beside it the board file the jobs take with the button whose
// menu chooses another or none.
class ConnectionBar : public QWidget {
  Q_OBJECT

 public:
  explicit ConnectionBar(QWidget* parent);

  // chain: what follows the connection when a chain is given (", chain 8,target").
  void showConnection(const Connection& connection, const QString& chain = {});
  QString shownText() const;
  QPushButton* changeButton() const { return change_; }
  // name: the board file's name, empty for none; path: where it is (its tooltip).
  void showBoard(const QString& name, const QString& path);
  // The board as shown, before a long name is elided to leave the cable its room.
  QString shownBoard() const { return boardText_; }
  QPushButton* boardButton() const { return boardButton_; }
  QAction* boardFileAction() const { return boardFile_; }
  QAction* noBoardAction() const { return noBoard_; }

 signals:
  void changeAsked();
  void boardFileAsked();
  void noBoardAsked();

 private:
  QLineEdit* shown_;
  QPushButton* change_;
  QLabel* board_;
  QString boardText_;  // as shown before eliding
  QPushButton* boardButton_;
  QAction* boardFile_;
  QAction* noBoard_;
};

}  // namespace zorv::ui
