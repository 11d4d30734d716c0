#include "extra/pin_toggler.h"

#include <chrono>

namespace zorv {

int64_t steadyMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PinToggler::bind(JtagCable& cable, ToggleTarget& target, char* productName) {
  target.init(cable, productName, bsrImage);
}

void PinToggler::waitMs(int64_t ms) const {
  const int64_t start = ticks_();
  while (ticks_() - start <= ms) {
  }
}

}  // namespace zorv
