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

// The rate a divisor gives.
uint32_t mpsseTckHz(bool highSpeed, uint16_t divisor);
// The divisor for the fastest rate whose period, rounded up to whole ns as a --tck period is, is
// not shorter than periodNs: a rate asked exactly gets itself back, not the one below it.
uint16_t mpsseDivisorForPeriod(bool highSpeed, uint32_t periodNs);

// One FTDI adapter wired as its layout says: opened with loopback off, the TCK rate set and the
// pins at their starting levels, and the encoder that turns its clocks into MPSSE commands. The
// link built on it reports its failures.
class FtdiAdapter {
 public:
  // tckPeriodNs 0 runs TCK at kDefaultTckHz.
  FtdiAdapter(const FtdiLayout& layout, FtdiOpener opener, uint32_t tckPeriodNs);
  ~FtdiAdapter();
  FtdiAdapter(const FtdiAdapter&) = delete;
  FtdiAdapter& operator=(const FtdiAdapter&) = delete;

  // Opens the adapter unless it is open and working; empty when it is, else why not.
  std::string open();
  // Sends what waits and closes the adapter; open() opens it again.
  void close();
  // Open and no transfer has failed since.
  bool usable() const { return encoder_.has_value() && !encoder_->failed(); }
  // Why the last transfer failed.
  std::string cause() const;

  MpsseEncoder& encoder() { return *encoder_; }
  const MpsseEncoder* encoderIfOpen() const { return encoder_ ? &*encoder_ : nullptr; }

  bool hasTrst() const { return layout_.trst.wired(); }
  // Drives the layout's nTRST pin low, or back to its starting level (the TAP is then in
  // Test-Logic-Reset).
  void holdTrst(bool asserted);

  // The TCK rate the adapter runs, or ran when last open, in Hz (0 until first opened).
  uint32_t tckHz() const { return tckHz_; }

  static constexpr uint32_t kDefaultTckHz = 6000000;

 private:
  void setPins(uint16_t value, uint16_t direction);

  const FtdiLayout& layout_;
  FtdiOpener opener_;
  uint32_t tckPeriodNs_;
  FtdiDevice device_;
  std::optional<MpsseEncoder> encoder_;
  uint32_t tckHz_ = 0;
};

}  // namespace zorv
