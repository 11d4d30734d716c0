#include "ui/app_icon.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace zorv::ui {

// Drawn into an image rather than a pixmap so the build can render the installed icon files
// without a display.
QImage appIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const double unit = size / 16.0;
  // Pins on all four sides.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0xB0, 0xB0, 0xB0));
  for (int i = 0; i < 4; ++i) {
    const double at = (3.5 + 3.0 * i) * unit;
    painter.drawRect(QRectF(at - 0.5 * unit, 0.5 * unit, unit, 2 * unit));
    painter.drawRect(QRectF(at - 0.5 * unit, 13.5 * unit, unit, 2 * unit));
    painter.drawRect(QRectF(0.5 * unit, at - 0.5 * unit, 2 * unit, unit));
    painter.drawRect(QRectF(13.5 * unit, at - 0.5 * unit, 2 * unit, unit));
  }
  // The package.
  painter.setBrush(QColor(0x20, 0x30, 0x48));
  painter.drawRoundedRect(QRectF(2.5 * unit, 2.5 * unit, 11 * unit, 11 * unit), unit, unit);
  // A lightning stroke: the chip being written.
  painter.setBrush(QColor(0xF0, 0xC0, 0x30));
  const QPointF bolt[] = {{9 * unit, 4 * unit},  {5.5 * unit, 8.5 * unit}, {7.8 * unit, 8.5 * unit},
                          {7 * unit, 12 * unit}, {10.5 * unit, 7.5 * unit}, {8.2 * unit, 7.5 * unit}};
  painter.drawPolygon(bolt, 6);
  painter.end();
  return image;
}

QIcon appIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
  return icon;
}

}  // namespace zorv::ui
