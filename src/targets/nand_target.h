#pragma once

#include <cstdint>
#include <memory>

#include "cable/jtag_cable.h"

namespace zorv {

// Where a product's NAND control signals sit in its boundary-scan image (cell numbers).
struct NandPins {
  int32_t pinCe = 0;   // nCE, low active
  int32_t pinWe = 0;   // nWE, low active
  int32_t pinRe = 0;   // nRE, low active
  int32_t pinRb = 0;   // R/B, '1' = ready; read from captured images only
  int32_t pinCle = 0;  // CLE, high active
  int32_t pinAle = 0;  // ALE, high active
};

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

// The pin map of a product index, or null for an index that names no product.
std::unique_ptr<NandTarget> makeNandTarget(int product);

}  // namespace zorv
