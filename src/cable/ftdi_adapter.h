#pragma once

#include <chrono>
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

// A TCK setting of the MPSSE (AN_108): TCK = base / ((1 + divisor) * 2), where the base is 60 MHz
// on the H series with divide-by-5 off (0x8A) and 12 MHz with it on (0x8B) or on an FT2232D.
struct MpsseClock {
  bool divideBy5 = false;  // the H series' 12 MHz base; an FT2232D has no other
  uint16_t divisor = 0;
};

// The rate a setting gives.
uint32_t mpsseTckHz(bool highSpeed, MpsseClock clock);
// The fastest setting whose period, rounded up to whole ns as a --tck period is, is not shorter
// than periodNs: a rate asked exactly gets itself back, not the one below it. The 60 MHz base
// reaches down to 458 Hz, the 12 MHz one to 91.6 Hz; nothing for a period longer than that, as
// TCK must never run faster than asked.
std::optional<MpsseClock> mpsseClockForPeriod(bool highSpeed, uint32_t periodNs);

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
  // Drives the layout's nTRST pin low for kTrstHold, then back to its starting level, and waits
  // kTrstHold again before the next clock: the TAP is then in Test-Logic-Reset.
  void pulseTrst();

  // The TCK rate the adapter runs, or ran when last open, in Hz (0 until first opened).
  uint32_t tckHz() const { return tckHz_; }

  static constexpr uint32_t kDefaultTckHz = 6000000;
  // How long nTRST is held low, and then left to rise before the next clock. Boards filter nTRST
  // (a pull-up with a capacitor, a reset supervisor), so a level that lasts one pin write may
  // never reach the TAP. OpenOCD sets these per board as jtag_ntrst_assert_width and
  // jtag_ntrst_delay (ms); its board files use 10 ms low and 30 ms after (kindle2), 100 ms for an
  // RC circuit (telo). 10 ms is ten time constants of a 10 kOhm / 100 nF filter, and costs a job
  // (two pulses) 40 ms.
  static constexpr std::chrono::milliseconds kTrstHold{10};

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
