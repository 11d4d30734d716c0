#pragma once

#include <string>
#include <utility>
#include <vector>

#include "bsdl/bsdl_device.h"
#include "bsdl/bsdl_string_scanner.h"

// The grammars of the attribute values the reader takes, each reading one whole value. They throw
// BsdlError at the line of what does not fit.
namespace zorv::bsdl {

// INSTRUCTION_OPCODE: "NAME (bits, bits), NAME (bits)", every pattern instructionLength long.
std::vector<BsdlInstruction> readOpcodeTable(StringScanner& scanner, int instructionLength);
// INSTRUCTION_CAPTURE: one pattern, instructionLength long, ending in the "01" every TAP captures.
std::string readCapturePattern(StringScanner& scanner, int instructionLength);
// IDCODE_REGISTER (whose bit 0 must be 1) and USERCODE_REGISTER: 32 bits, most significant first.
IdcodePattern readCodeRegister(StringScanner& scanner, bool isIdcode);
// REGISTER_ACCESS: "REGISTER[length] (INSTRUCTION, ...), ...".
std::vector<std::pair<std::string, std::vector<std::string>>> readRegisterAccess(StringScanner& scanner);
// A PIN_MAP_STRING constant: "PORT: pin, PORT: (pin, pin), ...".
std::vector<PinMapping> readPinMap(StringScanner& scanner);
// BOUNDARY_REGISTER, checked against the length and the entity's ports: every cell from 0 to
// length - 1 described, a cell listed twice only as a legal merge, control cells that control.
std::vector<BoundaryCell> readBoundaryRegister(StringScanner& scanner, int length, const std::vector<BsdlPort>& ports);

}  // namespace zorv::bsdl
