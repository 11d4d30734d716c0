#include "targets/nand_target.h"

#include "cable/bit_string.h"
#include "targets/catalogue.h"

namespace zorv {

template <const ProductWiring& wiring>
void WiredNandTarget<wiring>::init(JtagCable& cable, char* productName, NandPins& pins, char*& image) {
  image = loadChip(cable, wiring.product, productName, ChipVariant::Boundary);
  pins = wiring.nand.pins;
}

template <const ProductWiring& wiring>
void WiredNandTarget<wiring>::setBusDirection(char* image, int mode) const {
  const NandDataBus& bus = wiring.nand.bus;
  const char level = mode == kBusInput ? bus.inputLevel : bus.outputLevel;
  for (int n = 0; n < 8; ++n) image[bus.io0 + n * bus.step + 1] = level;
}

template <const ProductWiring& wiring>
void WiredNandTarget<wiring>::putDataByte(char* image, uint8_t value) const {
  const NandDataBus& bus = wiring.nand.bus;
  for (int n = 0; n < 8; ++n) image[bus.io0 + n * bus.step] = bitChar((value >> n) & 1);
}

template <const ProductWiring& wiring>
uint8_t WiredNandTarget<wiring>::getDataByte(const char* captured) const {
  const NandDataBus& bus = wiring.nand.bus;
  unsigned value = 0;
  for (int n = 0; n < 8; ++n)
    if (captured[bus.io0 + n * bus.step] == '1') value |= 1u << n;
  return static_cast<uint8_t>(value);
}

template class WiredNandTarget<kObrinWiring>;
template class WiredNandTarget<kTqr2400Wiring>;
template class WiredNandTarget<kIkaWiring>;
template class WiredNandTarget<kVeskarWiring>;

}  // namespace zorv
