#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cable/ftdi_layout.h"
#include "cable/ftdi_usb.h"
#include "link/jtag_link.h"

namespace zorv {

// What a --cable text of the form ftdi[,layout=NAME][,channel=A|B][:VID:PID[:SERIAL] | :sim[:OPTIONS]]
// asks for. Without VID:PID the layout's own USB ids are looked for; without a channel, the
// layout's.
struct FtdiCableText {
  const FtdiLayout* layout = nullptr;
  FtdiUsbTarget usb;
  bool simulated = false;    // ftdi:sim: the virtual board behind a modelled adapter
  std::string boardOptions;  // as after sim:
};

// The layouts' names, comma-separated, for help texts.
std::string ftdiLayoutNames();
// Throws std::invalid_argument with a readable message.
FtdiCableText parseFtdiCable(const std::string& text);
std::unique_ptr<JtagLink> openFtdiCable(const std::string& text, uint32_t tckPeriodNs);

}  // namespace zorv
