#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "sim/pin_device.h"
#include "targets/target_product.h"

namespace zorv::sim {

class Board;

// Where a NAND device's lines meet a chip's boundary-scan cells, as the board's schematic has them.
struct NandWiring {
  int ce, we, re, rb, cle, ale;
  int data[8];       // I/O0..I/O7
  int direction[8];  // the chip's direction cell of each data line
  char driveLevel;   // direction character with which the chip drives the line
};
const NandWiring& nandWiring(TargetProduct chip);

struct NandGeometry {
  uint8_t deviceCode;
  uint32_t pageSize;       // main area
  uint32_t spareSize;      // per page
  uint32_t pagesPerBlock;
  uint32_t blockCount;
  int pageCycles;          // address cycles of a page access (column and row)
  int rowCycles;           // address cycles of an erase (row only)
  bool largePage;
  uint32_t mainSize() const { return pageSize * pagesPerBlock * blockCount; }
  uint32_t blockSize() const { return pageSize * pagesPerBlock; }
};
// Null for a device code the board cannot carry.
const NandGeometry* nandGeometry(uint8_t deviceCode);

struct NandDeviceConfig {
  uint8_t deviceCode = 0xDA;
  uint8_t makerCode = 0xEC;
  std::set<uint32_t> factoryBadBlocks;  // marker and data 0x00; erase and program fail
  std::set<uint32_t> markOnlyBlocks;    // factory marker only: erase works and clears it
  std::set<uint32_t> secondPageMarkBlocks;  // as markOnlyBlocks, the marker in the second page only
  std::set<uint32_t> eraseFailBlocks;   // erase reports failure, contents stay
  std::set<uint32_t> programFailBlocks; // program reports failure, contents stay
  bool stuckBusy = false;               // R/B never rises
  // The operation started after the hangAfterCount-th command hangAfter keeps R/B low until a
  // reset (0 for none).
  uint8_t hangAfter = 0;
  uint32_t hangAfterCount = 1;
  // Fourth ID byte reported instead of the part's own; a large-page part then takes the page and
  // block size it gives.
  bool idByte4Set = false;
  uint8_t idByte4 = 0;
  // With forceTdo, after the tdoAfterCount-th command tdoAfter the board's TDO reads tdoLevel: for
  // tdoScans scans (a glitch), or for good when tdoScans is 0.
  bool forceTdo = false;
  uint8_t tdoAfter = 0;
  uint32_t tdoAfterCount = 1;
  bool tdoLevel = true;
  uint32_t tdoScans = 0;
  // The forced TDO starts at the first data read (nRE falling) after that command instead, once
  // R/B has said ready: a glitch that hits the byte read, such as a bad-block marker.
  bool tdoAtRead = false;
  // WP# held low, from the start or from the writeProtectAfterCount-th command writeProtectAfter
  // on: program and erase change nothing, R/B stays high and the status reports the failure;
  // status I/O7 reads 0, "protected" (Samsung K9F5608U0A table 2, K9F1208U0C table 4).
  bool writeProtect = false;
  bool writeProtectLater = false;
  uint8_t writeProtectAfter = 0;
  uint32_t writeProtectAfterCount = 1;
  // Programs leave the spare area as it was, as a part or a path that drops spare bytes would.
  bool dropSpare = false;
  bool flipBit = false;                 // reads of main byte flipAddress come back XOR flipMask
  uint32_t flipAddress = 0;
  uint8_t flipMask = 0x01;
};

// An 8-bit NAND flash on the chip's external bus. It latches commands, addresses and data on the
// rising edge of nWE, puts data out while nRE is low, and keeps time in TCK edges: R/B stays low for
// a fixed number of edges after a read, program, erase or reset starts. Storage is sparse (a page
// that was never programmed reads erased), so a 1 GiB device costs only what is written. Protocol
// slips are reported to the board as violations.
class NandDevice : public PinDevice {
 public:
  NandDevice(Board& board, const NandWiring& wiring, const NandDeviceConfig& config);

  void pinsUpdated(const char* cells, int count, uint64_t tck) override;
  void capturePins(char* cells, int count, uint64_t tck) override;
  void pinsReleased(uint64_t tck) override;

  // Test view.
  const NandGeometry& geometry() const { return geometry_; }
  const NandDeviceConfig& config() const { return config_; }
  // Main-area bytes as stored (no flipped bit), count from address on.
  std::vector<uint8_t> mainBytes(uint32_t address, uint32_t count) const;
  uint8_t spareByte(uint32_t page, uint32_t offset) const;
  // Stores bytes as if an earlier program had left them (for tests that need old contents).
  void preload(uint32_t address, const std::vector<uint8_t>& bytes);
  // Likewise for the spare area of a page, from its first spare byte on.
  void preloadSpare(uint32_t page, const std::vector<uint8_t>& bytes);
  // Pages that hold anything but erased bytes, in ascending order.
  std::vector<uint32_t> storedPages() const;
  // Every erase (block number) and program (page number) the device carried out or refused.
  const std::vector<uint32_t>& eraseLog() const { return eraseLog_; }
  const std::vector<uint32_t>& programLog() const { return programLog_; }
  // How many erases the device had carried out when TDO was forced (none yet: -1).
  int64_t erasesWhenTdoForced() const { return erasesWhenTdoForced_; }
  bool ready(uint64_t tck) const { return !config_.stuckBusy && !hung_ && tck >= busyUntil_; }

  // R/B low time of each operation, in TCK edges.
  static constexpr uint64_t kReadBusy = 600;
  static constexpr uint64_t kProgramBusy = 1500;
  static constexpr uint64_t kEraseBusy = 3000;
  static constexpr uint64_t kResetBusy = 64;

 private:
  enum class Phase { Idle, IdAddress, ReadAddress, ProgramAddress, ProgramData, EraseAddress };
  enum class Output { None, Id, Page, Status };

  void command(uint8_t value, uint64_t tck);
  void address(uint8_t value, uint64_t tck);
  void dataIn(uint8_t value);
  void startRead(uint64_t tck);
  void startBusy(uint64_t tck, uint64_t length);
  void program(uint64_t tck);
  void erase(uint64_t tck);
  void decodePageAddress();
  uint32_t decodeRow(int first) const;
  uint8_t outputByte(uint64_t tck) const;
  bool isFactoryBad(uint32_t page) const;
  void violation(const std::string& text);
  // TDO reads the configured level from now on (see NandDeviceConfig::forceTdo).
  void forceTdo();

  Board& board_;
  const NandWiring& wiring_;
  const NandDeviceConfig config_;
  const NandGeometry geometry_;
  const uint32_t pageBytes_;  // main and spare
  uint8_t id_[4];

  std::unordered_map<uint32_t, std::vector<uint8_t>> pages_;
  std::vector<uint8_t> register_;
  std::vector<uint32_t> eraseLog_;
  std::vector<uint32_t> programLog_;

  // Pin levels after the last update (true = '1').
  bool ce_ = true, we_ = true, re_ = true;
  Phase phase_ = Phase::Idle;
  Output output_ = Output::None;
  uint8_t addressBytes_[8] = {};
  int addressCount_ = 0;
  uint32_t column_ = 0;
  uint32_t row_ = 0;
  int idIndex_ = 0;
  bool failed_ = false;
  uint64_t busyUntil_ = 0;
  // Small pages: where column 0 of a read or program lies, set by 0x00 (main area) and 0x50 (spare
  // area) and kept until the other one is given.
  uint32_t pointer_ = 0;
  uint32_t hangCommands_ = 0;
  uint32_t tdoCommands_ = 0;
  bool tdoAtNextRead_ = false;
  uint32_t writeProtectCommands_ = 0;
  bool writeProtected_ = false;  // WP# low now
  int64_t erasesWhenTdoForced_ = -1;
  bool hangArmed_ = false;
  bool hung_ = false;
};

NandDevice& attachNandDevice(Board& board, const NandDeviceConfig& config);

}  // namespace zorv::sim
