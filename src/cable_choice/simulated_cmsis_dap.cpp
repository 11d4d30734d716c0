#include "cable_choice/simulated_cmsis_dap.h"

namespace zorv {

DapIo SimulatedCmsisDap::send(const uint8_t* data, size_t length) {
  ++transfers_;
  if (answersLeft_ == 0 && misbehaviour_ == Misbehaviour::Unplugged) {
    unplugged_ = true;
    cause_ = "the CMSIS-DAP probe was unplugged";
  }
  if (unplugged_ || !cause_.empty()) return DapIo::Failed;
  try {
    probe_.command(data, length);
  } catch (const sim::DapProbeFault& fault) {
    cause_ = std::string("CMSIS-DAP fault: ") + fault.what();
    return DapIo::Failed;
  }
  return DapIo::Done;
}

DapIo SimulatedCmsisDap::receive(uint8_t* data, size_t capacity, size_t& length, int) {
  ++transfers_;
  if (unplugged_ || !cause_.empty()) return DapIo::Failed;
  if (answersLeft_ == 0) {
    switch (misbehaviour_) {
      case Misbehaviour::Unplugged:
        unplugged_ = true;
        cause_ = "the CMSIS-DAP probe was unplugged";
        return DapIo::Failed;
      case Misbehaviour::Silent: return DapIo::TimedOut;
      case Misbehaviour::Slow:
        late_ = !late_;
        if (late_) return DapIo::TimedOut;
        break;
      default: break;
    }
  }
  try {
    length = probe_.answer(data, capacity);
  } catch (const sim::DapProbeFault& fault) {
    cause_ = std::string("CMSIS-DAP fault: ") + fault.what();
    return DapIo::Failed;
  }
  if (answersLeft_ == 0) {
    if (misbehaviour_ == Misbehaviour::ErrorStatus && data[0] == 0x14) data[1] = 0xFF;
    if (misbehaviour_ == Misbehaviour::ShortAnswer) --length;
  } else if (answersLeft_ != UINT64_MAX) {
    --answersLeft_;
  }
  return DapIo::Done;
}

}  // namespace zorv
