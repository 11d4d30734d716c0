#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

class QMessageBox;
class QWidget;

namespace zorv::ui {

inline constexpr const char* kApplicationName = "ZORV Parallel JTAG";

// Shows the message boxes of the pages and their jobs, modal to the main window, with an OK
// button only. While the window is closing nobody is left to read a box, so boxes are answered
// at once and the jobs can run to their end.
class MessageBoxHost : public QObject {
  Q_OBJECT

 public:
  explicit MessageBoxHost(QWidget* owner);

  // What a box tells of: a failure (or a refusal) carries the warning sign, a success the
  // information sign.
  enum Kind { Failure, Success };
  // UI thread. Returns when the box has been closed. A detail, when given, shows below the text.
  void show(const QString& text, const QString& detail = {}, Kind kind = Failure);
  // UI thread. A question with Yes and No; true only for Yes (never while the window closes).
  bool ask(const QString& text);

  void setClosing(bool closing) { closing_ = closing; }
  bool closing() const { return closing_; }
  // Closes the boxes that are open now, as if OK had been pressed.
  void closeOpenBoxes();

  // Called with every box just before it opens (tests answer boxes here).
  std::function<void(QMessageBox&)> onShown;

 signals:
  void shown(const QString& text);

 private:
  QWidget* owner_;
  bool closing_ = false;
  std::vector<QPointer<QMessageBox>> open_;
};

}  // namespace zorv::ui
