#pragma once

#include <cstdint>
#include <memory>

#include "cable/cable_pins.h"
#include "cable/port_io.h"
#include "link/jtag_link.h"

namespace zorv {

// The link over a parallel-port cable, reached through its port bytes: TDI on data bit 0, TMS bit
// 1, TCK bit 2, nTRST bit 3 (active low), TDO on status bit 6. Every clock is two data-port writes
// (TCK low with the new TMS and TDI, then TCK high); a capturing shift reads the status port once
// after each of its clocks. lpt, ppdev and the in-process virtual board all play scans this way,
// so their port bytes are the same. Nothing here waits or allocates: this is the hot path.
class ParallelPortLink : public JtagLink {
 public:
  explicit ParallelPortLink(PortIo& port) : io_(port) {}
  // A link that owns its port (a cable opened for the whole process).
  explicit ParallelPortLink(std::unique_ptr<PortIo> port) : owned_(std::move(port)), io_(*owned_) {}

  bool grantAccess() override { return io_.grantAccess(); }
  void release() override { io_.release(); }
  bool detect() override;
  void clockTms(uint32_t tmsBits, int count, bool tdi) override {
    for (int i = 0; i < count; ++i) clock(((tmsBits >> i) & 1) != 0, tdi);
  }
  void shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) override;
  void flush() override { io_.flush(); }
  void pulseTrst() override;

  const std::string& linkFailure() const override { return io_.linkFailure(); }
  void watchStopFlag(const std::atomic<int>* flag) override { io_.watchStopFlag(flag); }

  PortIo& port() { return io_; }
  const PortIo& port() const { return io_; }

 private:
  void clock(bool tms, bool tdi) {
    const auto v = static_cast<uint8_t>((tdi ? kTdiBit : 0) | (tms ? kTmsBit : 0) | kTrstReleasedBit);
    io_.write(kLptDataPort, v);
    io_.write(kLptDataPort, v | kTckBit);
  }

  std::unique_ptr<PortIo> owned_;
  PortIo& io_;
};

}  // namespace zorv
