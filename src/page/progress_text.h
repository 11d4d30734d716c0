#pragma once

#include <cstdint>
#include <string>

namespace zorv {

// "%d / %d [Bytes]"
std::string formatByteCount(int64_t done, int64_t total);
// "%02d : %02d", minutes not wrapping at 60.
std::string formatElapsed(int64_t seconds);

}  // namespace zorv
