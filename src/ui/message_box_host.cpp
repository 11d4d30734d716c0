#include "ui/message_box_host.h"

#include <QMessageBox>
#include <algorithm>

namespace zorv::ui {

MessageBoxHost::MessageBoxHost(QWidget* owner) : QObject(owner), owner_(owner) {}

void MessageBoxHost::show(const QString& text, const QString& detail, Kind kind) {
  emit shown(text);
  if (closing_) return;
  QMessageBox box(kind == Success ? QMessageBox::Information : QMessageBox::Warning,
                  QString::fromUtf8(kApplicationName), text, QMessageBox::Ok, owner_);
  box.setWindowModality(Qt::ApplicationModal);
  if (!detail.isEmpty()) box.setInformativeText(detail);
  open_.push_back(&box);
  if (onShown) onShown(box);
  box.exec();
  open_.erase(std::remove(open_.begin(), open_.end(), QPointer<QMessageBox>(&box)), open_.end());
}

bool MessageBoxHost::ask(const QString& text) {
  emit shown(text);
  if (closing_) return false;
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(kApplicationName), text,
                  QMessageBox::Yes | QMessageBox::No, owner_);
  box.setDefaultButton(QMessageBox::No);
  box.setWindowModality(Qt::ApplicationModal);
  open_.push_back(&box);
  if (onShown) onShown(box);
  box.exec();
  open_.erase(std::remove(open_.begin(), open_.end(), QPointer<QMessageBox>(&box)), open_.end());
  // Closed any other way (Escape, the window closing) it is a No.
  return box.clickedButton() == box.button(QMessageBox::Yes);
}

void MessageBoxHost::closeOpenBoxes() {
  for (const auto& box : open_) {
    if (box) box->done(QMessageBox::Ok);
  }
}

}  // namespace zorv::ui
