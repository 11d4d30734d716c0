#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zorv {

// Numbers typed into the page's text boxes, read the forgiving way the page always has: leading
// blanks skipped, reading stops at the first character that is not a digit, and no digits give 0.
// Digits whose value does not fit 32 bits give no value: wrapping would silently turn a typo
// into another address (block 4294967296 into block 0).

// Hexadecimal, with an optional "0x" or "0X" in front.
std::optional<uint32_t> readHexText(std::string_view text);
// Decimal.
std::optional<uint32_t> readDecimalText(std::string_view text);

}  // namespace zorv
