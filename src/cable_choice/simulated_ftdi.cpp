#include "cable_choice/simulated_ftdi.h"

namespace zorv {

bool SimulatedFtdi::gone() {
  if (!cause_.empty()) return true;
  if (transfersLeft_ == 0) {
    cause_ = "the FTDI adapter was unplugged";
    return true;
  }
  --transfersLeft_;
  return false;
}

bool SimulatedFtdi::send(const uint8_t* data, size_t length) {
  if (gone()) return false;
  try {
    interpreter_.play(data, length);
  } catch (const sim::MpsseFault& fault) {
    cause_ = std::string("MPSSE fault: ") + fault.what();
    return false;
  }
  return true;
}

bool SimulatedFtdi::receive(uint8_t* data, size_t length) {
  if (gone()) return false;
  try {
    interpreter_.take(data, length);
  } catch (const sim::MpsseFault& fault) {
    cause_ = std::string("MPSSE fault: ") + fault.what();
    return false;
  }
  return true;
}

}  // namespace zorv
