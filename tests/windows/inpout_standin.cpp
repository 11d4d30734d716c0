// A stand-in for InpOut32's inpoutx64.dll, for tests under wine: the port bytes zorvjtag.exe sends
// through Out32/Inp32 play on a virtual board instead of a parallel port. The board takes the same
// options as "--cable sim:OPTIONS", from the environment variable ZORV_STANDIN_BOARD. The port sits
// at the legacy address 0x378; every other address answers as absent.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "sim/board.h"

namespace {

zorv::sim::Board& board() {
  static const std::unique_ptr<zorv::sim::Board> instance = [] {
    const char* options = std::getenv("ZORV_STANDIN_BOARD");
    try {
      return zorv::sim::makeBoard(options != nullptr ? options : "");
    } catch (const std::exception& e) {
      // A test with a wrong board must fail loudly, not run against no board at all.
      std::fprintf(stderr, "inpoutx64 stand-in: ZORV_STANDIN_BOARD: %s\n", e.what());
      std::abort();
    }
  }();
  return *instance;
}

bool onPort(short port) { return port >= 0x378 && port <= 0x37A; }

}  // namespace

extern "C" {

__declspec(dllexport) BOOL __stdcall IsInpOutDriverOpen() { return std::getenv("ZORV_STANDIN_NO_DRIVER") == nullptr; }

__declspec(dllexport) short __stdcall Inp32(short port) {
  return onPort(port) ? static_cast<short>(board().read(static_cast<uint16_t>(port))) : short{0xFF};
}

__declspec(dllexport) void __stdcall Out32(short port, short value) {
  if (onPort(port)) board().write(static_cast<uint16_t>(port), static_cast<uint8_t>(value));
}

}  // extern "C"
