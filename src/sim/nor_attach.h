#pragma once

#include "sim/board.h"
#include "sim/nor_bus.h"
#include "sim/veskar_debug.h"

namespace zorv::sim {

// What attachNorDevice put on the board: the bank on the boundary cells (OBRIN, TQR2400, IKA) or
// the debug-access register with its flash (VESKAR); both null for nor=none.
struct AttachedNor {
  NorBank* bank = nullptr;
  VeskarDebugRegister* debug = nullptr;
  // The flash as the job's bus sees it, whichever way it is attached.
  uint8_t busByte(uint32_t offset) const;
  void setBusByte(uint32_t offset, uint8_t value);
  uint32_t sizeBytes() const;
  std::vector<std::pair<uint32_t, uint32_t>> erasedRanges() const;
  // Program operations of the first device (both devices of an interleaved pair see the same).
  uint64_t programOperations() const;
};

// Takes the NOR keys out of options.deviceOptions and attaches what they describe; throws
// std::invalid_argument on a bad value.
AttachedNor attachNorDevice(Board& board, BoardOptions& options);

}  // namespace zorv::sim
