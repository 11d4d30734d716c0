#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "link/jtag_cable.h"
#include "targets/toggle_target.h"

namespace zorv {

// A millisecond tick counter; only differences between readings count.
using TickSource = std::function<int64_t()>;

// Milliseconds of the steady clock.
int64_t steadyMilliseconds();

// Drives a product's toggled pins through its toggle target. Neither the cable nor the target is
// kept: both are handed to each operation.
class PinToggler {
 public:
  explicit PinToggler(TickSource ticks = steadyMilliseconds) : ticks_(std::move(ticks)) {}

  // Runs the target's init and keeps the image it hands out.
  void bind(JtagCable& cable, ToggleTarget& target, char* productName);
  void prepareOutputs(JtagCable& cable, ToggleTarget& target) { target.prepareOutputs(cable, bsrImage); }
  void driveHigh(JtagCable& cable, ToggleTarget& target) { target.driveHigh(cable, bsrImage); }
  void driveLow(JtagCable& cable, ToggleTarget& target, int toggleCs) { target.driveLow(cable, bsrImage, toggleCs); }

  // Busy-waits until more than ms milliseconds have passed: an equal difference is not enough, so
  // a half period is never cut short by a tick that has only just begun.
  void waitMs(int64_t ms) const;

  char* bsrImage = nullptr;

 private:
  TickSource ticks_;
};

}  // namespace zorv
