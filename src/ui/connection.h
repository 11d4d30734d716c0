#pragma once

#include <QString>

namespace zorv::ui {

// What the window drives the board through: the cable, as --cable names it, and the TCK rate asked
// of a cable that has one (as --tck takes it; empty for the cable's own). The JTAG chain and the
// board belong here too, once they can be chosen: the cable row shows them beside the cable, and
// the cable dialog has a place for them below the TCK rate.
struct Connection {
  QString cable;
  QString tck;

  bool operator==(const Connection&) const = default;
  // As the window shows it: "xvc:127.0.0.1:2542, TCK 1M".
  QString shownText() const { return tck.isEmpty() ? cable : cable + QStringLiteral(", TCK ") + tck; }
};

}  // namespace zorv::ui
