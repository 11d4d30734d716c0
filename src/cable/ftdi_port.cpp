#include "cable/ftdi_port.h"

#include "cable/cable_pins.h"

namespace zorv {

bool FtdiPort::grantAccess() {
  const std::string why = adapter_.open();
  if (!why.empty()) {
    noteLinkFailure(why);
    return true;  // the port answers as absent, and the job names the cause
  }
  clearLinkFailure();
  lastData_ = 0xFF;
  trstHeld_ = false;
  return true;
}

bool FtdiPort::usable() {
  if (adapter_.usable()) return true;
  if (adapter_.encoderIfOpen() != nullptr) noteLinkFailure(adapter_.cause());
  return false;
}

void FtdiPort::write(uint16_t port, uint8_t value) {
  if (port != kLptDataPort || !usable()) return;
  const uint8_t before = lastData_;
  lastData_ = value;
  MpsseEncoder& encoder = adapter_.encoder();
  if (!(value & kTrstReleasedBit)) {
    if (!trstHeld_ && adapter_.hasTrst()) adapter_.holdTrst(true);
    trstHeld_ = true;  // the TAP is held in reset: clocks meanwhile do nothing
    return;
  }
  if (trstHeld_) {
    trstHeld_ = false;
    if (adapter_.hasTrst()) {
      adapter_.holdTrst(false);
    } else {
      for (int i = 0; i < 5; ++i) encoder.clock(true, false);
    }
  }
  if ((value & kTckBit) && !(before & kTckBit)) encoder.clock((value & kTmsBit) != 0, (value & kTdiBit) != 0);
  usable();
}

uint8_t FtdiPort::read(uint16_t port) {
  if (!usable()) return 0xFF;
  // The cable only reads the data port back to see that a port is there.
  if (port == kLptDataPort) return lastData_;
  if (port != kLptStatusPort) return 0xFF;
  uint8_t value = 0xFF;
  readDeferred(port, &value);
  flush();
  return value;
}

void FtdiPort::readDeferred(uint16_t port, uint8_t* dest) {
  if (dest == nullptr) return;  // the chip reads only the TDO bits someone keeps
  if (!usable() || port != kLptStatusPort) {
    *dest = read(port);
    return;
  }
  adapter_.encoder().captureLast(dest, kTdoStatusBit);
}

void FtdiPort::flush() {
  if (adapter_.encoderIfOpen() == nullptr) return;
  if (adapter_.usable()) adapter_.encoder().flush();
  usable();
}

}  // namespace zorv
