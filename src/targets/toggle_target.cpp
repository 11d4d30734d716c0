#include "targets/toggle_target.h"

#include <span>

#include "targets/catalogue.h"

namespace zorv {
namespace {

void writeCells(char* image, std::span<const CellRange> ranges, char level) {
  for (const CellRange& range : ranges) {
    for (int k = 0; k < cellCount(range); ++k) image[range.first + k * range.step] = level;
  }
}

}  // namespace

template <const ProductWiring& wiring>
void WiredToggleTarget<wiring>::init(JtagCable& cable, char* productName, char*& image) {
  image = loadChip(cable, wiring.product, productName, ChipVariant::Boundary);
}

template <const ProductWiring& wiring>
void WiredToggleTarget<wiring>::prepareOutputs(JtagCable&, char* image) {
  writeCells(image, wiring.toggle.outputEnables, wiring.toggle.enableLevel);
}

template <const ProductWiring& wiring>
void WiredToggleTarget<wiring>::driveHigh(JtagCable& cable, char* image) {
  writeCells(image, wiring.toggle.toggled, '1');
  cable.shiftDr(image, cable.bsrLength);
}

template <const ProductWiring& wiring>
void WiredToggleTarget<wiring>::driveLow(JtagCable& cable, char* image, int toggleCs) {
  writeCells(image, wiring.toggle.toggled, '0');
  writeCells(image, wiring.toggle.chipSelects, toggleCs != 0 ? '0' : '1');
  writeCells(image, wiring.toggle.heldHigh, '1');
  cable.shiftDr(image, cable.bsrLength);
}

template class WiredToggleTarget<kObrinWiring>;
template class WiredToggleTarget<kTqr2400Wiring>;
template class WiredToggleTarget<kIkaWiring>;
template class WiredToggleTarget<kVeskarWiring>;

}  // namespace zorv
