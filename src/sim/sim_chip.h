#pragma once

#include <cstdint>

#include "targets/target_product.h"

namespace zorv::sim {

// The chips as a probe sees them. Instruction values have bit i = the i-th bit shifted in.
struct SimChip {
  const char* name;
  uint8_t idcodeInstruction;
  uint32_t idcode;
  int boundaryLength;
  bool hasDebugAccess;  // VESKAR's debug-access register, instruction kDebugInstruction
};

inline constexpr uint8_t kExtestInstruction = 0x0;
inline constexpr uint8_t kBypassInstruction = 0xF;
inline constexpr uint8_t kDebugInstruction = 0x9;

const SimChip& simChip(TargetProduct product);

}  // namespace zorv::sim
