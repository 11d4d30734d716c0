#pragma once

#include <cstdint>

#include "targets/target_product.h"

namespace zorv::sim {

// The chips as a probe sees them. Instruction values have bit i = the i-th bit shifted in.
// No register of instructionLength bits holds it.
inline constexpr uint32_t kNoInstruction = 0xFFFFFFFFu;

struct SimChip {
  const char* name;
  uint32_t idcodeInstruction;
  uint32_t idcode;
  int boundaryLength;
  bool hasDebugAccess;  // VESKAR's debug-access register, instruction kDebugInstruction
  int instructionLength = 4;
  uint32_t extestInstruction = 0x0;
  // SAMPLE/PRELOAD: the boundary register without the pins; none where equal to bypass.
  uint32_t preloadInstruction = kNoInstruction;
};

inline constexpr uint32_t kExtestInstruction = 0x0;
inline constexpr uint32_t kBypassInstruction = 0xF;
inline constexpr uint32_t kDebugInstruction = 0x9;

const SimChip& simChip(TargetProduct product);

}  // namespace zorv::sim
