#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zorv {

// Counts the user types for a read-back, read whole: decimal, or hexadecimal after "0x". Nothing
// for an empty text or anything else, since a range read as 0 from a typo would quietly read or
// compare the wrong part of the flash.

// A byte count, optionally followed by K (KiB) or M (MiB); at most 4 GiB.
std::optional<uint64_t> readSizeText(std::string_view text);
// A block or sector number; at most 32 bits.
std::optional<uint32_t> readBlockText(std::string_view text);

}  // namespace zorv
