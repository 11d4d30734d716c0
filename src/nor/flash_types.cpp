#include "nor/flash_types.h"

#include <cctype>

namespace zorv {
namespace {

constexpr std::string_view kListTexts[] = {"EN29LV010A", "EN29LV040A", "AM29LV040B", "S29AL004D",  "S29AL008D",
                                           "S29GL064M",  "S29GL128M",  "K8D6316",    "SST39VF6401", "AutoDetect"};
constexpr std::string_view kLogNames[] = {"EN29LV010A", "EN29LV040A",  "AM29LV040B", "S29AL004D", "S29AL008D",
                                          "S29GL064M",  "S29GL128M_N", "K8D6316",    "SST39VF6401"};

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

std::string_view flashTypeListText(int index) {
  return index >= 0 && index <= AutoDetect ? kListTexts[index] : std::string_view();
}

std::string_view flashTypeLogName(int index) { return isFlashType(index) ? kLogNames[index] : "Unknow"; }

int flashTypeFromText(std::string_view text) {
  for (int i = 0; i <= AutoDetect; ++i) {
    if (sameText(text, kListTexts[i])) return i;
  }
  return -1;
}

}  // namespace zorv
