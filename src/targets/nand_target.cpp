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

class ObrinNandTarget final : public NandTarget {
 public:
  void init(JtagCable& cable, char* productName, NandPins& pins, char*& image) override {
    image = loadChip(cable, Obrin, productName, ChipVariant::Boundary);
    pins = {170, 168, 171, 173, 187, 189};
  }
  void setBusDirection(char* image, int mode) const override { kBus.setDirection(image, mode); }
  void putDataByte(char* image, uint8_t value) const override { kBus.put(image, value); }
  uint8_t getDataByte(const char* captured) const override { return kBus.get(captured); }

 private:
  static constexpr DataBus kBus{166, -2, '1', '0'};
};

class Tqr2400NandTarget final : public NandTarget {
 public:
  void init(JtagCable& cable, char* productName, NandPins& pins, char*& image) override {
    image = loadChip(cable, Tqr2400, productName, ChipVariant::Boundary);
    pins = {199, 207, 205, 209, 201, 203};
  }
  void setBusDirection(char* image, int mode) const override { kBus.setDirection(image, mode); }
  void putDataByte(char* image, uint8_t value) const override { kBus.put(image, value); }
  uint8_t getDataByte(const char* captured) const override { return kBus.get(captured); }

 private:
  static constexpr DataBus kBus{211, 2, '0', '1'};
};

class IkaNandTarget final : public NandTarget {
 public:
  void init(JtagCable& cable, char* productName, NandPins& pins, char*& image) override {
    image = loadChip(cable, Ika, productName, ChipVariant::Boundary);
    pins = {101, 105, 103, 95, 97, 99};
  }
  void setBusDirection(char* image, int mode) const override { kBus.setDirection(image, mode); }
  void putDataByte(char* image, uint8_t value) const override { kBus.put(image, value); }
  uint8_t getDataByte(const char* captured) const override { return kBus.get(captured); }

 private:
  static constexpr DataBus kBus{63, 2, '0', '1'};
};

class VeskarNandTarget final : public NandTarget {
 public:
  void init(JtagCable& cable, char* productName, NandPins& pins, char*& image) override {
    image = loadChip(cable, Veskar, productName, ChipVariant::Boundary);
    pins = {36, 42, 34, 32, 38, 40};
  }
  void setBusDirection(char* image, int mode) const override { kBus.setDirection(image, mode); }
  void putDataByte(char* image, uint8_t value) const override { kBus.put(image, value); }
  uint8_t getDataByte(const char* captured) const override { return kBus.get(captured); }

 private:
  static constexpr DataBus kBus{30, -2, '1', '0'};
};

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
