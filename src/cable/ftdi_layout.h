#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zorv {

// A reset line an adapter drives through its pins: the data pin, and the pin that enables its
// output buffer (the same pin when the output is switched by the direction register). A line
// with neither is not wired.
struct FtdiSignal {
  uint16_t data = 0;
  bool dataInverted = false;
  uint16_t enable = 0;
  bool enableInverted = false;

  bool wired() const { return data != 0 || enable != 0; }
};

struct UsbId {
  uint16_t vendor;
  uint16_t product;
};

// How one kind of FTDI adapter is wired. TCK, TDI, TDO and TMS are always ADBUS0 to ADBUS3 (the
// MPSSE's own pins); the rest is per adapter: which USB ids it has, which channel carries JTAG,
// the level and direction of all 16 pins at the start (low byte ADBUS, high byte ACBUS), and
// where nTRST and nSRST are. nSRST is only held released: the jobs never reset the system.
struct FtdiLayout {
  std::string_view name;
  std::string_view description;
  UsbId ids[2];
  int idCount;
  int channel;  // 0 = A
  uint16_t initValue;
  uint16_t initDirection;
  FtdiSignal trst;
  FtdiSignal srst;
};

std::span<const FtdiLayout> ftdiLayouts();
// The layout of that name, or nullptr.
const FtdiLayout* findFtdiLayout(std::string_view name);
// The pins with nTRST driven low (asserted).
void assertTrst(const FtdiLayout& layout, uint16_t& value, uint16_t& direction);

}  // namespace zorv
