#include "sim/chain_tap.h"

namespace zorv::sim {

ChainTap::ChainTap(int instructionLength, std::optional<uint32_t> idcode)
    : length_(instructionLength), idcode_(idcode) {
  reset();
}

void ChainTap::reset() { selected_ = idcode_ ? Selected::Idcode : Selected::Bypass; }

void ChainTap::risingEdge(TapState state, bool tdi) {
  switch (state) {
    case TapState::CaptureDr:
      if (selected_ == Selected::Idcode) {
        idShift_ = *idcode_;
      } else {
        bypassBit_ = false;
      }
      break;
    case TapState::ShiftDr:
      if (selected_ == Selected::Idcode) {
        idShift_ = (idShift_ >> 1) | (tdi ? 0x80000000u : 0u);
      } else {
        bypassBit_ = tdi;
      }
      break;
    case TapState::CaptureIr: irShift_ = 0b01; break;  // the two bits nearest TDO capture 1, then 0
    case TapState::ShiftIr:
      irShift_ = (irShift_ >> 1) | (tdi ? uint64_t{1} << (length_ - 1) : 0);
      break;
    default: break;
  }
}

void ChainTap::entered(TapState state) {
  if (state == TapState::TestLogicReset) {
    reset();
    return;
  }
  if (state != TapState::UpdateIr) return;
  const uint64_t allOnes = length_ == 64 ? ~uint64_t{0} : (uint64_t{1} << length_) - 1;
  selected_ = Selected::Bypass;
  if (irShift_ == allOnes) return;
  std::string bits;
  for (int i = 0; i < length_; ++i) bits += ((irShift_ >> i) & 1) != 0 ? '1' : '0';
  foreign_.push_back(bits);
}

void ChainTap::fallingEdge(TapState state) {
  if (state == TapState::ShiftDr) {
    tdo_ = selected_ == Selected::Idcode ? (idShift_ & 1u) != 0 : bypassBit_;
  } else if (state == TapState::ShiftIr) {
    tdo_ = (irShift_ & 1u) != 0;
  }
}

}  // namespace zorv::sim
