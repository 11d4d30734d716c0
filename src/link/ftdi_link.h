#pragma once

#include <cstdint>

#include "cable/ftdi_adapter.h"
#include "cable/ftdi_layout.h"
#include "link/jtag_link.h"

namespace zorv {

// The link as an FTDI chip in MPSSE mode: every TMS run and data shift goes to the MPSSE encoder
// as clocks, the TDO bits asked for come back at flush() (or sooner, when the answers waiting
// would overflow the chip's buffer). nTRST moves the layout's nTRST pin; a layout without one
// clocks five times with TMS high instead. The adapter is opened at grantAccess(); a transfer
// that fails (the adapter unplugged) is the link's failure, and captures then read 0xFF.
class FtdiLink : public JtagLink {
 public:
  // tckPeriodNs 0 runs TCK at FtdiAdapter::kDefaultTckHz.
  FtdiLink(const FtdiLayout& layout, FtdiOpener opener, uint32_t tckPeriodNs = 0)
      : adapter_(layout, std::move(opener), tckPeriodNs) {}

  bool grantAccess() override;
  // Closes the adapter, for another program to open.
  void release() override { adapter_.close(); }
  bool detect() override { return usable(); }
  void clockTms(uint32_t tmsBits, int count, bool tdi) override;
  void shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) override;
  void flush() override;
  // Every flush is a USB round trip: reads are worth gathering into runs.
  bool answersLate() const override { return true; }
  // One USB round trip (well under a millisecond) per poll, against waits of up to several
  // milliseconds that the worst case of a write-buffer program asks for.
  bool pollsCheaply() const override { return true; }
  bool hasTrst() const override { return adapter_.hasTrst(); }
  void pulseTrst() override;
  bool setsTckPeriod() const override { return true; }
  uint32_t tckPeriodNs() const override { return adapter_.tckHz() == 0 ? 0 : 1000000000u / adapter_.tckHz(); }

  // The TCK rate the adapter runs, or ran when last open, in Hz (0 until first opened).
  uint32_t tckHz() const { return adapter_.tckHz(); }
  const MpsseEncoder* encoder() const { return adapter_.encoderIfOpen(); }

 private:
  // Usable, or the failure noted.
  bool usable();

  FtdiAdapter adapter_;
};

}  // namespace zorv
