#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorv {

// Which CMSIS-DAP probe a --cable text asks for: any, or one USB id, and perhaps one serial.
struct DapUsbTarget {
  std::optional<uint16_t> vendor;
  std::optional<uint16_t> product;
  std::string serial;  // empty: any
};

// A CMSIS-DAP interface found on the USB: one per probe, v2 where the probe has both.
struct DapProbeFound {
  uint16_t vendor = 0;
  uint16_t product = 0;
  std::string productName;  // the device's product string
  std::string serial;
  int version = 2;  // 2: bulk endpoints, 1: HID reports
};

// "2e8a:000c "Debugprobe on Pico (CMSIS-DAP)" serial E6614C311B4A8E2B (v2)".
std::string describeProbe(const DapProbeFound& probe);

// The probe the target names among those found, or -1 with the cause: none found (and what was
// found instead), or several that the target does not tell apart (with the cable texts that
// would, or the advice to unplug the others where they have no serial numbers).
int chooseDapProbe(const std::vector<DapProbeFound>& found, const DapUsbTarget& target, std::string& cause);

}  // namespace zorv
