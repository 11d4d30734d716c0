#pragma once

#include <string_view>

namespace zorv {

// The supported NOR flash types, in the order of the Flash Type list.
enum FlashType : int {
  En29lv010a = 0,
  En29lv040a = 1,
  Am29lv040b = 2,
  S29al004d = 3,
  S29al008d = 4,
  S29gl064m = 5,
  S29gl128m = 6,
  K8d6316 = 7,
  Sst39vf6401 = 8,
  AutoDetect = 9,  // VESKAR only; also what an unrecognised VESKAR device becomes
};

inline constexpr int kFlashTypeCount = 9;

inline constexpr bool isFlashType(int index) { return index >= 0 && index < kFlashTypeCount; }

// The text of the Flash Type list ("AutoDetect" for 9), or empty for anything else.
std::string_view flashTypeListText(int index);
// The name used in log lines; "Unknow" for anything outside 0..8.
std::string_view flashTypeLogName(int index);
// The index of a list text (exact, any case), or -1.
int flashTypeFromText(std::string_view text);

// Types programmed in write buffers rather than unit by unit.
inline constexpr bool usesWriteBuffer(int index) { return index == S29gl064m || index == S29gl128m; }

}  // namespace zorv
