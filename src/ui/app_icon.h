#pragma once

#include <QIcon>
#include <QImage>

namespace zorv::ui {

// The application's icon: a chip with its pins, drawn in the sizes the desktop asks for.
QIcon appIcon();

// The same chip as one square image of size pixels.
QImage appIconImage(int size);

}  // namespace zorv::ui
