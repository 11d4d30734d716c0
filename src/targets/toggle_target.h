#pragma once

#include <memory>

#include "link/jtag_cable.h"
#include "targets/product_wiring.h"

namespace zorv {

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

// The toggling of the product whose wiring it is bound to. Toggling always goes through the
// boundary register, VESKAR's too: length 80, and the debug instruction is left as it was.
template <const ProductWiring& wiring>
class WiredToggleTarget final : public ToggleTarget {
 public:
  void init(JtagCable& cable, char* productName, char*& image) override;
  void prepareOutputs(JtagCable& cable, char* image) override;
  void driveHigh(JtagCable& cable, char* image) override;
  void driveLow(JtagCable& cable, char* image, int toggleCs) override;
};

using ObrinToggleTarget = WiredToggleTarget<kObrinWiring>;
using Tqr2400ToggleTarget = WiredToggleTarget<kTqr2400Wiring>;
using IkaToggleTarget = WiredToggleTarget<kIkaWiring>;
using VeskarToggleTarget = WiredToggleTarget<kVeskarWiring>;

extern template class WiredToggleTarget<kObrinWiring>;
extern template class WiredToggleTarget<kTqr2400Wiring>;
extern template class WiredToggleTarget<kIkaWiring>;
extern template class WiredToggleTarget<kVeskarWiring>;

// The toggle target of a product index; null for an index outside 0 to 3.
std::unique_ptr<ToggleTarget> makeToggleTarget(int product);

}  // namespace zorv
