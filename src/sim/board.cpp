#include "sim/board.h"

#include <cstring>

#include "sim/described_board.h"
#include "sim/lpt_pins.h"
namespace zorv::sim {
namespace {
constexpr uint8_t kIrCapture = 0x1;  // the two low bits of every IR capture are 01
}  // namespace

Board::Board(const BoardOptions& options)
    : options_(options),
      chip_(options.described ? describedChip(*options.described) : simChip(options.chip)),
      chipPosition_(options.chipPosition),
      instruction_(chip_.idcodeInstruction),
      ring_(static_cast<size_t>(chip_.boundaryLength), '0'),
      latch_(static_cast<size_t>(chip_.boundaryLength), '0'),
      everLow_(static_cast<size_t>(chip_.boundaryLength), false),
      everHigh_(static_cast<size_t>(chip_.boundaryLength), false) {
  for (const OtherTap& tap : options.otherTaps) others_.emplace_back(tap.instructionLength, tap.idcode);
  resetTap();
}

Board::~Board() = default;

PinDevice& Board::attach(std::unique_ptr<PinDevice> device) {
  devices_.push_back(std::move(device));
  return *devices_.back();
}

void Board::attachDebugRegister(std::unique_ptr<DataRegister> reg) { debugRegister_ = std::move(reg); }

void Board::reportViolation(const std::string& text) { violations_.push_back(text); }

void Board::forceTdo(bool level, uint32_t scans) {
  forcedTdo_ = level ? 1 : 0;
  forcedScansLeft_ = scans;
}

void Board::clearPinHistory() {
  everLow_.assign(everLow_.size(), false);
  everHigh_.assign(everHigh_.size(), false);
}

uint8_t Board::read(uint16_t port) {
  if (!options_.portPresent) return 0xFF;
  if (port == kLptDataPort) return wroteData_ ? lastData_ : 0xFF;
  if (port == kLptStatusPort) {
    bool level = levelAt(0);
    if (!options_.boardPresent) level = true;
    if (options_.tdoStuck >= 0) level = options_.tdoStuck != 0;
    if (forcedTdo_ >= 0) level = forcedTdo_ != 0;
    return static_cast<uint8_t>(0x87 | (level ? kTdo : 0x00));
  }
  return 0xFF;
}

void Board::write(uint16_t port, uint8_t value) {
  if (port != kLptDataPort || !options_.portPresent) return;
  const uint8_t previous = lastData_;
  lastData_ = value;
  wroteData_ = true;
  if (!options_.boardPresent) return;
  if (!(value & kTrst)) {
    if (state_ != TapState::TestLogicReset) resetTap();
    return;
  }
  if ((previous ^ value) & kTck) {
    if (value & kTck) {
      risingEdge((value & kTms) != 0, (value & kTdi) != 0);
    } else {
      fallingEdge();
    }
  }
}

void Board::fallingEdge() {
  for (ChainTap& tap : others_) tap.fallingEdge(state_);
  if (state_ == TapState::ShiftDr) {
    switch (selected_) {
      case Selected::Boundary: tdo_ = ring_[static_cast<size_t>(ringPos_)] == '1'; break;
      case Selected::Idcode: tdo_ = (idShift_ & 1u) != 0; break;
      case Selected::Bypass: tdo_ = bypassBit_; break;
      case Selected::Debug: tdo_ = debugRegister_->tdo(); break;
    }
  } else if (state_ == TapState::ShiftIr) {
    tdo_ = (irShift_ & 1u) != 0;
  }
}

void Board::risingEdge(bool tms, bool cableTdi) {
  ++tck_;
  // Each device takes the level the one upstream (nearer TDI) presents; no level changes before
  // the falling edge, so the order of the devices does not matter.
  const int last = lastPosition();
  const bool tdi = chipPosition_ == last ? cableTdi : levelAt(chipPosition_ + 1);
  for (int p = 0; p <= last; ++p) {
    if (p != chipPosition_) otherAt(p).risingEdge(state_, p == last ? cableTdi : levelAt(p + 1));
  }
  // Work of the current state happens on the edge that leaves it.
  switch (state_) {
    case TapState::CaptureDr: captureDr(); break;
    case TapState::ShiftDr:
      switch (selected_) {
        case Selected::Boundary:
          ring_[static_cast<size_t>(ringPos_)] = tdi ? '1' : '0';
          if (++ringPos_ == chip_.boundaryLength) ringPos_ = 0;
          ++shiftedBits_;
          break;
        case Selected::Idcode: idShift_ = (idShift_ >> 1) | (tdi ? 0x80000000u : 0u); break;
        case Selected::Bypass: bypassBit_ = tdi; break;
        case Selected::Debug: debugRegister_->shift(tdi); break;
      }
      break;
    case TapState::CaptureIr: irShift_ = kIrCapture; break;
    case TapState::ShiftIr:
      irShift_ = (irShift_ >> 1) | (tdi ? uint32_t{1} << (chip_.instructionLength - 1) : 0u);
      break;
    default: break;
  }
  const TapState next = nextTapState(state_, tms);
  state_ = next;
  for (ChainTap& tap : others_) tap.entered(next);
  if (next == TapState::UpdateDr) updateDr();
  if (next == TapState::UpdateIr) updateIr();
  if (next == TapState::TestLogicReset) resetTap();
}

void Board::resetTap() {
  state_ = TapState::TestLogicReset;
  for (ChainTap& tap : others_) tap.reset();
  instruction_ = chip_.idcodeInstruction;
  selected_ = Selected::Idcode;
  setExtest(false);
}

void Board::setExtest(bool active) {
  if (extest_ && !active) {
    for (auto& device : devices_) device->pinsReleased(tck_);
  }
  extest_ = active;
}

void Board::updateIr() {
  instruction_ = irShift_;
  preload_ = instruction_ == chip_.preloadInstruction && instruction_ != chip_.extestInstruction;
  if (instruction_ == chip_.extestInstruction || preload_) {
    selected_ = Selected::Boundary;
  } else if (instruction_ == chip_.idcodeInstruction) {
    selected_ = Selected::Idcode;
  } else if (instruction_ == kDebugInstruction && chip_.hasDebugAccess && debugRegister_) {
    selected_ = Selected::Debug;
  } else {
    selected_ = Selected::Bypass;
  }
  if (instruction_ == chip_.extestInstruction) {
    ++extestLoads_;
    if (firstExtestLatches_.empty()) firstExtestLatches_ = latch_;
  }
  setExtest(instruction_ == chip_.extestInstruction);
}

void Board::captureDr() {
  switch (selected_) {
    case Selected::Boundary: {
      ring_ = latch_;
      ringPos_ = 0;
      shiftedBits_ = 0;
      for (auto& device : devices_) device->capturePins(ring_.data(), chip_.boundaryLength, tck_);
      break;
    }
    case Selected::Idcode: idShift_ = chip_.idcode; break;
    case Selected::Bypass: bypassBit_ = false; break;
    case Selected::Debug: debugRegister_->capture(tck_); break;
  }
}

void Board::updateDr() {
  // A glitch ends after its scans; counted before the devices see this update, so a device that
  // forces TDO now starts the count with the next scan.
  if (forcedTdo_ >= 0 && forcedScansLeft_ != 0 && --forcedScansLeft_ == 0) forcedTdo_ = -1;
  switch (selected_) {
    case Selected::Boundary: {
      // Cell i holds the bit now i places from TDO.
      const size_t n = latch_.size();
      const size_t pos = static_cast<size_t>(ringPos_);
      std::memcpy(latch_.data(), ring_.data() + pos, n - pos);
      std::memcpy(latch_.data() + (n - pos), ring_.data(), pos);
      // Preloaded latches wait for EXTEST; the pins stay the chip's own until then.
      if (preload_) break;
      ++updates_;
      if (recording_) boundaryUpdates_.push_back({shiftedBits_, mark_});
      for (size_t i = 0; i < n; ++i) {
        if (latch_[i] == '1') {
          everHigh_[i] = true;
        } else {
          everLow_[i] = true;
        }
      }
      for (auto& device : devices_) device->pinsUpdated(latch_.data(), chip_.boundaryLength, tck_);
      break;
    }
    case Selected::Debug: debugRegister_->update(tck_); break;
    default: break;
  }
}

}  // namespace zorv::sim
