#include "bsdl/bsdl_device.h"

#include "bsdl/bsdl_lexer.h"
#include "text/upper_case.h"

namespace zorv {

const char* cellFunctionName(CellFunction function) {
  switch (function) {
    case CellFunction::Input:
      return "INPUT";
    case CellFunction::Output2:
      return "OUTPUT2";
    case CellFunction::Output3:
      return "OUTPUT3";
    case CellFunction::Control:
      return "CONTROL";
    case CellFunction::Controlr:
      return "CONTROLR";
    case CellFunction::Bidir:
      return "BIDIR";
    case CellFunction::Internal:
      return "INTERNAL";
    case CellFunction::Clock:
      return "CLOCK";
    case CellFunction::ObserveOnly:
      return "OBSERVE_ONLY";
  }
  return "INTERNAL";
}

const BsdlInstruction* BsdlDevice::instruction(std::string_view name) const {
  for (const auto& entry : instructions) {
    if (bsdl::sameName(entry.name, name)) return &entry;
  }
  return nullptr;
}

std::vector<const BoundaryCell*> BsdlDevice::cellsOfPort(std::string_view port) const {
  std::vector<const BoundaryCell*> found;
  for (const auto& cell : cells) {
    if (bsdl::sameName(cell.port, port)) found.push_back(&cell);
  }
  return found;
}

const BsdlPort* BsdlDevice::port(std::string_view name) const {
  for (const auto& entry : ports) {
    if (bsdl::sameName(entry.name, name)) return &entry;
  }
  return nullptr;
}

PortCells BsdlDevice::portCells(std::string_view port) const {
  PortCells found;
  for (const BoundaryCell* cell : cellsOfPort(port)) {
    const CellFunction f = cell->function;
    if (f == CellFunction::Input || f == CellFunction::Bidir || f == CellFunction::Clock || f == CellFunction::ObserveOnly) {
      found.input = cell;
    }
    if (f == CellFunction::Output2 || f == CellFunction::Output3 || f == CellFunction::Bidir) found.output = cell;
  }
  if (found.output != nullptr && found.output->controlCell >= 0) {
    for (const auto& cell : cells) {
      if (cell.number != found.output->controlCell) continue;
      // An open-collector output is its own control.
      if (cell.function == CellFunction::Control || cell.function == CellFunction::Controlr || &cell == found.output) {
        found.control = &cell;
      }
    }
  }
  return found;
}

}  // namespace zorv
