#pragma once

#include <cstdint>
#include <string>

namespace zorv {

// The start-block text as the NAND page takes it: hexadecimal after a leading "0x" (lower-case x
// only), decimal otherwise; leading blanks skipped, reading stops at the first character that is
// not a digit of the base, no digits give 0. A number too large for 32 bits gives 0xFFFFFFFF
// rather than wrapping onto a low block.
uint32_t parseBlockNumber(const std::string& text);

}  // namespace zorv
