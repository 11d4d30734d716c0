#pragma once

#include <QChar>
#include <QString>

namespace zorv::ui {

// The path as the image box shows it: everything between the first and the last separator
// replaced by "...", so the drive (or root) and the file name stay readable in a narrow box.
// "/home/me/images/boot.bin" -> "/.../boot.bin"; "/boot.bin" -> "/...boot.bin".
// A text without a separator is shown as it is.
QString shortenPath(const QString& path, QChar separator);

}  // namespace zorv::ui
