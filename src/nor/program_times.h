#pragma once

#include <cstdint>

namespace zorv {

// The longest one program operation of a part may take, as the part itself states it: its query's
// typical times and their maximum multipliers, or the flash-type table for a part without the
// query. 0 where it is not known: such a part is polled.
struct ProgramTimes {
  uint32_t unitUs = 0;    // one unit (byte or word)
  uint32_t bufferUs = 0;  // one whole write buffer
};

// From the query's exponents: typical 2^n us times 2^m at most (either 0: not stated).
ProgramTimes programTimesFromQuery(uint32_t unitTypical, uint32_t bufferTypical, uint32_t unitMultiplier,
                                   uint32_t bufferMultiplier);

// Clocks of periodNs that together last at least us (0 when either is 0).
uint32_t clocksLasting(uint32_t us, uint32_t periodNs);

}  // namespace zorv
