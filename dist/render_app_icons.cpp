// Writes the application icon as DIR/hicolor/NxN/apps/NAME.png at the sizes desktops look for.
#include <QDir>
#include <QString>
#include <cstdio>

#include "ui/app_icon.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DIR NAME\n", argv[0]);
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString directory = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
    const QString file = directory + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!QDir().mkpath(directory) || !zorv::ui::appIconImage(size).save(file)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
