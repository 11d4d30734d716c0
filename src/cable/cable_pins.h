#pragma once

#include <cstdint>

namespace zorv {

// The cable's wires on the parallel port: bits of the data port (kLptDataPort) that drive the
// TAP, and the status port (kLptStatusPort) bit that carries TDO.
inline constexpr uint8_t kTdiBit = 0x01;
inline constexpr uint8_t kTmsBit = 0x02;
inline constexpr uint8_t kTckBit = 0x04;
inline constexpr uint8_t kTrstReleasedBit = 0x08;  // nTRST is active low: a set bit releases it
inline constexpr uint8_t kTdoStatusBit = 0x40;

}  // namespace zorv
