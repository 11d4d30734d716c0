#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cable/ftdi_layout.h"
#include "cable/mpsse_encoder.h"
#include "cable/mpsse_transport.h"
#include "cable/port_io.h"

namespace zorv {

// An opened FTDI adapter.
struct FtdiDevice {
  std::shared_ptr<MpsseTransport> transport;
  bool highSpeed = true;     // H-series: 60 MHz base clock (0x8A), else 12 MHz
  size_t readWindow = 4032;  // answer bytes the chip buffers for the host
  std::string name;          // for messages, e.g. "FT2232H 0403:6010 channel A"
};
// Opens the adapter; on failure returns a device without transport and puts the reason in cause.
using FtdiOpener = std::function<FtdiDevice(std::string& cause)>;

// The rate a divisor gives, and the divisor for the fastest rate not above the one asked.
uint32_t mpsseTckHz(bool highSpeed, uint16_t divisor);
uint16_t mpsseDivisorFor(bool highSpeed, uint32_t hz);

// The cable as an FTDI chip in MPSSE mode. The port bytes are played as the parallel cable would
// play them (each rising TCK edge one clock, a status read after it that clock's TDO) and become
// MPSSE commands; reads are answered at flush(). nTRST moves the layout's nTRST pin; a layout
// without one gets five clocks with TMS high when nTRST is released, which bring the TAP to
// Test-Logic-Reset as the pulse does. The adapter is opened at grantAccess(); while it is not
// open the port answers as absent, and a transfer that fails (the adapter unplugged) is the
// link's failure.
class FtdiPort : public PortIo {
 public:
  // tckPeriodNs 0 runs TCK at kDefaultTckHz.
  FtdiPort(const FtdiLayout& layout, FtdiOpener opener, uint32_t tckPeriodNs = 0);
  ~FtdiPort() override;
  FtdiPort(const FtdiPort&) = delete;
  FtdiPort& operator=(const FtdiPort&) = delete;

  bool grantAccess() override;
  void write(uint16_t port, uint8_t value) override;
  uint8_t read(uint16_t port) override;
  void readDeferred(uint16_t port, uint8_t* dest) override;
  void flush() override;

  bool open() const { return encoder_.has_value(); }
  // The TCK rate the adapter runs, in Hz (0 while closed).
  uint32_t tckHz() const { return tckHz_; }
  const MpsseEncoder* encoder() const { return encoder_ ? &*encoder_ : nullptr; }

  static constexpr uint32_t kDefaultTckHz = 6000000;

 private:
  void setUp();
  void setPins(uint16_t value, uint16_t direction);
  void close(const std::string& cause);

  const FtdiLayout& layout_;
  FtdiOpener opener_;
  uint32_t tckPeriodNs_;
  FtdiDevice device_;
  std::optional<MpsseEncoder> encoder_;
  uint32_t tckHz_ = 0;
  uint8_t lastData_ = 0xFF;
  bool trstHeld_ = false;
};

}  // namespace zorv
