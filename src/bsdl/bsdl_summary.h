#pragma once

#include <string>
#include <string_view>

#include "bsdl/bsdl_device.h"

// What `zorvjtag bsdl` prints about a device file: enough to check it against a data sheet and a
// board before any pin moves.
namespace zorv {

// The entity, the instruction length, the opcodes of BYPASS, IDCODE, EXTEST, SAMPLE and PRELOAD as
// written, the IDCODE and its mask, the boundary length, the cell entries and the design warnings.
std::string bsdlSummary(const BsdlDevice& device);

// One port bit's input, output and control cells and the disable value ("D(3)", "NCE"; any case).
// Throws std::invalid_argument for a port the entity does not have, or a bit_vector named without
// its bit.
std::string portSummary(const BsdlDevice& device, std::string_view port);

}  // namespace zorv
