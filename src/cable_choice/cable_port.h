#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cable/port_io.h"

namespace zorv {

// Opens the port that a --cable text names: "lpt" (the default, at 0x378), "lpt:ADDRESS", "ppdev[:/dev/parportN]",
// "remote:HOST:PORT", "xvc:HOST:PORT" or "sim[:OPTIONS]". The port lives for the whole process and
// is lent to one job at a time. tckPeriodNs, when not 0, is the TCK period to ask of a cable that
// sets one (see cableSetsTck). Throws std::invalid_argument with a readable message for a text it
// cannot use.
std::unique_ptr<PortIo> openCablePort(const std::string& cableText, uint32_t tckPeriodNs = 0);

// Whether the cable a --cable text names can be asked for a TCK rate (only XVC servers can).
bool cableSetsTck(const std::string& cableText);

// The TCK range that --tck takes, in Hz, and the period of such a rate in ns, rounded up so that
// TCK never runs faster than asked.
inline constexpr uint64_t kMinTckHz = 1;
inline constexpr uint64_t kMaxTckHz = 1000000000;
uint32_t tckPeriodOfRate(uint64_t hz);

}  // namespace zorv
