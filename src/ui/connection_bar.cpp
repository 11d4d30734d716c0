#include "ui/connection_bar.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace zorv::ui {

ConnectionBar::ConnectionBar(QWidget* parent)
    : QWidget(parent), shown_(new QLineEdit(this)),
      change_(new QPushButton(QString::fromUtf8(kChangeCableButton), this)),
      board_(new QLabel(this)),
      boardButton_(new QPushButton(QString::fromUtf8(kBoardButton), this)) {
  auto* label = new QLabel(QStringLiteral("Cable:"), this);
  label->setBuddy(change_);
  // It can be selected and copied, but it is not a stop of its own for Tab: the button is.
  shown_->setReadOnly(true);
  shown_->setFocusPolicy(Qt::ClickFocus);
  change_->setAutoDefault(true);  // Enter on it presses it, as Space does
  change_->setEnabled(false);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(label);
  row->addWidget(shown_, 1);
  row->addWidget(change_);
  row->addWidget(board_);
  row->addWidget(boardButton_);
  connect(change_, &QPushButton::clicked, this, &ConnectionBar::changeAsked);
  auto* menu = new QMenu(boardButton_);
  boardFile_ = menu->addAction(QString::fromUtf8(kBoardFileEntry));
  noBoard_ = menu->addAction(QString::fromUtf8(kNoBoardEntry));
  boardButton_->setMenu(menu);
  boardButton_->setAutoDefault(true);
  connect(boardFile_, &QAction::triggered, this, &ConnectionBar::boardFileAsked);
  connect(noBoard_, &QAction::triggered, this, &ConnectionBar::noBoardAsked);
  showBoard({}, {});
}

void ConnectionBar::showConnection(const Connection& connection, const QString& chain) {
  shown_->setText(connection.shownText() + chain);
  shown_->setCursorPosition(0);
  shown_->setToolTip(connection.shownText() + chain);
  change_->setEnabled(true);
}

QString ConnectionBar::shownText() const { return shown_->text(); }

void ConnectionBar::showBoard(const QString& name, const QString& path) {
  boardText_ = QStringLiteral("Board: ") + (name.isEmpty() ? QStringLiteral("none") : name);
  const QFontMetrics metrics = board_->fontMetrics();
  board_->setText(metrics.elidedText(boardText_, Qt::ElideMiddle, 18 * metrics.averageCharWidth()));
  board_->setToolTip(path);
  noBoard_->setEnabled(!name.isEmpty());
}

}  // namespace zorv::ui
