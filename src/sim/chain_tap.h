#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/tap_state.h"

namespace zorv::sim {

// Another device on the board's JTAG chain, as any IEEE 1149.1 TAP shows itself to a probe that
// does not program it: an instruction register of its own length that captures ...01, BYPASS at
// the all-ones opcode, and after Test-Logic-Reset its IDCODE register where it has one (else
// BYPASS). Every other opcode selects the one-bit bypass register here, as unknown opcodes do;
// they are counted, since a probe that meant to bypass the device never loads one (all zeros is
// EXTEST on most devices).
class ChainTap {
 public:
  ChainTap(int instructionLength, std::optional<uint32_t> idcode);

  // Test-Logic-Reset.
  void reset();
  // The rising TCK edge in state, whose work happens as the TAP leaves it; tdi is the level the
  // device upstream presents.
  void risingEdge(TapState state, bool tdi);
  // The state entered on that edge (Update-IR takes the new instruction).
  void entered(TapState state);
  // The falling TCK edge in state: the device presents its next TDO bit.
  void fallingEdge(TapState state);

  bool tdo() const { return tdo_; }
  int instructionLength() const { return length_; }
  const std::optional<uint32_t>& idcode() const { return idcode_; }
  // Instructions loaded other than BYPASS, as bit strings (cell 0 first).
  const std::vector<std::string>& foreignInstructions() const { return foreign_; }

 private:
  enum class Selected : uint8_t { Idcode, Bypass };

  int length_;
  std::optional<uint32_t> idcode_;
  uint64_t irShift_ = 0;
  Selected selected_ = Selected::Bypass;
  uint32_t idShift_ = 0;
  bool bypassBit_ = false;
  bool tdo_ = true;
  std::vector<std::string> foreign_;
};

}  // namespace zorv::sim
