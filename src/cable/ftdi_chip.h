#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorv {

// What the link must know of an FTDI chip with an MPSSE, found by the bcdDevice of its USB device
// descriptor.
struct FtdiChip {
  uint16_t release;   // bcdDevice, high byte
  std::string_view name;
  int channels;       // USB interfaces, A first
  bool highSpeed;     // 60 MHz MPSSE clock, with the divide-by-5 switch and the other H-series commands
  size_t readWindow;  // answer bytes let wait in the chip's buffer towards the host
};

// The chip with that bcdDevice, or nullptr for a chip without an MPSSE.
const FtdiChip* findFtdiChip(uint16_t bcdDevice);
// Why channel (0 = A) cannot be opened on the chip, or empty when it can.
std::string ftdiChannelProblem(const FtdiChip& chip, int channel);

}  // namespace zorv
