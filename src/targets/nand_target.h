#pragma once

#include <cstdint>
#include <memory>

#include "link/jtag_cable.h"
#include "targets/product_wiring.h"

namespace zorv {

struct BoardChip;

// Data-bus directions as setBusDirection takes them.
inline constexpr int kBusOutput = 0;
inline constexpr int kBusInput = 1;

// A product's NAND pin map. The classes hold no state; none of the bus operations shifts anything:
// they edit or read image characters and the caller shifts the image afterwards.
class NandTarget {
 public:
  virtual ~NandTarget() = default;
  // Loads the chip descriptor into the cable, writes the product name (at most 7 characters and a
  // terminator), fills the control positions and hands out the product's shared image.
  virtual void init(JtagCable& cable, char* productName, NandPins& pins, char*& image) = 0;
  // mode kBusInput before read cycles, kBusOutput otherwise: all eight direction cells.
  virtual void setBusDirection(char* image, int mode) const = 0;
  // Bit n of value into the data cell of I/On.
  virtual void putDataByte(char* image, uint8_t value) const = 0;
  // Bit n is 1 exactly when the captured character at I/On is '1'.
  virtual uint8_t getDataByte(const char* captured) const = 0;
};

// The pin map of a wiring record: a product's (chip null), or a board's described by data, whose
// chip the cable is then loaded with.
class WiredNandTarget final : public NandTarget {
 public:
  explicit WiredNandTarget(const ProductWiring& wiring, const BoardChip* chip = nullptr)
      : wiring_(wiring), chip_(chip) {}
  void init(JtagCable& cable, char* productName, NandPins& pins, char*& image) override;
  void setBusDirection(char* image, int mode) const override;
  void putDataByte(char* image, uint8_t value) const override;
  uint8_t getDataByte(const char* captured) const override;

 private:
  const ProductWiring& wiring_;
  const BoardChip* chip_;
};

// The pin map of a product index, or null for an index that names no product.
std::unique_ptr<NandTarget> makeNandTarget(int product);
// The pin map of a board described by data; null when the board has no NAND.
std::unique_ptr<NandTarget> makeNandTarget(const BoardChip& chip);

}  // namespace zorv
