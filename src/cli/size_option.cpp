#include "cli/size_option.h"

#include <string>

namespace zorv::cli {

std::optional<uint64_t> readSizeOption(std::string_view text) {
  uint64_t scale = 1;
  if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) scale = 1024;
  if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) scale = 1024 * 1024;
  if (scale != 1) text.remove_suffix(1);
  uint64_t radix = 10;
  if (text.substr(0, 2) == "0x") {
    text.remove_prefix(2);
    radix = 16;
  }
  if (text.empty()) return std::nullopt;
  constexpr uint64_t kMax = uint64_t{1} << 32;
  uint64_t value = 0;
  for (char c : text) {
    uint64_t digit = radix;
    if (c >= '0' && c <= '9') digit = static_cast<uint64_t>(c - '0');
    if (c >= 'a' && c <= 'f') digit = static_cast<uint64_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') digit = static_cast<uint64_t>(c - 'A' + 10);
    if (digit >= radix) return std::nullopt;
    value = value * radix + digit;
    if (value > kMax) return std::nullopt;
  }
  if (value * scale > kMax) return std::nullopt;
  return value * scale;
}

CLI::Validator sizeOption() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text == "all" || readSizeOption(text)) return {};
        return "'" + text + "' is not a size (decimal or 0x hexadecimal bytes, K or M after it, or all)";
      },
      "BYTES|all");
}

}  // namespace zorv::cli
