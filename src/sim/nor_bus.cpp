#include "sim/nor_bus.h"

#include "sim/board.h"

namespace zorv::sim {
namespace {

// OBRIN: three groups of data lines, each line with its own enable cell just above it.
int obrinData(int n) { return n < 16 ? 295 - 2 * n : n < 24 ? 240 + 2 * (n - 16) : 221 - 2 * (n - 24); }
int obrinEnable(int n) { return obrinData(n) + 1; }
int obrinAddress(int n) { return n < 17 ? 239 - n : 203 - 2 * (n - 17); }

// TQR2400: the bus has a single enable cell.
int tqrData(int n) { return n == 0 ? 142 : 143 + n; }
int tqrEnable(int) { return 143; }
int tqrAddress(int n) { return n == 0 ? 78 : n < 16 ? 80 + n : 96 + 2 * (n - 16); }

int ikaData(int n) { return 63 + 2 * n; }
int ikaEnable(int n) { return 64 + 2 * n; }
int ikaAddress(int n) { return n == 0 ? 0 : n < 16 ? n + 1 : 17 + 2 * (n - 16); }

std::vector<int> cellsOf(int lines, int (*cell)(int)) {
  std::vector<int> cells;
  for (int n = 0; n < lines; ++n) cells.push_back(cell(n));
  return cells;
}

const NorWiring kObrin{cellsOf(32, obrinData), cellsOf(32, obrinEnable), '1', cellsOf(24, obrinAddress), 176, 175,
                       {186, 184, 182, 180, 178, 177, 261, -1}};
const NorWiring kTqr2400{cellsOf(16, tqrData), cellsOf(16, tqrEnable), '0', cellsOf(26, tqrAddress), 131, 133,
                         {116, 118, 120, 122, 124, 126, 127, 128}};
const NorWiring kIka{cellsOf(16, ikaData), cellsOf(16, ikaEnable), '0', cellsOf(25, ikaAddress), 47, 48,
                     {46, 51, 53, 55, 57, 59, 39, 41}};
// VESKAR's flash is reached through its debug-access register, not through boundary cells.
const NorWiring kNone{{}, {}, '0', {}, -1, -1, {-1, -1, -1, -1, -1, -1, -1, -1}};

}  // namespace

const NorWiring& norWiring(TargetProduct product) {
  switch (product) {
    case Obrin: return kObrin;
    case Tqr2400: return kTqr2400;
    case Ika: return kIka;
    default: return kNone;
  }
}

NorBank::NorBank(Board& board, const NorWiring& wiring, int region, std::vector<std::unique_ptr<NorChip>> chips,
                 int busWidth)
    : board_(board), wiring_(wiring), csCell_(wiring_.chipSelect[region]), chips_(std::move(chips)),
      busWidth_(busWidth) {
  for (auto& chip : chips_) chip->setViolationSink([this](const std::string& text) { board_.reportViolation(text); });
}

uint32_t NorBank::sizeBytes() const { return chips_[0]->sizeBytes() * static_cast<uint32_t>(chips_.size()); }

std::pair<size_t, uint32_t> NorBank::locate(uint32_t offset) const {
  offset %= sizeBytes();
  if (chips_.size() == 2) return {offset & 1u, offset >> 1};
  return {0, offset};
}

uint8_t NorBank::busByte(uint32_t offset) const {
  const auto [chip, at] = locate(offset);
  return chips_[chip]->byteAt(at);
}

void NorBank::setBusByte(uint32_t offset, uint8_t value) {
  const auto [chip, at] = locate(offset);
  chips_[chip]->setByte(at, value);
}

std::vector<std::pair<uint32_t, uint32_t>> NorBank::erasedRanges() const {
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
  const uint32_t scale = static_cast<uint32_t>(chips_.size());
  for (const auto& chip : chips_) {
    for (const auto& [offset, length] : chip->erasures()) ranges.emplace_back(offset * scale, length * scale);
  }
  return ranges;
}

uint32_t NorBank::busAddress(const char* cells) const {
  uint32_t address = 0;
  for (int n = 0; n < wiring_.addressLines(); ++n) {
    if (cells[wiring_.addressCell(n)] == '1') address |= 1u << n;
  }
  return address;
}

// Byte-wide devices on a 16-bit bus and devices in 16-bit mode leave A0 unconnected.
uint32_t NorBank::deviceAddress(const char* cells) const {
  return busWidth_ == 16 ? busAddress(cells) >> 1 : busAddress(cells);
}

uint32_t NorBank::dataValue(const char* cells) const {
  uint32_t value = 0;
  for (int n = 0; n < busWidth_; ++n) {
    if (cells[wiring_.dataCell(n)] == '1') value |= 1u << n;
  }
  return value;
}

bool NorBank::chipDrives(const char* cells, int line) const {
  return cells[wiring_.enableCell(line)] == wiring_.driveLevel;
}

void NorBank::pinsUpdated(const char* cells, int count, uint64_t tck) {
  if (csCell_ < 0 || count <= wiring_.dataCell(0)) return;
  const bool selected = cells[csCell_] == '0';
  const bool reading = selected && cells[wiring_.outputEnable] == '0';
  const bool writing = selected && cells[wiring_.writeEnable] == '0';
  if (reading && writing) board_.reportViolation("NOR: nOE and nWE low together");
  // BYTE# sets the part's bus width: it must not disagree with the bus the part sits on.
  if (selected && wiring_.byteSelect >= 0 && (cells[wiring_.byteSelect] == '1') != (busWidth_ == 16 && chips_.size() == 1)) {
    board_.reportViolation("NOR: BYTE# does not match the bus width");
  }
  if (reading) {
    for (int n = 0; n < busWidth_; ++n) {
      if (chipDrives(cells, n)) {
        board_.reportViolation("NOR: chip drives D" + std::to_string(n) + " while the flash outputs");
        break;
      }
    }
  }
  // The devices latch address and data on the rising edge of nWE.
  if (writing_ && !writing && selected) {
    for (int n = 0; n < busWidth_; ++n) {
      if (!chipDrives(cells, n)) {
        board_.reportViolation("NOR: write with D" + std::to_string(n) + " not driven");
        break;
      }
    }
    const uint32_t address = deviceAddress(cells);
    const uint32_t data = dataValue(cells);
    if (chips_.size() == 2) {
      chips_[0]->write(address, data & 0xFF, tck);
      chips_[1]->write(address, (data >> 8) & 0xFF, tck);
    } else {
      chips_[0]->write(address, data, tck);
    }
  }
  // Each falling edge of nOE is one read access (it moves the toggle bit).
  if (reading && !reading_) {
    const uint32_t address = deviceAddress(cells);
    if (chips_.size() == 2) {
      readValue_ = (chips_[0]->read(address, tck) & 0xFF) | ((chips_[1]->read(address, tck) & 0xFF) << 8);
    } else {
      readValue_ = chips_[0]->read(address, tck);
    }
  }
  selected_ = selected;
  reading_ = reading;
  writing_ = writing;
}

void NorBank::capturePins(char* cells, int count, uint64_t) {
  if (!reading_ || count <= wiring_.dataCell(0)) return;
  for (int n = 0; n < wiring_.dataLines(); ++n) {
    if (n < busWidth_) {
      cells[wiring_.dataCell(n)] = ((readValue_ >> n) & 1u) ? '1' : '0';
    } else if (!chipDrives(cells, n)) {
      cells[wiring_.dataCell(n)] = '1';  // pulled up, driven by nobody
    }
  }
}

void NorBank::pinsReleased(uint64_t) {
  selected_ = reading_ = writing_ = false;
}

}  // namespace zorv::sim
