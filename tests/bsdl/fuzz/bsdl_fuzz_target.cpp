// libFuzzer's entry point for the BSDL reader (scripts/fuzz-bsdl.sh builds and runs it). Any input
// must give a device or a BsdlError; anything else (a crash, a sanitizer report, another exception,
// a hang) is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "bsdl/bsdl_device.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    zorv::parseBsdl(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.bsd");
  } catch (const zorv::BsdlError&) {
  }
  return 0;
}
