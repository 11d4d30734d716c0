#include "cli/size_option.h"

#include <string>

#include "page/size_text.h"

namespace zorv::cli {

std::optional<uint64_t> readSizeOption(std::string_view text) { return readSizeText(text); }

CLI::Validator sizeOption() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text == "all" || readSizeOption(text)) return {};
        return "'" + text + "' is not a size (decimal or 0x hexadecimal bytes, K or M after it, or all)";
      },
      "BYTES|all");
}

}  // namespace zorv::cli
