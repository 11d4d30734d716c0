#pragma once

#include <cstdint>

namespace zorv::sim {

// The sixteen states of an IEEE 1149.1 TAP controller.
enum class TapState : uint8_t {
  TestLogicReset, RunTestIdle,
  SelectDrScan, CaptureDr, ShiftDr, Exit1Dr, PauseDr, Exit2Dr, UpdateDr,
  SelectIrScan, CaptureIr, ShiftIr, Exit1Ir, PauseIr, Exit2Ir, UpdateIr,
};

// The state after a rising TCK edge with the given TMS level.
constexpr TapState nextTapState(TapState state, bool tms) {
  using S = TapState;
  switch (state) {
    case S::TestLogicReset: return tms ? S::TestLogicReset : S::RunTestIdle;
    case S::RunTestIdle: return tms ? S::SelectDrScan : S::RunTestIdle;
    case S::SelectDrScan: return tms ? S::SelectIrScan : S::CaptureDr;
    case S::CaptureDr: return tms ? S::Exit1Dr : S::ShiftDr;
    case S::ShiftDr: return tms ? S::Exit1Dr : S::ShiftDr;
    case S::Exit1Dr: return tms ? S::UpdateDr : S::PauseDr;
    case S::PauseDr: return tms ? S::Exit2Dr : S::PauseDr;
    case S::Exit2Dr: return tms ? S::UpdateDr : S::ShiftDr;
    case S::UpdateDr: return tms ? S::SelectDrScan : S::RunTestIdle;
    case S::SelectIrScan: return tms ? S::TestLogicReset : S::CaptureIr;
    case S::CaptureIr: return tms ? S::Exit1Ir : S::ShiftIr;
    case S::ShiftIr: return tms ? S::Exit1Ir : S::ShiftIr;
    case S::Exit1Ir: return tms ? S::UpdateIr : S::PauseIr;
    case S::PauseIr: return tms ? S::Exit2Ir : S::PauseIr;
    case S::Exit2Ir: return tms ? S::UpdateIr : S::ShiftIr;
    case S::UpdateIr: return tms ? S::SelectDrScan : S::RunTestIdle;
  }
  return S::TestLogicReset;
}

const char* tapStateName(TapState state);

}  // namespace zorv::sim
