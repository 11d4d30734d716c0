#pragma once

namespace zorv {

// Where the target sits on its JTAG chain, as bits of the other devices' registers around its own.
// "Before" bits are shifted before the target's (they belong to the devices between the target and
// TDO, whose captured bits also come out first); "after" bits are shifted last (the devices between
// TDI and the target). Instruction scans fill the others' instruction registers with ones (BYPASS);
// data scans give each bypassed device its one bit. All zero: the target alone on the cable.
struct ChainPadding {
  int irBefore = 0;
  int irAfter = 0;
  int drBefore = 0;
  int drAfter = 0;
};

}  // namespace zorv
