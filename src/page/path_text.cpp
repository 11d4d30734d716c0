#include "page/path_text.h"

namespace zorv {

std::string shortenImagePath(const std::string& path, char separator) {
  const size_t first = path.find(separator);
  if (first == std::string::npos) return path;
  const size_t last = path.rfind(separator);
  return path.substr(0, first + 1) + "..." + path.substr(last == first ? first + 1 : last);
}

}  // namespace zorv
