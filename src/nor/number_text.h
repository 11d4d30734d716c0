#pragma once

#include <cstdint>
#include <string_view>

namespace zorv {

// Numbers typed into the page's text boxes, read the forgiving way the page always has: leading
// blanks skipped, reading stops at the first character that is not a digit, no digits give 0, and
// the value wraps at 32 bits.

// Hexadecimal, with an optional "0x" or "0X" in front.
uint32_t readHexText(std::string_view text);
// Decimal.
uint32_t readDecimalText(std::string_view text);

}  // namespace zorv
