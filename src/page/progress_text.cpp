#include "page/progress_text.h"

#include <cstdio>


namespace zorv {

std::string formatByteCount(int64_t done, int64_t total) {
  char text[64];
  std::snprintf(text, sizeof text, "%lld / %lld [Bytes]", static_cast<long long>(done), static_cast<long long>(total));
  return text;
}

std::string formatElapsed(int64_t seconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%02lld : %02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace zorv
