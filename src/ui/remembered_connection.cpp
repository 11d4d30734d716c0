#include "ui/remembered_connection.h"

#include "cable_choice/cable_port.h"
#include "cable_choice/tck_rate.h"

namespace zorv::ui {
namespace {
const QString kCableKey = QStringLiteral("cable");
const QString kTckKey = QStringLiteral("tck");
}  // namespace

Connection rememberedConnection(const QSettings& settings) {
  Connection remembered{settings.value(kCableKey).toString(), QString()};
  const QString tck = settings.value(kTckKey).toString();
  if (cableSetsTck(remembered.cable.toStdString()) && readTckRate(tck.toStdString())) remembered.tck = tck;
  return remembered;
}

void rememberConnection(QSettings& settings, const Connection& connection) {
  settings.setValue(kCableKey, connection.cable);
  settings.setValue(kTckKey, connection.tck);
}

}  // namespace zorv::ui
