#include "targets/board_chip.h"

#include <algorithm>
#include <cstring>

namespace zorv {

void BoardChip::linkWiring() {
  wiring.nand.bus.lines = nandLines;
  wiring.nand.bus.directions = nandDirections;
  norBus.data = norData;
  norBus.dataEnables = norEnables;
  norBus.address = norAddress;
  wiring.norBus = hasNor ? &norBus : nullptr;
  wiring.toggle.outputEnables = toggleEnables;
  wiring.toggle.toggled = toggled;
  wiring.toggle.chipSelects = toggleChipSelects;
  wiring.toggle.heldHigh = toggleHeldHigh;
}

char* BoardChip::image() const {
  if (image_.empty()) {
    // As large as a product's buffer at least: the flash code may build frames of that size in it.
    image_.assign(static_cast<size_t>(std::max(bsrLength, kImageCapacity)) + 1, '\0');
    std::memcpy(image_.data(), resetTemplate.data(), resetTemplate.size());
  }
  return image_.data();
}

namespace {

void copyTerminated(char* dest, const std::string& text, size_t length) {
  std::memcpy(dest, text.data(), std::min(length, text.size()));
  dest[std::min(length, text.size())] = '\0';
}

}  // namespace

const NorAbilities& norAbilitiesOf(int product, const BoardChip* board) {
  return board != nullptr ? board->nor : norAbilities(product);
}

char* loadBoardChip(JtagCable& cable, const BoardChip& chip, char* productName) {
  const auto irLength = static_cast<size_t>(chip.instructionLength);
  cable.instructionLength = chip.instructionLength;
  copyTerminated(cable.idInstruction, chip.idInstruction, irLength);
  copyTerminated(cable.extestInstruction, chip.extestInstruction, irLength);
  copyTerminated(cable.sampleInstruction, chip.sampleInstruction, irLength);
  copyTerminated(cable.idCode, chip.idCode, 32);
  cable.idMask = chip.idMask;
  cable.bsrLength = chip.bsrLength;
  cable.idCodeShared = chip.idCodeShared;
  cable.designWarning.clear();
  for (const std::string& warning : chip.designWarnings) cable.designWarning += (cable.designWarning.empty() ? "" : " ") + warning;
  char* image = chip.image();
  cable.preloadImage = chip.sampleInstruction.empty() ? nullptr : image;
  copyTerminated(productName, chip.name, 7);
  return image;
}

}  // namespace zorv
