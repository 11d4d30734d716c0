#include "page/progress_text.h"

#include "text/format.h"

namespace zorv {

std::string formatByteCount(int64_t done, int64_t total) {
  return format("%lld / %lld [Bytes]", static_cast<long long>(done), static_cast<long long>(total));
}

std::string formatElapsed(int64_t seconds) {
  return format("%02lld : %02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

}  // namespace zorv
