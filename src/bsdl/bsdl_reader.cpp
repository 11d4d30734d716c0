#include <algorithm>

#include "bsdl/bsdl_device.h"

namespace zorv {

const BsdlInstruction* BsdlDevice::instruction(std::string_view name) const {
  for (const auto& entry : instructions) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

std::vector<const BoundaryCell*> BsdlDevice::cellsOfPort(std::string_view port) const {
  std::vector<const BoundaryCell*> found;
  for (const auto& cell : cells) {
    if (cell.port == port) found.push_back(&cell);
  }
  return found;
}

BsdlDevice parseBsdl(std::string_view, const std::string& fileName) {
  throw BsdlError(fileName, 1, "BSDL files cannot be read yet");
}

BsdlDevice readBsdlFile(const std::string& path) { return parseBsdl({}, path); }

}  // namespace zorv
