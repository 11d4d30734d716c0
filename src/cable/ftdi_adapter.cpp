#include "cable/ftdi_adapter.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace zorv {
namespace {

constexpr uint32_t kHighSpeedBaseHz = 60000000;
constexpr uint32_t kFullSpeedBaseHz = 12000000;
constexpr uint64_t kNanosecondsPerSecond = 1000000000;

}  // namespace

uint32_t mpsseTckHz(bool highSpeed, MpsseClock clock) {
  const uint32_t base = highSpeed && !clock.divideBy5 ? kHighSpeedBaseHz : kFullSpeedBaseHz;
  return base / ((1u + clock.divisor) * 2u);
}

std::optional<MpsseClock> mpsseClockForPeriod(bool highSpeed, uint32_t periodNs) {
  if (periodNs == 0) return MpsseClock{};
  // A divisor's period 2 * (1 + d) / base, rounded up, reaches periodNs once it is above
  // periodNs - 1 ns; the smallest such d is the fastest rate that is not faster than asked.
  const auto divisor = [periodNs](uint64_t base) { return (uint64_t{periodNs} - 1) * base / (2 * kNanosecondsPerSecond); };
  if (highSpeed && divisor(kHighSpeedBaseHz) <= 0xFFFF) {
    return MpsseClock{false, static_cast<uint16_t>(divisor(kHighSpeedBaseHz))};
  }
  if (divisor(kFullSpeedBaseHz) <= 0xFFFF) return MpsseClock{highSpeed, static_cast<uint16_t>(divisor(kFullSpeedBaseHz))};
  return std::nullopt;
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
  const uint32_t periodNs =
      tckPeriodNs_ != 0 ? tckPeriodNs_ : static_cast<uint32_t>((kNanosecondsPerSecond + kDefaultTckHz - 1) / kDefaultTckHz);
  const std::optional<MpsseClock> clock = mpsseClockForPeriod(device_.highSpeed, periodNs);
  if (!clock) {
    char text[160];
    std::snprintf(text, sizeof text, "the %s runs TCK at 91.6 Hz at the slowest; %.0f Hz asked", device_.name.c_str(),
                  static_cast<double>(kNanosecondsPerSecond) / periodNs);
    return text;
  }
  tckHz_ = mpsseTckHz(device_.highSpeed, *clock);
  if (tckPeriodNs_ != 0) {
    // Rounded up as the asked period was, so that a rate asked exactly is not reported as changed.
    const auto grantedNs = static_cast<uint32_t>((kNanosecondsPerSecond + tckHz_ - 1) / tckHz_);
    if (grantedNs != tckPeriodNs_) {
      std::fprintf(stderr, "ftdi: %s runs TCK with a period of %u ns (%u ns asked)\n", device_.name.c_str(),
                   grantedNs, tckPeriodNs_);
    }
  }
  encoder_.emplace(*device_.transport, device_.readWindow);
  encoder_->command({0x85});  // loopback off
  if (device_.highSpeed) {
    // The base clock, no adaptive clocking, no 3-phase clocking.
    encoder_->command({static_cast<uint8_t>(clock->divideBy5 ? 0x8B : 0x8A), 0x97, 0x8D});
  }
  encoder_->command({0x86, static_cast<uint8_t>(clock->divisor & 0xFF), static_cast<uint8_t>(clock->divisor >> 8)});
  setPins(layout_.initValue, layout_.initDirection);
  if (!encoder_->flush()) return cause();
  return {};
}

void FtdiAdapter::setPins(uint16_t value, uint16_t direction) {
  encoder_->command({0x80, static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(direction & 0xFF), 0x82,
                     static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(direction >> 8)});
}

void FtdiAdapter::pulseTrst() {
  uint16_t pins = layout_.initValue;
  uint16_t directions = layout_.initDirection;
  assertTrst(layout_, pins, directions);
  setPins(pins, directions);
  // Timed from when the chip has driven the pin, not from when the command left: the clocks
  // queued before it may take long at a slow TCK.
  if (!encoder_->sync()) return;
  std::this_thread::sleep_for(kTrstHold);
  setPins(layout_.initValue, layout_.initDirection);
  encoder_->tapWasReset();
  if (!encoder_->sync()) return;
  std::this_thread::sleep_for(kTrstHold);
}

}  // namespace zorv
