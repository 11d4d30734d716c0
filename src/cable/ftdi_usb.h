#pragma once

#include <string>
#include <vector>

#include "cable/ftdi_layout.h"
#include "cable/ftdi_adapter.h"

namespace zorv {

// Which adapter to open on the USB.
struct FtdiUsbTarget {
  std::vector<UsbId> ids;  // the first adapter with one of these ids
  std::string serial;      // empty: any serial number
  int channel = 0;         // 0 = A
};

// Opens the adapter through libftdi1, resets it, sets a short latency timer and MPSSE mode. On
// failure the device has no transport and cause says what was wrong in the user's terms: no such
// adapter (and what was found instead), no permission (and how to get it), held by another
// program or the kernel's serial driver, or not a chip with an MPSSE.
FtdiDevice openFtdiUsb(const FtdiUsbTarget& target, std::string& cause);

}  // namespace zorv
