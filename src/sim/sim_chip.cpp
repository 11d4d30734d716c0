#include "sim/sim_chip.h"
#include "sim/tap_state.h"

namespace zorv::sim {
namespace {

// Typed from the chips' data sheets on their own, apart from the program's catalogue, so that a
// slip in one is caught by the other.
constexpr SimChip kSimChips[kProductCount] = {
    {"OBRIN", 0xA, 0x00AECADDu, 298, false},
    {"TQR2400", 0xD, 0x100015B9u, 298, false},
    {"IKA", 0xD, 0x100015B9u, 185, false},
    {"VESKAR", 0xA, 0x0022B5E1u, 80, true},
};

}  // namespace

const SimChip& simChip(TargetProduct product) { return kSimChips[product]; }


}  // namespace zorv::sim

namespace zorv::sim {

const char* tapStateName(TapState state) {
  static constexpr const char* kNames[] = {
      "Test-Logic-Reset", "Run-Test/Idle", "Select-DR-Scan", "Capture-DR", "Shift-DR", "Exit1-DR",
      "Pause-DR", "Exit2-DR", "Update-DR", "Select-IR-Scan", "Capture-IR", "Shift-IR", "Exit1-IR",
      "Pause-IR", "Exit2-IR", "Update-IR"};
  return kNames[static_cast<int>(state)];
}

}  // namespace zorv::sim
