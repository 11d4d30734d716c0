#pragma once

#include <memory>
#include <string>

#include "cmsis_dap/dap_probe_choice.h"
#include "cmsis_dap/dap_transport.h"

namespace zorv {

// Finds the CMSIS-DAP probes on the USB the way Arm's documentation says debuggers find them: an
// interface whose string (or, on a probe that is not a composite device, the product string)
// contains "CMSIS-DAP". A vendor-specific interface with bulk endpoints is v2 (libusb-1.0), a HID
// interface v1 (hidapi); a probe that has both is opened as v2. Opens the one the target names;
// on failure returns null and puts the reason in cause in the user's terms: none found (and what
// was found instead, and the devices that could not be read for want of permission), several
// found (with the texts that name each), no permission (and how to get it), or held by another
// program.
std::unique_ptr<DapTransport> openDapUsb(const DapUsbTarget& target, std::string& cause);

}  // namespace zorv
