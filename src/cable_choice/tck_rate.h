#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zorv {

// A --tck text: a whole number of Hz, or of kHz / MHz with a k or M after it ("6M", "500k"),
// within kMinTckHz..kMaxTckHz. Nothing for any other text: a rate misread would run the cable at
// a speed nobody asked for.
std::optional<uint64_t> readTckRate(std::string_view text);

}  // namespace zorv
