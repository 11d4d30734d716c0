#include "cable_choice/tck_rate.h"

#include "cable_choice/cable_port.h"

namespace zorv {

std::optional<uint64_t> readTckRate(std::string_view text) {
  uint64_t scale = 1;
  if (!text.empty() && (text.back() == 'k' || text.back() == 'K')) scale = 1000;
  if (!text.empty() && text.back() == 'M') scale = 1000000;
  if (scale != 1) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > kMaxTckHz) return std::nullopt;
  }
  value *= scale;
  if (value < kMinTckHz || value > kMaxTckHz) return std::nullopt;
  return value;
}

}  // namespace zorv
