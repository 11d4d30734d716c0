#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zorv::cli {

enum class NumberForm { Decimal, Hexadecimal, DecimalOrHexadecimal };

// A whole option text read strictly as a number: decimal digits; hexadecimal digits with an
// optional "0x"; or, for DecimalOrHexadecimal, decimal, or hexadecimal after "0x". Nothing else
// may follow, the value must fit 32 bits, and an upper-case "0X" is refused. Unlike a page's text
// box, which reads what it can, a command line refuses what it cannot read whole: "abc" silently
// read as block 0 would overwrite the boot area.
std::optional<uint32_t> readNumberOption(std::string_view text, NumberForm form);

// The check for such an option: a usage error naming what is wrong.
CLI::Validator numberOption(NumberForm form);

}  // namespace zorv::cli
