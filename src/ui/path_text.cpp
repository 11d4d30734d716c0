#include "ui/path_text.h"

namespace zorv::ui {

QString shortenPath(const QString& path, QChar separator) {
  const qsizetype first = path.indexOf(separator);
  if (first < 0) return path;
  const qsizetype last = path.lastIndexOf(separator);
  QString shown = path.left(first + 1);
  shown += QStringLiteral("...");
  if (last > first) shown += path.mid(last);
  else shown += path.mid(first + 1);
  return shown;
}

}  // namespace zorv::ui
