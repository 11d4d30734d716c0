#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zorv::cli {

// A byte count on the command line: decimal or 0x hexadecimal, optionally followed by K (KiB) or
// M (MiB) or G (GiB); at most 4 GiB. Nothing for any other text.
std::optional<uint64_t> readSizeOption(std::string_view text);

// The check of a --size option: a size as readSizeOption takes it, or "all".
CLI::Validator sizeOption();

}  // namespace zorv::cli
