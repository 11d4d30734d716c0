#include "nor/program_times.h"

#include <algorithm>

namespace zorv {
namespace {

// Exponents past this are not a plausible program time (2^20 us is a second): not stated.
constexpr uint32_t kMaxExponent = 20;

// A multiplier of 0 states no maximum (the query leaves the field 0 where the part gives none), not
// a maximum equal to the typical time: such a part is polled.
uint32_t worstCase(uint32_t typical, uint32_t multiplier) {
  if (typical == 0 || typical > kMaxExponent || multiplier == 0 || multiplier > kMaxExponent) return 0;
  return 1u << std::min(typical + multiplier, kMaxExponent);
}

}  // namespace

ProgramTimes programTimesFromQuery(uint32_t unitTypical, uint32_t bufferTypical, uint32_t unitMultiplier,
                                   uint32_t bufferMultiplier) {
  return {worstCase(unitTypical, unitMultiplier), worstCase(bufferTypical, bufferMultiplier)};
}

uint32_t clocksLasting(uint32_t us, uint32_t periodNs) {
  if (us == 0 || periodNs == 0) return 0;
  const uint64_t clocks = (uint64_t{us} * 1000 + periodNs - 1) / periodNs;
  return static_cast<uint32_t>(std::min<uint64_t>(clocks, UINT32_MAX));
}

}  // namespace zorv
