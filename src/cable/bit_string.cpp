#include "cable/bit_string.h"

namespace zorv {

uint32_t msbFirstValue(std::string_view bits) {
  uint32_t value = 0;
  for (char c : bits.substr(0, 32)) value = (value << 1) | static_cast<uint32_t>(c & 1);
  return value;
}

std::string msbFirstText(uint32_t value, int width) {
  std::string text(static_cast<size_t>(width), '0');
  putMsbFirst(text.data(), value, width);
  return text;
}

void putMsbFirst(char* bits, uint32_t value, int width) {
  for (int j = 0; j < width; ++j) bits[j] = bitChar(((value >> (width - 1 - j)) & 1u) != 0);
}

}  // namespace zorv
