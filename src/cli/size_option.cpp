#include "cli/size_option.h"

#include <string>

#include "page/size_text.h"

namespace zorv::cli {

std::optional<uint64_t> readSizeOption(std::string_view text) {
  if (text.empty() || (text.back() != 'G' && text.back() != 'g')) return readSizeText(text);
  text.remove_suffix(1);
  const std::optional<uint64_t> gib = readSizeText(text);
  constexpr uint64_t kGib = uint64_t{1} << 30;
  if (!gib || *gib > 4) return std::nullopt;  // at most 4 GiB, as every other form
  return *gib * kGib;
}

CLI::Validator sizeOption() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text == "all" || readSizeOption(text)) return {};
        return "'" + text + "' is not a size (decimal or 0x hexadecimal bytes, K, M or G after it, or all)";
      },
      "");  // the option names it
}

}  // namespace zorv::cli
