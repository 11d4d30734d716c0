#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cable/port_io.h"
#include "sim/chain_tap.h"
#include "sim/pin_device.h"
#include "sim/sim_chip.h"
#include "sim/tap_state.h"

namespace zorv::sim {

// Another device on the chain: its instruction length and, where it has one, its IDCODE.
struct OtherTap {
  int instructionLength = 0;
  std::optional<uint32_t> idcode;
};

struct DescribedBoard;

struct BoardOptions {
  TargetProduct chip = Obrin;
  // A board read from a board file and its chip's BSDL file (board=FILE); null: chip's own board.
  std::shared_ptr<const DescribedBoard> described;
  // The other devices on the chain, nearest TDO first; the chip sits at chipPosition among them
  // (0: nearest TDO).
  std::vector<OtherTap> otherTaps;
  int chipPosition = 0;
  bool portPresent = true;   // false: nothing answers at the parallel port
  bool boardPresent = true;  // false: a cable with no board (TDO pulled up)
  int tdoStuck = -1;         // -1 normal, 0 or 1: TDO stuck at that level
  // key=value options for the devices on the board, consumed by their attach functions.
  std::map<std::string, std::string> deviceOptions;
};

// Parses "chip=TQR2400,noport,noboard,tdo=0,chain=8:target:5/0x06413041,..." (any order; keys
// the devices know go to deviceOptions). Throws std::invalid_argument with a readable message on a bad option.
BoardOptions parseBoardOptions(const std::string& text);

// A board as a JTAG probe sees it, played bit by bit from the cable's port bytes: the data port
// drives TDI/TMS/TCK/nTRST, the status port returns TDO on bit 6. TDO changes on the falling TCK
// edge, the TAP moves on the rising one.
class Board : public PortIo {
 public:
  explicit Board(const BoardOptions& options);
  ~Board() override;

  void write(uint16_t port, uint8_t value) override;
  uint8_t read(uint16_t port) override;

  // Attaches a device to the boundary-scan cells; the board owns it.
  PinDevice& attach(std::unique_ptr<PinDevice> device);
  // Attaches the register behind kDebugInstruction.
  void attachDebugRegister(std::unique_ptr<DataRegister> reg);

  // Test and tooling view.
  const BoardOptions& options() const { return options_; }
  const SimChip& chip() const { return chip_; }
  TapState tapState() const { return state_; }
  uint32_t instruction() const { return instruction_; }
  uint64_t tckCount() const { return tck_; }
  bool extestActive() const { return extest_; }
  // The levels the boundary register drives, '0'/'1' per cell.
  const std::string& drivenPins() const { return latch_; }
  // Per cell: was it ever driven '0' / '1' at an Update-DR while EXTEST was in force.
  const std::vector<bool>& everLow() const { return everLow_; }
  const std::vector<bool>& everHigh() const { return everHigh_; }
  void clearPinHistory();
  uint64_t updateCount() const { return updates_; }
  // Update-IR with EXTEST: from then on the boundary register's latches drive the pins.
  uint64_t extestLoads() const { return extestLoads_; }
  // The latches as the first EXTEST put them on the pins; empty before it.
  const std::string& firstExtestLatches() const { return firstExtestLatches_; }
  // The level on the cable's TDO (the device nearest TDO).
  bool tdoLevel() const { return levelAt(0); }
  // The other devices on the chain, nearest TDO first (the chip not among them).
  const std::vector<ChainTap>& otherTaps() const { return others_; }
  // Each Update-DR of the boundary register once recording is asked for: how many bits were
  // shifted in since its Capture-DR (a whole scan shifts exactly the register's length) and the
  // mark given last, so that a test can tell which job's scans reached the pins.
  struct BoundaryUpdate {
    uint64_t shiftedBits;
    int mark;
  };
  void recordBoundaryUpdates() { recording_ = true; }
  void markUpdates(int mark) { mark_ = mark; }
  const std::vector<BoundaryUpdate>& boundaryUpdates() const { return boundaryUpdates_; }

  // From now on TDO reads level, as a line that sticks or a glitch would make it: for the next scans
  // data-register updates, or for good when scans is 0. A device calls it at the point a test chose.
  void forceTdo(bool level, uint32_t scans);

  // Protocol violations seen by the devices (for example a bus driven from both ends).
  void reportViolation(const std::string& text);
  const std::vector<std::string>& violations() const { return violations_; }

 private:
  void risingEdge(bool tms, bool tdi);
  void fallingEdge();
  void resetTap();
  void captureDr();
  void updateDr();
  void updateIr();
  void setExtest(bool active);
  // Chain positions count from TDO; the chip is at options_.chipPosition.
  int lastPosition() const { return static_cast<int>(others_.size()); }
  ChainTap& otherAt(int position) { return others_[static_cast<size_t>(position < chipPosition_ ? position : position - 1)]; }
  const ChainTap& otherAt(int position) const {
    return others_[static_cast<size_t>(position < chipPosition_ ? position : position - 1)];
  }
  bool levelAt(int position) const { return position == chipPosition_ ? tdo_ : otherAt(position).tdo(); }

  BoardOptions options_;
  SimChip chip_;
  std::vector<ChainTap> others_;
  int chipPosition_;
  std::vector<std::unique_ptr<PinDevice>> devices_;
  std::unique_ptr<DataRegister> debugRegister_;
  std::vector<std::string> violations_;

  uint8_t lastData_ = 0xFF;
  bool wroteData_ = false;
  TapState state_ = TapState::TestLogicReset;
  uint64_t tck_ = 0;
  bool tdo_ = true;
  int forcedTdo_ = -1;              // -1 none, else the level TDO reads
  uint32_t forcedScansLeft_ = 0;    // 0: forced for good

  uint32_t instruction_;
  uint32_t irShift_ = 0;
  bool extest_ = false;
  bool preload_ = false;  // SAMPLE/PRELOAD: the boundary register is selected, the pins are the chip's

  enum class Selected : uint8_t { Idcode, Bypass, Boundary, Debug };
  Selected selected_ = Selected::Idcode;
  uint32_t idShift_ = 0;
  bool bypassBit_ = false;

  // Boundary register: a ring so that each shifted bit costs O(1). ringPos_ is the cell now at TDO.
  std::string ring_;
  int ringPos_ = 0;
  std::string latch_;
  std::vector<bool> everLow_;
  std::vector<bool> everHigh_;
  uint64_t updates_ = 0;
  uint64_t extestLoads_ = 0;
  std::string firstExtestLatches_;
  uint64_t shiftedBits_ = 0;  // into the boundary register since its Capture-DR
  bool recording_ = false;
  int mark_ = 0;
  std::vector<BoundaryUpdate> boundaryUpdates_;
};

// The contents of a file a board option names (nandload=FILE, norload=FILE); throws
// std::invalid_argument naming the option when it cannot be read, is not a regular file or holds
// more than maxBytes.
std::vector<uint8_t> readBoardFile(const std::string& key, const std::string& path, uint64_t maxBytes);

// Builds a board from an option text (as after "sim:"), with every device its options ask for.
std::unique_ptr<Board> makeBoard(const std::string& optionsText);

// Device attach hooks: each takes the options it knows out of deviceOptions.
void attachNandFromOptions(Board& board, BoardOptions& options);
void attachNorFromOptions(Board& board, BoardOptions& options);

}  // namespace zorv::sim
