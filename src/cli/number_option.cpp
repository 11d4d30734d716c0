#include "cli/number_option.h"

#include <string>

namespace zorv::cli {
namespace {

int digitValue(char c, uint32_t radix) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < static_cast<int>(radix) ? value : -1;
}

}  // namespace

std::optional<uint32_t> readNumberOption(std::string_view text, NumberForm form) {
  uint32_t radix = form == NumberForm::Hexadecimal ? 16 : 10;
  if (form != NumberForm::Decimal && text.substr(0, 2) == "0x") {
    text.remove_prefix(2);
    radix = 16;
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    const int digit = digitValue(c, radix);
    if (digit < 0) return std::nullopt;
    value = value * radix + static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

CLI::Validator numberOption(NumberForm form) {
  const char* what = form == NumberForm::Decimal       ? "a decimal number"
                     : form == NumberForm::Hexadecimal ? "a hexadecimal number"
                                                       : "a decimal number, or hexadecimal after 0x";
  return CLI::Validator(
      [form, what](std::string& text) -> std::string {
        if (readNumberOption(text, form)) return {};
        return "'" + text + "' is not " + what + " of 32 bits";
      },
      "NUMBER");
}

}  // namespace zorv::cli
