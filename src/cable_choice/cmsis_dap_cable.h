#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cmsis_dap/dap_probe_choice.h"
#include "link/jtag_link.h"
#include "sim/dap_probe.h"

namespace zorv {

// What a --cable text of the form cmsis-dap[:VID:PID[:SERIAL] | :sim[:OPTIONS]] asks for.
// Without VID:PID any probe whose USB strings name CMSIS-DAP is taken; SERIAL picks one of
// several. After sim: the virtual board's options, and the modelled probe's: dappacket=BYTES (its
// packet size, default 64), dapcount=N (its packet count, default 4), dapnotrst (no nTRST wired).
struct CmsisDapCableText {
  DapUsbTarget usb;
  bool simulated = false;
  std::string boardOptions;
  sim::DapProbe::Config probe;
};

// Throws std::invalid_argument with a readable message.
CmsisDapCableText parseCmsisDapCable(const std::string& text);
std::unique_ptr<JtagLink> openCmsisDapCable(const std::string& text, uint32_t tckPeriodNs);

}  // namespace zorv
