#pragma once

#include <string>

namespace zorv {

// MinGW's plain "printf" check is the old Windows runtime's (no %zu); the Windows build formats
// with the C99 one.
#ifdef __MINGW32__
#define ZORV_PRINTF_CHECK gnu_printf
#else
#define ZORV_PRINTF_CHECK printf
#endif

// printf into a string of whatever length the text needs; the compiler checks the arguments
// against the pattern.
__attribute__((format(ZORV_PRINTF_CHECK, 1, 2))) std::string format(const char* pattern, ...);

}  // namespace zorv
