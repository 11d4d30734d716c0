#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "chain/chain_description.h"
#include "link/jtag_cable.h"

namespace zorv {

// What answers on the cable, found without any description of it.
struct FoundChain {
  // Set when the cable's answers cannot come from a chain ("TDO stays high: no device answers");
  // nothing else is then known.
  std::string cableFault;
  // The instruction registers' captured bits, TDO first; their count is the total length.
  std::string instructionCapture;
  // The devices, nearest TDO first: the IDCODE each answers after Test-Logic-Reset, none for a
  // device in BYPASS.
  std::vector<std::optional<uint32_t>> idcodes;
};

inline constexpr int kMaxChainInstructionBits = 1024;

// Finds the chain as common tools do, with every device's pins left alone (no instruction but
// BYPASS and the reset's is ever loaded): the instruction registers filled with zeros and then
// ones count the total instruction length (and leave every device in BYPASS); the bypass registers
// filled the same way count the devices; after Test-Logic-Reset each device shows its IDCODE (32
// bits, the first a 1) or its bypass bit (a 0). Scans the whole chain whatever the cable's
// padding; ends in Run-Test/Idle with every device as Test-Logic-Reset left it.
FoundChain findChain(JtagCable& cable);

// Why the found chain is not the described one ("3 devices answer, the chain given has 2"); empty
// when it is. targetInstructionLength is the selected product's.
std::string chainMismatch(const FoundChain& found, const ChainDescription& chain, int targetInstructionLength);

}  // namespace zorv
