#include "sim/veskar_debug.h"

#include <cstring>
#include <string>

#include "sim/board.h"

namespace zorv::sim {
namespace {

constexpr uint32_t kConfigRegister = 0x80000410;
constexpr size_t kHeaderBits = 52;

// Operations, as shifted (character 0 first).
constexpr const char* kByteRead = "10101";
constexpr const char* kByteWrite = "10110";
constexpr const char* kWordRead = "10001";
constexpr const char* kWordWrite = "10010";

}  // namespace

VeskarDebugRegister::VeskarDebugRegister(Board& board, std::unique_ptr<NorChip> flash)
    : board_(board), flash_(std::move(flash)) {
  if (flash_) flash_->setViolationSink([this](const std::string& text) { board_.reportViolation(text); });
}

void VeskarDebugRegister::capture(uint64_t tck) {
  length_ = 0;
  captureTck_ = tck;
  out_.fill(0);
}

bool VeskarDebugRegister::tdo() const { return length_ < kMaxFrame && out_[length_] != 0; }

void VeskarDebugRegister::shift(bool tdi) {
  if (length_ < kMaxFrame) in_[length_] = tdi ? 1 : 0;
  ++length_;
  if (length_ == kHeaderBits) answerRead();
}

uint32_t VeskarDebugRegister::bits(size_t at, int width) const {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 1) | in_[at + static_cast<size_t>(i)];
  return value;
}

bool VeskarDebugRegister::frameIs(const char* text) const {
  const size_t n = std::strlen(text);
  if (length_ < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (in_[i] != (text[i] == '1' ? 1 : 0)) return false;
  }
  return true;
}

uint32_t VeskarDebugRegister::readWord(uint32_t address) const {
  return address == kConfigRegister ? config_ : 0;
}

void VeskarDebugRegister::writeWord(uint32_t address, uint32_t value) {
  if (address == kConfigRegister) {
    config_ = value & configMask_;
  } else {
    board_.reportViolation("VESKAR: word write to an unmapped address");
  }
}

void VeskarDebugRegister::answerRead() {
  if (!debugMode()) return;
  const uint32_t address = bits(16, 32);
  const uint32_t count = bits(48, 4);
  if (frameIs(kByteRead)) {
    for (uint32_t j = 0; j < count; ++j) {
      uint32_t value = 0;
      // The flash answers in the first 512 MB; elsewhere nothing drives the bus.
      if (flash_ && address + j < 0x20000000u) {
        value = flash_->read(address + j, captureTck_ + length_) & 0xFF;
      }
      for (int b = 0; b < 8; ++b) out_[63 + 10 * j + static_cast<size_t>(b)] = (value >> (7 - b)) & 1u;
    }
  } else if (frameIs(kWordRead)) {
    for (uint32_t j = 0; j < count; ++j) {
      const uint32_t value = readWord(address + 4 * j);
      for (int b = 0; b < 32; ++b) out_[87 + 34 * j + static_cast<size_t>(b)] = (value >> (31 - b)) & 1u;
    }
  }
}

void VeskarDebugRegister::update(uint64_t tck) {
  if (!debugMode() || length_ <= 6) {
    // The entry sequence: three short scans in a row (sent again by every job).
    if (length_ == 5 && bits(0, 5) == 0b00000) {
      entryStep_ = 1;
    } else if (entryStep_ == 1 && length_ == 6 && bits(0, 6) == 0b100101) {
      entryStep_ = 2;
    } else if (entryStep_ == 2 && length_ == 5 && bits(0, 5) == 0b00011) {
      entryStep_ = entryRefused_ ? 0 : 3;
    } else {
      entryStep_ = 0;
    }
    return;
  }
  const uint32_t address = length_ >= 48 ? bits(16, 32) : 0;
  if (frameIs(kByteWrite)) {
    if (length_ != 69 || in_[68] != 1) {
      board_.reportViolation("VESKAR: byte-write frame of " + std::to_string(length_) + " bits");
      return;
    }
    if (flash_ && address < 0x20000000u) flash_->write(address, bits(52, 8), tck);
  } else if (frameIs(kWordWrite)) {
    if (length_ != 117 || in_[116] != 1) {
      board_.reportViolation("VESKAR: word-write frame of " + std::to_string(length_) + " bits");
      return;
    }
    writeWord(address, bits(52, 32));
  } else if (frameIs(kByteRead) || frameIs(kWordRead)) {
    const size_t itemBits = frameIs(kByteRead) ? 10 : 34;
    const size_t head = frameIs(kByteRead) ? 60 : 84;
    const size_t expected = head + itemBits * bits(48, 4) + 1;
    if (length_ != expected || in_[expected - 1] != 1) {
      board_.reportViolation("VESKAR: read frame of " + std::to_string(length_) + " bits");
    }
  } else {
    board_.reportViolation("VESKAR: unknown debug frame");
  }
}

}  // namespace zorv::sim
