#pragma once

#include <QLineEdit>
#include <QString>

namespace zorv::ui {

// A box that shows a chosen file's path and cannot be typed in: the whole path while it fits, else
// the path with its folders between the first and the last left out ("/.../boot.bin"), and, when
// even that is too wide, with its middle elided. The whole path is always its tool tip. It fits
// the path again whenever its width changes.
class PathBox : public QLineEdit {
  Q_OBJECT

 public:
  explicit PathBox(QWidget* parent);

  void setPath(const QString& path);
  const QString& path() const { return path_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showFitted();

  QString path_;
};

}  // namespace zorv::ui
