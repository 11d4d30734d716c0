#pragma once

#include <cstdint>

namespace zorv {

// The state of the TAP controller at the far end of a link, followed from the TMS level of every
// clock the link sends, so that the link can tell where a scan ends: every scan begins and ends
// in Run-Test/Idle (or Test-Logic-Reset). A link that must stop acts on it only there, since from
// anywhere else the way back to Test-Logic-Reset passes an Update state and would drive what a
// scan cut short left in its register.
class TapFollower {
 public:
  void clock(bool tms) { state_ = kNext[state_][tms ? 1 : 0]; }
  // nTRST, or a connection whose far end is not known yet (its job begins with a reset).
  void reset() { state_ = kTestLogicReset; }
  bool atRest() const { return state_ == kTestLogicReset || state_ == kRunTestIdle; }

 private:
  enum : uint8_t {
    kTestLogicReset, kRunTestIdle,
    kSelectDr, kCaptureDr, kShiftDr, kExit1Dr, kPauseDr, kExit2Dr, kUpdateDr,
    kSelectIr, kCaptureIr, kShiftIr, kExit1Ir, kPauseIr, kExit2Ir, kUpdateIr,
  };
  // IEEE 1149.1's state diagram: the next state with TMS low, with TMS high.
  static constexpr uint8_t kNext[16][2] = {
      {kRunTestIdle, kTestLogicReset}, {kRunTestIdle, kSelectDr},
      {kCaptureDr, kSelectIr},         {kShiftDr, kExit1Dr},
      {kShiftDr, kExit1Dr},            {kPauseDr, kUpdateDr},
      {kPauseDr, kExit2Dr},            {kShiftDr, kUpdateDr},
      {kRunTestIdle, kSelectDr},       {kCaptureIr, kTestLogicReset},
      {kShiftIr, kExit1Ir},            {kShiftIr, kExit1Ir},
      {kPauseIr, kUpdateIr},           {kPauseIr, kExit2Ir},
      {kShiftIr, kUpdateIr},           {kRunTestIdle, kSelectDr},
  };

  uint8_t state_ = kTestLogicReset;
};

}  // namespace zorv
