#include "targets/toggle_target.h"

#include <span>

#include "targets/board_chip.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

void writeCells(char* image, std::span<const CellRange> ranges, char level) {
  for (const CellRange& range : ranges) {
    for (int k = 0; k < cellCount(range); ++k) image[range.first + k * range.step] = level;
  }
}

}  // namespace

void WiredToggleTarget::init(JtagCable& cable, char* productName, char*& image) {
  image = chip_ != nullptr ? loadBoardChip(cable, *chip_, productName)
                           : loadChip(cable, wiring_.product, productName, ChipVariant::Boundary);
}

void WiredToggleTarget::prepareOutputs(JtagCable&, char* image) {
  writeCells(image, wiring_.toggle.outputEnables, wiring_.toggle.enableLevel);
}

void WiredToggleTarget::driveHigh(JtagCable& cable, char* image) {
  writeCells(image, wiring_.toggle.toggled, '1');
  cable.shiftDr(image, cable.bsrLength);
}

void WiredToggleTarget::driveLow(JtagCable& cable, char* image, int toggleCs) {
  writeCells(image, wiring_.toggle.toggled, '0');
  writeCells(image, wiring_.toggle.chipSelects, toggleCs != 0 ? '0' : '1');
  writeCells(image, wiring_.toggle.heldHigh, '1');
  cable.shiftDr(image, cable.bsrLength);
}

std::unique_ptr<ToggleTarget> makeToggleTarget(const BoardChip& chip) {
  return chip.toggleable ? std::make_unique<WiredToggleTarget>(chip.wiring, &chip) : nullptr;
}

}  // namespace zorv
