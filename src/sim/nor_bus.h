#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/nor_chip.h"
#include "sim/pin_device.h"
#include "targets/target_product.h"

namespace zorv::sim {

class Board;

// Where a chip's external bus sits in its boundary register, as the board's schematic has it.
struct NorWiring {
  std::vector<int> data;        // the cell of each data line the chip has
  std::vector<int> enable;      // the output-enable cell serving each line
  char driveLevel;              // enable level that makes the chip drive the line
  std::vector<int> address;     // the cell of each address line
  int outputEnable;             // nOE
  int writeEnable;              // nWE
  int chipSelect[8];            // per 512 MB region; -1 where the chip has none
  int byteSelect = -1;          // BYTE#, where the board wires it to the chip: high for a 16-bit bus

  int dataLines() const { return static_cast<int>(data.size()); }
  int dataCell(int line) const { return data[static_cast<size_t>(line)]; }
  int enableCell(int line) const { return enable[static_cast<size_t>(line)]; }
  int addressLines() const { return static_cast<int>(address.size()); }
  int addressCell(int line) const { return address[static_cast<size_t>(line)]; }
};

const NorWiring& norWiring(TargetProduct product);

// One or two flash devices on the chip's bus, behind one chip-select line. With two byte-wide
// devices side by side, the first sits on D0-D7 and the second on D8-D15; both see the bus's
// word address. A bus offset is a byte address as the chip puts it on its address lines.
class NorBank : public PinDevice {
 public:
  NorBank(Board& board, const NorWiring& wiring, int region, std::vector<std::unique_ptr<NorChip>> chips, int busWidth);

  void pinsUpdated(const char* cells, int count, uint64_t tck) override;
  void capturePins(char* cells, int count, uint64_t tck) override;
  void pinsReleased(uint64_t tck) override;

  int busWidth() const { return busWidth_; }
  uint32_t sizeBytes() const;
  // The array as the bus sees it, bypassing the state machines.
  uint8_t busByte(uint32_t offset) const;
  void setBusByte(uint32_t offset, uint8_t value);
  // Every erased bus range so far: offset and length.
  std::vector<std::pair<uint32_t, uint32_t>> erasedRanges() const;
  NorChip& chip(size_t i) { return *chips_[i]; }
  size_t chipCount() const { return chips_.size(); }
  // Which chip and which of its bytes hold a bus byte.
  std::pair<size_t, uint32_t> locate(uint32_t offset) const;

 private:
  uint32_t busAddress(const char* cells) const;
  uint32_t deviceAddress(const char* cells) const;
  uint32_t dataValue(const char* cells) const;
  bool chipDrives(const char* cells, int line) const;

  Board& board_;
  const NorWiring& wiring_;
  int csCell_;
  std::vector<std::unique_ptr<NorChip>> chips_;
  int busWidth_;
  bool selected_ = false;
  bool reading_ = false;
  bool writing_ = false;
  uint32_t readValue_ = 0;
};

}  // namespace zorv::sim
