#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "sim/nor_chip.h"
#include "sim/pin_device.h"

namespace zorv::sim {

class Board;

// VESKAR's debug-access register: after its entry sequence it runs one framed bus access per data
// scan, on the bank-0 configuration register at 0x80000410 and on the byte-wide flash at 0.
// A read frame is answered while it is still being shifted: the data bits leave after the header.
class VeskarDebugRegister : public DataRegister {
 public:
  VeskarDebugRegister(Board& board, std::unique_ptr<NorChip> flash);

  void capture(uint64_t tck) override;
  bool tdo() const override;
  void shift(bool tdi) override;
  void update(uint64_t tck) override;

  NorChip* flash() { return flash_.get(); }
  bool debugMode() const { return entryStep_ == 3; }
  uint32_t configRegister() const { return config_; }

  // Faults: the entry sequence never takes; the configuration register keeps only these bits.
  void setEntryRefused(bool refused) { entryRefused_ = refused; }
  void setConfigMask(uint32_t mask) { configMask_ = mask; }

 private:
  static constexpr size_t kMaxFrame = 1024;

  uint32_t bits(size_t at, int width) const;
  bool frameIs(const char* text) const;
  void answerRead();
  uint32_t readWord(uint32_t address) const;
  void writeWord(uint32_t address, uint32_t value);

  Board& board_;
  std::unique_ptr<NorChip> flash_;
  std::array<uint8_t, kMaxFrame> in_{};
  std::array<uint8_t, kMaxFrame> out_{};
  size_t length_ = 0;
  uint64_t captureTck_ = 0;
  int entryStep_ = 0;
  bool entryRefused_ = false;
  uint32_t config_ = 0x00000007;
  uint32_t configMask_ = 0xFFFFFFFF;
};

}  // namespace zorv::sim
