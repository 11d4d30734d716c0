#pragma once

#include <QWidget>

#include "ui/connection.h"

class QLineEdit;
class QPushButton;

namespace zorv::ui {

// The text of the button that changes the cable, as the window's boxes name it.
inline constexpr const char* kChangeCableButton = "Change...";

// The row below the tabs that shows the cable the jobs use, whatever tab is shown, with the button
// that opens the cable dialog.
class ConnectionBar : public QWidget {
  Q_OBJECT

 public:
  explicit ConnectionBar(QWidget* parent);

  // chain: what follows the connection when a chain is given (", chain 8,target").
  void showConnection(const Connection& connection, const QString& chain = {});
  QString shownText() const;
  QPushButton* changeButton() const { return change_; }

 signals:
  void changeAsked();

 private:
  QLineEdit* shown_;
  QPushButton* change_;
};

}  // namespace zorv::ui
