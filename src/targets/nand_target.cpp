#include "targets/nand_target.h"

#include "targets/catalogue.h"

namespace zorv {
namespace {

// The eight data lines of a product run in steps of two cells, each followed directly by its
// direction cell; products differ in the cell of I/O0, the direction of the run and which
// direction character drives the line.
struct DataBus {
  int io0;             // data cell of I/O0
  int step;            // +2 or -2 from I/On to I/On+1
  char outputLevel;    // direction character that makes the chip drive the line
  char inputLevel;

  void setDirection(char* image, int mode) const {
    const char level = mode == kBusInput ? inputLevel : outputLevel;
    for (int n = 0; n < 8; ++n) image[io0 + n * step + 1] = level;
  }
  void put(char* image, uint8_t value) const {
    for (int n = 0; n < 8; ++n) image[io0 + n * step] = (value >> n) & 1 ? '1' : '0';
  }
  uint8_t get(const char* captured) const {
    unsigned value = 0;
    for (int n = 0; n < 8; ++n)
      if (captured[io0 + n * step] == '1') value |= 1u << n;
    return static_cast<uint8_t>(value);
  }
};

// Where a product's NAND signals sit; the four products differ only in this.
struct NandWiring {
  TargetProduct product;
  NandPins pins;
  DataBus bus;
};

template <const NandWiring& wiring>
class WiredNandTarget final : public NandTarget {
 public:
  void init(JtagCable& cable, char* productName, NandPins& pins, char*& image) override {
    image = loadChip(cable, wiring.product, productName, ChipVariant::Boundary);
    pins = wiring.pins;
  }
  void setBusDirection(char* image, int mode) const override { wiring.bus.setDirection(image, mode); }
  void putDataByte(char* image, uint8_t value) const override { wiring.bus.put(image, value); }
  uint8_t getDataByte(const char* captured) const override { return wiring.bus.get(captured); }
};

//                                      nCE  nWE  nRE  R/B  CLE  ALE    I/O0 step out  in
constexpr NandWiring kObrinWiring{Obrin, {170, 168, 171, 173, 187, 189}, {166, -2, '1', '0'}};
constexpr NandWiring kTqr2400Wiring{Tqr2400, {199, 207, 205, 209, 201, 203}, {211, 2, '0', '1'}};
constexpr NandWiring kIkaWiring{Ika, {101, 105, 103, 95, 97, 99}, {63, 2, '0', '1'}};
constexpr NandWiring kVeskarWiring{Veskar, {36, 42, 34, 32, 38, 40}, {30, -2, '1', '0'}};

using ObrinNandTarget = WiredNandTarget<kObrinWiring>;
using Tqr2400NandTarget = WiredNandTarget<kTqr2400Wiring>;
using IkaNandTarget = WiredNandTarget<kIkaWiring>;
using VeskarNandTarget = WiredNandTarget<kVeskarWiring>;

}  // namespace

std::unique_ptr<NandTarget> makeNandTarget(int product) {
  switch (product) {
    case Obrin: return std::make_unique<ObrinNandTarget>();
    case Tqr2400: return std::make_unique<Tqr2400NandTarget>();
    case Ika: return std::make_unique<IkaNandTarget>();
    case Veskar: return std::make_unique<VeskarNandTarget>();
    default: return nullptr;
  }
}

}  // namespace zorv
