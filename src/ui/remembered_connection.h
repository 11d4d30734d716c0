#pragma once

#include <QSettings>

#include "ui/connection.h"

namespace zorv::ui {

// The connection the window remembers for its next start (~/.config/zorvjtag/zorvjtag-gui.conf):
// the cable, and its TCK rate only where the cable has one and the rate reads as one. The cable is
// empty when none is remembered.
Connection rememberedConnection(const QSettings& settings);
void rememberConnection(QSettings& settings, const Connection& connection);

}  // namespace zorv::ui
