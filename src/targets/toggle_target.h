#pragma once

#include <memory>

#include "link/jtag_cable.h"
#include "targets/product_wiring.h"

namespace zorv {

struct BoardChip;

// The pin toggling of one product: a stateless strategy that a job creates for its run.
class ToggleTarget {
 public:
  virtual ~ToggleTarget() = default;

  // Loads the chip descriptor into the cable, writes the product name (up to 7 characters and a
  // terminator) and hands out the product's image.
  virtual void init(JtagCable& cable, char* productName, char*& image) = 0;
  // Writes the output-enable cells; shifts nothing.
  virtual void prepareOutputs(JtagCable& cable, char* image) = 0;
  // Every toggled pin high, then one scan of the image.
  virtual void driveHigh(JtagCable& cable, char* image) = 0;
  // Toggled pins low (chip selects only with toggleCs set), then one scan of the image.
  virtual void driveLow(JtagCable& cable, char* image, int toggleCs) = 0;
};

// The toggling of a wiring record: a product's, or a board's described by data (chip set). Toggling
// always goes through the boundary register, VESKAR's too: length 80, and the debug instruction is
// left as it was.
class WiredToggleTarget final : public ToggleTarget {
 public:
  explicit WiredToggleTarget(const ProductWiring& wiring, const BoardChip* chip = nullptr)
      : wiring_(wiring), chip_(chip) {}
  void init(JtagCable& cable, char* productName, char*& image) override;
  void prepareOutputs(JtagCable& cable, char* image) override;
  void driveHigh(JtagCable& cable, char* image) override;
  void driveLow(JtagCable& cable, char* image, int toggleCs) override;

 private:
  const ProductWiring& wiring_;
  const BoardChip* chip_;
};

// The toggle target of a product index; null for an index outside 0 to 3.
std::unique_ptr<ToggleTarget> makeToggleTarget(int product);
// The toggling of a board described by data; null where its data lines cannot all be turned to
// drive at one level.
std::unique_ptr<ToggleTarget> makeToggleTarget(const BoardChip& chip);

}  // namespace zorv
