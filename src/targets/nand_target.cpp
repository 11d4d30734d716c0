#include "targets/nand_target.h"

#include "cable/bit_string.h"
#include "targets/board_chip.h"
#include "targets/catalogue.h"

namespace zorv {

void WiredNandTarget::init(JtagCable& cable, char* productName, NandPins& pins, char*& image) {
  image = chip_ != nullptr ? loadBoardChip(cable, *chip_, productName)
                           : loadChip(cable, wiring_.product, productName, ChipVariant::Boundary);
  pins = wiring_.nand.pins;
}

void WiredNandTarget::setBusDirection(char* image, int mode) const {
  const NandDataBus& bus = wiring_.nand.bus;
  const char level = mode == kBusInput ? bus.inputLevel : bus.outputLevel;
  for (int n = 0; n < 8; ++n) image[bus.directionCell(n)] = level;
}

void WiredNandTarget::putDataByte(char* image, uint8_t value) const {
  const NandDataBus& bus = wiring_.nand.bus;
  for (int n = 0; n < 8; ++n) image[bus.dataCell(n)] = bitChar((value >> n) & 1);
}

uint8_t WiredNandTarget::getDataByte(const char* captured) const {
  const NandDataBus& bus = wiring_.nand.bus;
  unsigned value = 0;
  for (int n = 0; n < 8; ++n)
    if (captured[bus.dataCell(n)] == '1') value |= 1u << n;
  return static_cast<uint8_t>(value);
}

std::unique_ptr<NandTarget> makeNandTarget(const BoardChip& chip) {
  return chip.hasNand ? std::make_unique<WiredNandTarget>(chip.wiring, &chip) : nullptr;
}

}  // namespace zorv
