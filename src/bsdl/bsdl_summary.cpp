#include "bsdl/bsdl_summary.h"

#include <algorithm>
#include <stdexcept>

#include "text/format.h"
#include "text/upper_case.h"

namespace zorv {
namespace {

std::string opcodesText(const BsdlDevice& device, const char* name) {
  const BsdlInstruction* instruction = device.instruction(name);
  if (instruction == nullptr) return "none";
  std::string text;
  for (const std::string& opcode : instruction->opcodes) {
    if (!text.empty()) text += ", ";
    text += opcode;
  }
  return text;
}

std::string cellText(const BoundaryCell* cell) {
  if (cell == nullptr) return "none";
  return format("cell %d (%s, %s)", cell->number, cell->cellType.c_str(), cellFunctionName(cell->function));
}

}  // namespace

std::string bsdlSummary(const BsdlDevice& device) {
  std::string text = format("Entity:              %s\n", device.entity.c_str());
  text += format("Instruction length:  %d\n", device.instructionLength);
  text += "Opcodes, as written (the rightmost bit is shifted first):\n";
  for (const char* name : {"BYPASS", "IDCODE", "EXTEST", "SAMPLE", "PRELOAD"}) {
    text += format("  %-8s %s\n", name, opcodesText(device, name).c_str());
  }
  if (device.idcode) {
    text += format("IDCODE:              0x%08X, mask 0x%08X\n", device.idcode->value, device.idcode->mask);
  } else {
    text += "IDCODE:              none\n";
  }
  text += format("Boundary length:     %d\n", device.boundaryLength);
  const int entries = static_cast<int>(device.cells.size());
  text += format("Cell entries:        %d", entries);
  if (entries > device.boundaryLength) text += format(" (%d merged cells listed twice)", entries - device.boundaryLength);
  text += "\n";
  if (device.designWarnings.empty()) text += "Design warnings:     none\n";
  for (const std::string& warning : device.designWarnings) text += "Design warning:\n  " + warning + "\n";
  return text;
}

std::string portSummary(const BsdlDevice& device, std::string_view port) {
  std::string name = upperCase(std::string(port));
  const size_t open = name.find('(');
  const std::string base = name.substr(0, open);
  const BsdlPort* declared = device.port(base);
  if (declared == nullptr) throw std::invalid_argument(format("the entity %s has no port %s", device.entity.c_str(), base.c_str()));
  const std::string range = format("%d %s %d", declared->first, declared->first <= declared->last ? "to" : "downto", declared->last);
  if (!declared->isVector) {
    if (open != std::string::npos) throw std::invalid_argument(format("%s is a bit, named without an index", base.c_str()));
  } else {
    if (open == std::string::npos) {
      throw std::invalid_argument(
          format("%s is a bit_vector(%s): name one bit, as %s(%d)", base.c_str(), range.c_str(), base.c_str(), declared->first));
    }
    const std::string index = name.substr(open + 1, name.size() - open - 2);
    const bool digits = !index.empty() && index.size() < 10 && name.back() == ')' &&
                        std::all_of(index.begin(), index.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int bit = digits ? std::stoi(index) : -1;
    if (bit < std::min(declared->first, declared->last) || bit > std::max(declared->first, declared->last)) {
      throw std::invalid_argument(format("%s is not a bit of %s(%s)", name.c_str(), base.c_str(), range.c_str()));
    }
    name = format("%s(%d)", base.c_str(), bit);  // as the cells name it: "D(03)" is D(3)
  }
  const PortCells cells = device.portCells(name);
  std::string text = format("Port %s (%s):\n", name.c_str(), declared->direction.c_str());
  if (!cells.input && !cells.output && device.cellsOfPort(name).empty()) return text + "  no boundary cell\n";
  text += "  input:    " + cellText(cells.input) + "\n";
  text += "  output:   " + cellText(cells.output) + "\n";
  if (cells.control == nullptr) {
    text += "  control:  none\n";
  } else {
    text += format("  control:  cell %d%s, disable value %c (%s)\n", cells.control->number,
                   cells.control == cells.output ? " (the output itself)" : "", cells.output->disableValue,
                   cells.output->disableResult.c_str());
  }
  return text;
}

}  // namespace zorv
