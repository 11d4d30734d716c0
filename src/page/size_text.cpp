#include "page/size_text.h"

namespace zorv {
namespace {

constexpr uint64_t kMaxSize = uint64_t{1} << 32;

std::optional<uint64_t> readDigits(std::string_view text) {
  uint64_t radix = 10;
  if (text.substr(0, 2) == "0x") {
    text.remove_prefix(2);
    radix = 16;
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    uint64_t digit = radix;
    if (c >= '0' && c <= '9') digit = static_cast<uint64_t>(c - '0');
    if (c >= 'a' && c <= 'f') digit = static_cast<uint64_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') digit = static_cast<uint64_t>(c - 'A' + 10);
    if (digit >= radix) return std::nullopt;
    value = value * radix + digit;
    if (value > kMaxSize) return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<uint64_t> readSizeText(std::string_view text) {
  uint64_t scale = 1;
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) scale = 1024;
  if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) scale = 1024 * 1024;
  if (scale != 1) text.remove_suffix(1);
  const std::optional<uint64_t> value = readDigits(text);
  if (!value || *value * scale > kMaxSize) return std::nullopt;
  return *value * scale;
}

std::optional<uint32_t> readBlockText(std::string_view text) {
  const std::optional<uint64_t> value = readDigits(text);
  if (!value || *value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

}  // namespace zorv
