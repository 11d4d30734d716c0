#include "cli/number_option.h"

#include <string>

#include "text/number_text.h"

namespace zorv::cli {

std::optional<uint32_t> readNumberOption(std::string_view text, NumberForm form) {
  NumberReading how;
  how.radix = form == NumberForm::Hexadecimal ? 16 : 10;
  how.hexPrefix = form != NumberForm::Decimal;
  how.whole = true;
  const NumberRead read = readNumber(text, how);
  if (!read.valid || !read.fits32()) return std::nullopt;
  return static_cast<uint32_t>(read.value);
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
      "");  // the option names what the number is
}

}  // namespace zorv::cli
