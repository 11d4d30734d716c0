#include "cable/ftdi_layout.h"

namespace zorv {
namespace {

// Every layout starts TMS high and TCK, TDI low with ADBUS0, 1 and 3 as outputs. The pin facts
// come from each adapter's documentation (as collected in OpenOCD's interface/ftdi/*.cfg files).
constexpr FtdiLayout kLayouts[] = {
    {"ft2232h", "generic FT2232H or FT232H board: ADBUS0 TCK, ADBUS1 TDI, ADBUS2 TDO, ADBUS3 TMS; no nTRST",
     {{0x0403, 0x6010}, {0x0403, 0x6014}}, 2, 0, 0x0008, 0x000B, {}, {}},
    {"minimodule", "FTDI FT2232H Mini-Module (channel A); nSRST on ADBUS5",
     {{0x0403, 0x6010}}, 1, 0, 0x0008, 0x000B, {}, {0x0020, false, 0x0020, false}},
    {"olimex-arm-usb-ocd", "Olimex ARM-USB-OCD (FT2232D, TCK at most 6 MHz)",
     {{0x15BA, 0x0003}}, 1, 0, 0x0C08, 0x0F1B, {0x0100, false, 0x0400, true}, {0, false, 0x0200, false}},
    {"olimex-arm-usb-ocd-h", "Olimex ARM-USB-OCD-H",
     {{0x15BA, 0x002B}}, 1, 0, 0x0908, 0x0B1B, {0x0100, false, 0, false}, {0, false, 0x0200, false}},
    {"digilent-hs2", "Digilent JTAG-HS2 (FT232H); no nTRST",
     {{0x0403, 0x6014}}, 1, 0, 0x00E8, 0x60EB, {}, {}},
    {"tigard", "Tigard (FT2232H channel B); nTRST on BDBUS4, nSRST on BDBUS5",
     {{0x0403, 0x6010}}, 1, 1, 0x0038, 0x003B, {0x0010, false, 0, false}, {0x0020, false, 0, false}},
};

}  // namespace

std::span<const FtdiLayout> ftdiLayouts() { return kLayouts; }

const FtdiLayout* findFtdiLayout(std::string_view name) {
  for (const FtdiLayout& layout : kLayouts) {
    if (layout.name == name) return &layout;
  }
  return nullptr;
}

void assertTrst(const FtdiLayout& layout, uint16_t& value, uint16_t& direction) {
  const FtdiSignal& s = layout.trst;
  if (s.data != 0) value = static_cast<uint16_t>(s.dataInverted ? value | s.data : value & ~s.data);
  if (s.enable == 0) return;
  if (s.enable == s.data) {
    direction |= s.enable;
  } else {
    value = static_cast<uint16_t>(s.enableInverted ? value & ~s.enable : value | s.enable);
  }
}

}  // namespace zorv
