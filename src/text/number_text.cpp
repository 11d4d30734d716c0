#include "text/number_text.h"

namespace zorv {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

int digitValue(char c, unsigned radix) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value >= 0 && static_cast<unsigned>(value) < radix ? value : -1;
}

// The length of a hexadecimal prefix at the start of text, or 0.
size_t prefixLength(std::string_view text, const NumberReading& how) {
  if (!how.hexPrefix || text.size() < 2 || text[0] != '0') return 0;
  return text[1] == 'x' || (how.upperHexPrefix && text[1] == 'X') ? 2 : 0;
}

size_t skipBlanks(std::string_view text, size_t i) {
  while (i < text.size() && isBlank(text[i])) ++i;
  return i;
}

}  // namespace

NumberRead readNumber(std::string_view text, const NumberReading& how) {
  unsigned radix = how.radix;
  size_t i = how.whole || how.prefixBeforeBlanks ? 0 : skipBlanks(text, 0);
  if (const size_t prefix = prefixLength(text.substr(i), how); prefix != 0) {
    radix = 16;
    i += prefix;
  }
  if (how.prefixBeforeBlanks) i = skipBlanks(text, i);
  NumberRead read;
  const size_t first = i;
  for (; i < text.size(); ++i) {
    const int digit = digitValue(text[i], radix);
    if (digit < 0) break;
    const uint64_t limit = (UINT64_MAX - static_cast<uint64_t>(digit)) / radix;
    read.value = read.value > limit ? UINT64_MAX : read.value * radix + static_cast<uint64_t>(digit);
  }
  read.valid = !how.whole || (i != first && i == text.size());
  return read;
}

uint32_t parseBlockNumber(const std::string& text) {
  const NumberRead read = readNumber(text, {.radix = 10, .hexPrefix = true, .prefixBeforeBlanks = true});
  return read.fits32() ? static_cast<uint32_t>(read.value) : UINT32_MAX;
}

std::optional<uint32_t> readHexText(std::string_view text) {
  const uint64_t value = readHexAddressText(text);
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

std::optional<uint32_t> readDecimalText(std::string_view text) {
  const NumberRead read = readNumber(text, {.radix = 10});
  if (!read.fits32()) return std::nullopt;
  return static_cast<uint32_t>(read.value);
}

uint32_t readSectorText(std::string_view text) { return readDecimalText(text).value_or(UINT32_MAX); }

uint64_t readHexAddressText(std::string_view text) {
  return readNumber(text, {.radix = 16, .hexPrefix = true, .upperHexPrefix = true}).value;
}

}  // namespace zorv
