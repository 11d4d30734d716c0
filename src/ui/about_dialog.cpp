#include "ui/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "ui/app_icon.h"
#include "ui/dialog_units.h"

namespace zorv::ui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("ZORV Parallel JTAG 정보"));
  setFont(aboutFont());
  const DialogUnits units(font());
  setFixedSize(units.x(235), units.y(55));

  auto* icon = new QLabel(this);
  const QRect iconRect = units.rect(11, 17, 20, 20);
  icon->setPixmap(appIcon().pixmap(iconRect.size()));
  icon->setGeometry(iconRect);

  auto* name = new QLabel(QStringLiteral("ZORV Parallel JTAG 버전 1.0"), this);
  name->setGeometry(units.rect(40, 10, 119, 8));
  auto* second = new QLabel(QStringLiteral("JTAG 경계 주사 플래시 기록기"), this);
  second->setObjectName(QStringLiteral("aboutSecondLine"));
  second->setGeometry(units.rect(40, 25, 119, 8));

  auto* ok = new QPushButton(QStringLiteral("확인"), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setGeometry(units.rect(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace zorv::ui
