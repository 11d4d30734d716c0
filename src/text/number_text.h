#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorv {

// How a text is read as a number. A command line reads a whole text strictly; a page's text box is
// read the forgiving way the pages always have: leading blanks skipped, reading stops at the first
// character that is not a digit, and no digits give 0.
struct NumberReading {
  unsigned radix = 10;              // without a prefix
  bool hexPrefix = false;           // a leading "0x" switches to hexadecimal
  bool upperHexPrefix = false;      // "0X" does as well
  bool prefixBeforeBlanks = false;  // the prefix counts only as the text's first two characters
  bool whole = false;               // strict: no blanks, at least one digit, nothing after the digits
};

struct NumberRead {
  uint64_t value = 0;  // saturates at the largest 64-bit value
  bool valid = false;  // false only for a strict reading the text does not satisfy
  bool fits32() const { return value <= UINT32_MAX; }
};

// The one number parser of the program: every text that becomes a number goes through it.
NumberRead readNumber(std::string_view text, const NumberReading& how);

// The readings of the pages' text boxes.

// The NAND start block: hexadecimal after a leading "0x" (lower-case x only), decimal otherwise.
// A number too large for 32 bits gives 0xFFFFFFFF rather than wrapping onto a low block.
uint32_t parseBlockNumber(const std::string& text);
// Hexadecimal, with an optional "0x" or "0X" after the blanks. Digits whose value does not fit 32
// bits give no value: wrapping would silently turn a typo into another address.
std::optional<uint32_t> readHexText(std::string_view text);
// Decimal; no value past 32 bits either.
std::optional<uint32_t> readDecimalText(std::string_view text);
// The NOR start sector: decimal; past 32 bits it gives 0xFFFFFFFF, which lies past every sector
// table.
uint32_t readSectorText(std::string_view text);
// A hexadecimal address as read, however large: the job that takes it names one past 32 bits.
uint64_t readHexAddressText(std::string_view text);

}  // namespace zorv
