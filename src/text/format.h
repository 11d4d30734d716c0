#pragma once

#include <string>

namespace zorv {

// printf into a string of whatever length the text needs; the compiler checks the arguments
// against the pattern.
__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...);

}  // namespace zorv
