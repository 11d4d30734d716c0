#pragma once

#include <QIcon>

namespace zorv::ui {

// The application's icon: a chip with its pins, drawn in the sizes the desktop asks for.
QIcon appIcon();

}  // namespace zorv::ui
