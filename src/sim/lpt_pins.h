#pragma once

#include <cstdint>

namespace zorv::sim {

// The JTAG wires as the board takes them from a parallel-port cable: data port bits, and the
// status port bit that returns TDO. Kept apart from the program's own names for them.
inline constexpr uint8_t kTdi = 0x01;
inline constexpr uint8_t kTms = 0x02;
inline constexpr uint8_t kTck = 0x04;
inline constexpr uint8_t kTrst = 0x08;  // nTRST, active low: set means released
inline constexpr uint8_t kTdo = 0x40;

}  // namespace zorv::sim
