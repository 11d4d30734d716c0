#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A bit string is text of '0' and '1', one character per bit. Character i is shifted i-th and lands
// in register cell i (cell 0 nearest TDO). Only the lowest bit of each character counts when it is
// shifted out; captured strings hold only '0' and '1'. Identification codes are the exception: they
// are written most significant bit first.
namespace zorv {

inline constexpr char bitChar(bool bit) { return bit ? '1' : '0'; }
inline constexpr bool bitAt(const char* bits, int i) { return (bits[i] & 1) != 0; }

// The 32-bit value of a most-significant-first text (character 0 is bit 31).
uint32_t msbFirstValue(std::string_view bits);

// value as `width` characters, most significant bit first.
std::string msbFirstText(uint32_t value, int width);

// Writes value into bits[0..width) most significant bit first (no terminator).
void putMsbFirst(char* bits, uint32_t value, int width);

}  // namespace zorv
