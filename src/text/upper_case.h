#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace zorv {

// The text with its letters a to z made capitals (product names and part names are ASCII).
inline std::string upperCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

}  // namespace zorv
