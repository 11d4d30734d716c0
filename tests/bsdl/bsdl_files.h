#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace zorv::testing {

// The text of a file in tests/bsdl/files.
inline std::string bsdlFileText(const std::string& name) {
  std::ifstream file(std::string(ZORV_BSDL_FILES) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

inline std::string bsdlFilePath(const std::string& name) { return std::string(ZORV_BSDL_FILES) + "/" + name; }

}  // namespace zorv::testing
