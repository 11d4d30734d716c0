#include "nand/block_number.h"

#include <limits>

namespace zorv {
namespace {

int digitValue(char c, unsigned base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

}  // namespace

uint32_t parseBlockNumber(const std::string& text) {
  unsigned base = 10;
  size_t i = 0;
  if (text.rfind("0x", 0) == 0) {
    base = 16;
    i = 2;
  }
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = digitValue(text[i], base);
    if (digit < 0) break;
    value = value * base + static_cast<unsigned>(digit);
    if (value > kMax) return static_cast<uint32_t>(kMax);
  }
  return static_cast<uint32_t>(value);
}

}  // namespace zorv
