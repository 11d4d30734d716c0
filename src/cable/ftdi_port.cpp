#include "cable/ftdi_port.h"

#include <algorithm>
#include <cstdio>

#include "cable/cable_pins.h"

namespace zorv {
namespace {

constexpr uint32_t kHighSpeedBaseHz = 60000000;
constexpr uint32_t kFullSpeedBaseHz = 12000000;

}  // namespace

uint32_t mpsseTckHz(bool highSpeed, uint16_t divisor) {
  return (highSpeed ? kHighSpeedBaseHz : kFullSpeedBaseHz) / ((1u + divisor) * 2u);
}

uint16_t mpsseDivisorFor(bool highSpeed, uint32_t hz) {
  const uint64_t base = highSpeed ? kHighSpeedBaseHz : kFullSpeedBaseHz;
  if (hz == 0) return 0xFFFF;
  // The smallest divisor whose rate base / (2 * (1 + d)) is not above hz.
  const uint64_t d = (base + 2 * uint64_t{hz} - 1) / (2 * uint64_t{hz});
  return static_cast<uint16_t>(std::clamp<uint64_t>(d, 1, 0x10000) - 1);
}

FtdiPort::FtdiPort(const FtdiLayout& layout, FtdiOpener opener, uint32_t tckPeriodNs)
    : layout_(layout), opener_(std::move(opener)), tckPeriodNs_(tckPeriodNs) {}

FtdiPort::~FtdiPort() {
  if (encoder_) encoder_->flush();
}

bool FtdiPort::grantAccess() {
  if (encoder_ && !encoder_->failed()) return true;
  encoder_.reset();
  std::string cause;
  device_ = opener_(cause);
  if (!device_.transport) {
    noteLinkFailure(cause);
    return true;  // the port answers as absent, and the job names the cause
  }
  clearLinkFailure();
  encoder_.emplace(*device_.transport, device_.readWindow);
  setUp();
  return true;
}

void FtdiPort::setUp() {
  const uint32_t askedHz = tckPeriodNs_ == 0 ? kDefaultTckHz : static_cast<uint32_t>(1000000000u / tckPeriodNs_);
  const uint16_t divisor = mpsseDivisorFor(device_.highSpeed, askedHz);
  tckHz_ = mpsseTckHz(device_.highSpeed, divisor);
  if (tckPeriodNs_ != 0) {
    const uint32_t grantedNs = 1000000000u / tckHz_;
    if (grantedNs != tckPeriodNs_) {
      std::fprintf(stderr, "ftdi: %s runs TCK with a period of %u ns (%u ns asked)\n", device_.name.c_str(),
                   grantedNs, tckPeriodNs_);
    }
  }
  encoder_->command({0x85});  // loopback off
  if (device_.highSpeed) encoder_->command({0x8A, 0x97, 0x8D});  // 60 MHz base, no adaptive, no 3-phase clock
  encoder_->command({0x86, static_cast<uint8_t>(divisor & 0xFF), static_cast<uint8_t>(divisor >> 8)});
  setPins(layout_.initValue, layout_.initDirection);
  lastData_ = 0xFF;
  trstHeld_ = false;
  if (!encoder_->flush()) close(device_.transport->cause());
}

void FtdiPort::setPins(uint16_t value, uint16_t direction) {
  encoder_->command({0x80, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(direction & 0xFF), 0x82,
                     static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(direction >> 8)});
}

void FtdiPort::close(const std::string& cause) {
  noteLinkFailure(cause.empty() ? "the FTDI adapter stopped answering" : cause);
}

void FtdiPort::write(uint16_t port, uint8_t value) {
  if (port != kLptDataPort || !encoder_ || encoder_->failed()) return;
  const uint8_t before = lastData_;
  lastData_ = value;
  if (!(value & kTrstReleasedBit)) {
    if (!trstHeld_ && layout_.trst.wired()) {
      uint16_t pins = layout_.initValue;
      uint16_t directions = layout_.initDirection;
      assertTrst(layout_, pins, directions);
      setPins(pins, directions);
    }
    trstHeld_ = true;  // the TAP is held in reset: clocks meanwhile do nothing
    return;
  }
  if (trstHeld_) {
    trstHeld_ = false;
    if (layout_.trst.wired()) {
      setPins(layout_.initValue, layout_.initDirection);
      encoder_->tapWasReset();
    } else {
      for (int i = 0; i < 5; ++i) encoder_->clock(true, false);
    }
  }
  if ((value & kTckBit) && !(before & kTckBit)) encoder_->clock((value & kTmsBit) != 0, (value & kTdiBit) != 0);
  if (encoder_->failed()) close(device_.transport->cause());
}

uint8_t FtdiPort::read(uint16_t port) {
  if (!encoder_ || encoder_->failed()) return 0xFF;
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
  if (!encoder_ || encoder_->failed() || port != kLptStatusPort) {
    *dest = read(port);
    return;
  }
  encoder_->captureLast(dest, kTdoStatusBit);
}

void FtdiPort::flush() {
  if (encoder_ && !encoder_->flush()) close(device_.transport->cause());
}

}  // namespace zorv
