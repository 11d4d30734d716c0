#include "page/path_text.h"

#include <filesystem>
#include <system_error>

namespace zorv {

std::string shortenImagePath(const std::string& path, char separator) {
  const size_t first = path.find(separator);
  if (first == std::string::npos) return path;
  const size_t last = path.rfind(separator);
  return path.substr(0, first + 1) + "..." + path.substr(last == first ? first + 1 : last);
}

std::string filePathLogLine(const char* label, const std::string& path) {
  if (path.empty()) return {};
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  return std::string("  ") + label + ": " + (error ? path : full.string()) + "\r\n";
}

}  // namespace zorv
