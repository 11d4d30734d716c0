#pragma once

#include <cstdint>

#include "cable/ftdi_adapter.h"
#include "cable/ftdi_layout.h"
#include "cable/port_io.h"

namespace zorv {

// The cable as an FTDI chip in MPSSE mode. The port bytes are played as the parallel cable would
// play them (each rising TCK edge one clock, a status read after it that clock's TDO) and become
// MPSSE commands; reads are answered at flush(). nTRST moves the layout's nTRST pin; a layout
// without one gets five clocks with TMS high when nTRST is released, which bring the TAP to
// Test-Logic-Reset as the pulse does. The adapter is opened at grantAccess(); while it is not
// open the port answers as absent, and a transfer that fails (the adapter unplugged) is the
// link's failure.
class FtdiPort : public PortIo {
 public:
  // tckPeriodNs 0 runs TCK at FtdiAdapter::kDefaultTckHz.
  FtdiPort(const FtdiLayout& layout, FtdiOpener opener, uint32_t tckPeriodNs = 0)
      : adapter_(layout, std::move(opener), tckPeriodNs) {}

  bool grantAccess() override;
  void write(uint16_t port, uint8_t value) override;
  uint8_t read(uint16_t port) override;
  void readDeferred(uint16_t port, uint8_t* dest) override;
  void flush() override;

  // The TCK rate the adapter runs, in Hz (0 while closed).
  uint32_t tckHz() const { return adapter_.tckHz(); }
  const MpsseEncoder* encoder() const { return adapter_.encoderIfOpen(); }

 private:
  // Usable, or the failure noted.
  bool usable();

  FtdiAdapter adapter_;
  uint8_t lastData_ = 0xFF;
  bool trstHeld_ = false;
};

}  // namespace zorv
