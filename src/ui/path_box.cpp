#include "ui/path_box.h"

#include <QDir>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionFrame>

#include "page/path_text.h"

namespace zorv::ui {

PathBox::PathBox(QWidget* parent) : QLineEdit(parent) {
  // The chooser is the only way to set it: a typed path would never be the one used.
  setReadOnly(true);
}

void PathBox::setPath(const QString& path) {
  path_ = path;
  setToolTip(path_);
  showFitted();
}

void PathBox::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  showFitted();
}

void PathBox::showFitted() {
  if (path_.isEmpty()) {
    clear();
    return;
  }
  QStyleOptionFrame option;
  initStyleOption(&option);
  // The text's room: the contents less the box's own margins on either side and the cursor.
  constexpr int kTextMargins = 2 * 2 + 1;
  const QMargins margins = textMargins();
  const int room = style()->subElementRect(QStyle::SE_LineEditContents, &option, this).width() - kTextMargins -
                   margins.left() - margins.right();
  const QFontMetrics metrics(font());
  if (metrics.horizontalAdvance(path_) <= room) {
    setText(path_);
  } else {
    const QString shortened = QString::fromStdString(
        shortenImagePath(path_.toStdString(), static_cast<char>(QDir::separator().toLatin1())));
    setText(metrics.elidedText(shortened, Qt::ElideMiddle, room));
  }
  setCursorPosition(0);
}

}  // namespace zorv::ui
