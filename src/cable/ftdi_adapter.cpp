#include "cable/ftdi_adapter.h"

#include <algorithm>
#include <cstdio>

namespace zorv {
namespace {

constexpr uint32_t kHighSpeedBaseHz = 60000000;
constexpr uint32_t kFullSpeedBaseHz = 12000000;
constexpr uint64_t kNanosecondsPerSecond = 1000000000;

}  // namespace

uint32_t mpsseTckHz(bool highSpeed, uint16_t divisor) {
  return (highSpeed ? kHighSpeedBaseHz : kFullSpeedBaseHz) / ((1u + divisor) * 2u);
}

uint16_t mpsseDivisorForPeriod(bool highSpeed, uint32_t periodNs) {
  const uint64_t base = highSpeed ? kHighSpeedBaseHz : kFullSpeedBaseHz;
  if (periodNs == 0) return 0;
  // A divisor's period 2 * (1 + d) / base, rounded up, reaches periodNs once it is above
  // periodNs - 1 ns; the smallest such d is the fastest rate that is not faster than asked.
  const uint64_t d = (uint64_t{periodNs} - 1) * base / (2 * kNanosecondsPerSecond);
  return static_cast<uint16_t>(std::min<uint64_t>(d, 0xFFFF));
}

FtdiAdapter::FtdiAdapter(const FtdiLayout& layout, FtdiOpener opener, uint32_t tckPeriodNs)
    : layout_(layout), opener_(std::move(opener)), tckPeriodNs_(tckPeriodNs) {}

FtdiAdapter::~FtdiAdapter() {
  if (encoder_) encoder_->flush();
}

void FtdiAdapter::close() {
  if (encoder_) encoder_->flush();
  encoder_.reset();
  device_ = FtdiDevice{};
}

std::string FtdiAdapter::cause() const {
  const std::string why = device_.transport ? device_.transport->cause() : std::string();
  return why.empty() ? "the FTDI adapter stopped answering" : why;
}

std::string FtdiAdapter::open() {
  if (usable()) return {};
  encoder_.reset();
  std::string why;
  device_ = opener_(why);
  if (!device_.transport) return why.empty() ? "the FTDI adapter cannot be opened" : why;
  encoder_.emplace(*device_.transport, device_.readWindow);
  const uint32_t periodNs =
      tckPeriodNs_ != 0 ? tckPeriodNs_ : static_cast<uint32_t>((kNanosecondsPerSecond + kDefaultTckHz - 1) / kDefaultTckHz);
  const uint16_t divisor = mpsseDivisorForPeriod(device_.highSpeed, periodNs);
  tckHz_ = mpsseTckHz(device_.highSpeed, divisor);
  if (tckPeriodNs_ != 0) {
    // Rounded up as the asked period was, so that a rate asked exactly is not reported as changed.
    const auto grantedNs = static_cast<uint32_t>((kNanosecondsPerSecond + tckHz_ - 1) / tckHz_);
    if (grantedNs != tckPeriodNs_) {
      std::fprintf(stderr, "ftdi: %s runs TCK with a period of %u ns (%u ns asked)\n", device_.name.c_str(),
                   grantedNs, tckPeriodNs_);
    }
  }
  encoder_->command({0x85});  // loopback off
  if (device_.highSpeed) encoder_->command({0x8A, 0x97, 0x8D});  // 60 MHz base, no adaptive, no 3-phase clock
  encoder_->command({0x86, static_cast<uint8_t>(divisor & 0xFF), static_cast<uint8_t>(divisor >> 8)});
  setPins(layout_.initValue, layout_.initDirection);
  if (!encoder_->flush()) return cause();
  return {};
}

void FtdiAdapter::setPins(uint16_t value, uint16_t direction) {
  encoder_->command({0x80, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(direction & 0xFF), 0x82,
                     static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(direction >> 8)});
}

void FtdiAdapter::holdTrst(bool asserted) {
  uint16_t pins = layout_.initValue;
  uint16_t directions = layout_.initDirection;
  if (asserted) assertTrst(layout_, pins, directions);
  setPins(pins, directions);
  if (!asserted) encoder_->tapWasReset();
}

}  // namespace zorv
