#include "sim/nand_device.h"

#include <algorithm>
#include <stdexcept>

#include "sim/board.h"
#include "sim/described_board.h"
#include "text/format.h"

namespace zorv::sim {
namespace {

// Command bytes, as the parts' data sheets list them.
enum Command : uint8_t {
  kRead = 0x00,
  kReadConfirm = 0x30,
  kReadSpare = 0x50,
  kBlockErase = 0x60,
  kEraseConfirm = 0xD0,
  kReadStatus = 0x70,
  kProgram = 0x80,
  kProgramConfirm = 0x10,
  kReadId = 0x90,
  kReset = 0xFF,
};

// Typed from the boards' schematics on their own, apart from the program's pin maps, so that a slip
// in one is caught by the other.
constexpr NandWiring kWiring[kProductCount] = {
    // OBRIN
    {170, 168, 171, 173, 187, 189,
     {166, 164, 162, 160, 158, 156, 154, 152},
     {167, 165, 163, 161, 159, 157, 155, 153}, '1'},
    // TQR2400
    {199, 207, 205, 209, 201, 203,
     {211, 213, 215, 217, 219, 221, 223, 225},
     {212, 214, 216, 218, 220, 222, 224, 226}, '0'},
    // IKA
    {101, 105, 103, 95, 97, 99,
     {63, 65, 67, 69, 71, 73, 75, 77},
     {64, 66, 68, 70, 72, 74, 76, 78}, '0'},
    // VESKAR
    {36, 42, 34, 32, 38, 40,
     {30, 28, 26, 24, 22, 20, 18, 16},
     {31, 29, 27, 25, 23, 21, 19, 17}, '1'},
};

// The six parts the boards are fitted with. Large-page parts answer 0x15 as their fourth ID byte:
// 2 KiB pages, 64 spare bytes, 128 KiB blocks.
constexpr NandGeometry kGeometries[] = {
    {0x75, 512, 16, 32, 2048, 3, 2, false},
    {0x76, 512, 16, 32, 4096, 4, 3, false},
    {0xF1, 2048, 64, 64, 1024, 4, 2, true},
    {0xDA, 2048, 64, 64, 2048, 5, 3, true},
    {0xDC, 2048, 64, 64, 4096, 5, 3, true},
    {0xD3, 2048, 64, 64, 8192, 5, 3, true},
};

// The part's geometry; a large-page part told to report another fourth ID byte takes the sizes that
// byte gives (Samsung K9F4G08U0A ID table: I/O1-0 page 1, 2, 4 or 8 KiB, I/O2 8 or 16 spare bytes
// per 512, I/O5-4 block 64, 128, 256 or 512 KiB), keeping the device's size.
NandGeometry geometryOf(const NandDeviceConfig& config) {
  const NandGeometry* part = nandGeometry(config.deviceCode);
  if (!part) throw std::invalid_argument("no NAND part with device code " + std::to_string(config.deviceCode));
  NandGeometry geometry = *part;
  if (geometry.largePage && config.idByte4Set) {
    const uint8_t b = config.idByte4;
    const uint32_t size = geometry.mainSize();
    geometry.pageSize = 1024u << (b & 3);
    geometry.spareSize = geometry.pageSize / 512 * ((b & 4) ? 16 : 8);
    geometry.pagesPerBlock = (65536u << ((b >> 4) & 3)) / geometry.pageSize;
    geometry.blockCount = size / geometry.blockSize();
  }
  return geometry;
}

// Where the factory marks a bad block: the sixth spare byte (column 517) of a small page, the first
// spare byte (column 2048) of a large one, in the block's first or second page (Samsung K9F6408U0C
// and K9F2G08U0M, "Identifying Initial Invalid Block(s)").
uint32_t factoryMarkerOffset(const NandGeometry& geometry) { return geometry.largePage ? 0 : 5; }

std::string hex(unsigned value) { return format("0x%02X", value); }

}  // namespace

const NandWiring& nandWiring(TargetProduct chip) { return kWiring[chip]; }

const NandGeometry* nandGeometry(uint8_t deviceCode) {
  for (const NandGeometry& g : kGeometries)
    if (g.deviceCode == deviceCode) return &g;
  return nullptr;
}

NandDevice::NandDevice(Board& board, const NandWiring& wiring, const NandDeviceConfig& config)
    : board_(board),
      wiring_(wiring),
      config_(config),
      geometry_(geometryOf(config)),
      pageBytes_(geometry_.pageSize + geometry_.spareSize),
      id_{config.makerCode, config.deviceCode, static_cast<uint8_t>(geometry_.largePage ? 0x10 : 0xA5),
          config.idByte4Set ? config.idByte4 : static_cast<uint8_t>(geometry_.largePage ? 0x15 : 0x00)},
      register_(pageBytes_, 0xFF),
      writeProtected_(config.writeProtect && !config.writeProtectLater) {
  const auto mark = [this](uint32_t page) {
    auto [it, fresh] = pages_.try_emplace(page, pageBytes_, uint8_t{0xFF});
    it->second[geometry_.pageSize + factoryMarkerOffset(geometry_)] = 0x00;
  };
  for (uint32_t block : config.markOnlyBlocks) {
    mark(block * geometry_.pagesPerBlock);
    mark(block * geometry_.pagesPerBlock + 1);
  }
  for (uint32_t block : config.secondPageMarkBlocks) mark(block * geometry_.pagesPerBlock + 1);
}

void NandDevice::violation(const std::string& text) { board_.reportViolation("nand: " + text); }

void NandDevice::forceTdo() {
  erasesWhenTdoForced_ = static_cast<int64_t>(eraseLog_.size());
  board_.forceTdo(config_.tdoLevel, config_.tdoScans);
}

void NandDevice::pinsReleased(uint64_t) {
  ce_ = we_ = re_ = true;
}

void NandDevice::pinsUpdated(const char* cells, int, uint64_t tck) {
  const bool ce = cells[wiring_.ce] == '1';
  const bool we = cells[wiring_.we] == '1';
  const bool re = cells[wiring_.re] == '1';
  const bool wasWe = we_, wasRe = re_;
  ce_ = ce;
  we_ = we;
  re_ = re;
  if (ce) return;

  int chipDriven = 0;
  unsigned value = 0;
  for (int n = 0; n < 8; ++n) {
    if (cells[wiring_.direction[n]] == wiring_.driveLevel) ++chipDriven;
    if (cells[wiring_.data[n]] == '1') value |= 1u << n;
  }
  const bool cle = cells[wiring_.cle] == '1';
  const bool ale = cells[wiring_.ale] == '1';

  if (!we && !re) violation("nWE and nRE low together");
  if (!re && chipDriven != 0 && output_ != Output::None) violation("data bus driven by both chip and device");
  if (!re && wasRe && output_ != Output::Status && output_ != Output::None && !ready(tck))
    violation("data read while busy");

  if (we && !wasWe) {
    if (chipDriven != 8) violation("write cycle while the chip does not drive the data bus");
    const auto byte = static_cast<uint8_t>(value);
    if (cle && ale) {
      violation("CLE and ALE high together");
    } else if (cle) {
      command(byte, tck);
    } else if (ale) {
      address(byte, tck);
    } else {
      dataIn(byte);
    }
  }
  // Forced from this update on, so the scan that captures the byte is the glitch's first.
  if (!re && wasRe && tdoAtNextRead_) {
    tdoAtNextRead_ = false;
    forceTdo();
  }
  if (re && !wasRe) {
    if (output_ == Output::Id) ++idIndex_;
    if (output_ == Output::Page) ++column_;
  }
}

void NandDevice::capturePins(char* cells, int, uint64_t tck) {
  cells[wiring_.rb] = ready(tck) ? '1' : '0';
  if (ce_ || re_ || output_ == Output::None) return;
  const uint8_t value = outputByte(tck);
  for (int n = 0; n < 8; ++n) cells[wiring_.data[n]] = (value >> n) & 1 ? '1' : '0';
}

uint8_t NandDevice::outputByte(uint64_t tck) const {
  switch (output_) {
    case Output::Id: return idIndex_ < 4 ? id_[idIndex_] : 0x00;
    case Output::Page: return column_ < pageBytes_ ? register_[column_] : 0xFF;
    case Output::Status:
      return static_cast<uint8_t>((writeProtected_ ? 0 : 0x80) | (ready(tck) ? 0x40 : 0) | (failed_ ? 0x01 : 0));
    case Output::None: break;
  }
  return 0xFF;
}

void NandDevice::command(uint8_t value, uint64_t tck) {
  if (!ready(tck) && value != kReadStatus && value != kReset) violation("command " + hex(value) + " while busy");
  if (config_.hangAfter != 0 && value == config_.hangAfter && ++hangCommands_ == config_.hangAfterCount)
    hangArmed_ = true;
  if (config_.writeProtect && config_.writeProtectLater && value == config_.writeProtectAfter &&
      ++writeProtectCommands_ == config_.writeProtectAfterCount)
    writeProtected_ = true;
  if (config_.forceTdo && value == config_.tdoAfter && ++tdoCommands_ == config_.tdoAfterCount) {
    if (config_.tdoAtRead) {
      tdoAtNextRead_ = true;
    } else {
      forceTdo();
    }
  }
  const int expected = phase_ == Phase::EraseAddress ? geometry_.rowCycles : geometry_.pageCycles;
  auto needs = [&](Phase phase) {
    if (phase_ != phase) {
      violation("command " + hex(value) + " out of sequence");
      return false;
    }
    if (addressCount_ != expected) {
      violation(std::to_string(addressCount_) + " address cycles before " + hex(value) + ", expected " +
                std::to_string(expected));
      phase_ = Phase::Idle;
      return false;
    }
    return true;
  };
  switch (value) {
    case kReset:
      phase_ = Phase::Idle;
      output_ = Output::None;
      failed_ = false;
      // A reset aborts whatever operation hangs.
      hung_ = false;
      busyUntil_ = tck + kResetBusy;
      return;
    case kReadStatus: output_ = Output::Status; return;
    case kReadId:
      phase_ = Phase::IdAddress;
      output_ = Output::None;
      addressCount_ = 0;
      return;
    case kReadSpare:
      if (geometry_.largePage) {
        violation("command 0x50 on a large-page device");
        return;
      }
      pointer_ = geometry_.pageSize;
      phase_ = Phase::ReadAddress;
      output_ = Output::None;
      addressCount_ = 0;
      return;
    case kRead:
    case kProgram:
    case kBlockErase:
      if (value == kRead) pointer_ = 0;
      phase_ = value == kRead ? Phase::ReadAddress : value == kProgram ? Phase::ProgramAddress : Phase::EraseAddress;
      output_ = Output::None;
      addressCount_ = 0;
      if (value == kProgram) std::fill(register_.begin(), register_.end(), uint8_t{0xFF});
      return;
    case kReadConfirm:
      if (!geometry_.largePage) {
        violation("command 0x30 on a small-page device");
      } else if (needs(Phase::ReadAddress)) {
        startRead(tck);
      }
      return;
    case kProgramConfirm:
      if (phase_ == Phase::ProgramData) {
        program(tck);
      } else {
        violation("command 0x10 without a program set-up");
      }
      return;
    case kEraseConfirm:
      if (needs(Phase::EraseAddress)) erase(tck);
      return;
    default: violation("unknown command " + hex(value)); return;
  }
}

void NandDevice::address(uint8_t value, uint64_t tck) {
  if (!ready(tck)) violation("address cycle while busy");
  const int limit = phase_ == Phase::IdAddress      ? 1
                    : phase_ == Phase::EraseAddress ? geometry_.rowCycles
                    : phase_ == Phase::ReadAddress || phase_ == Phase::ProgramAddress ? geometry_.pageCycles
                                                                                      : 0;
  if (addressCount_ < 0 || addressCount_ >= limit) {
    violation("address cycle " + hex(value) + " not expected");
    return;
  }
  addressBytes_[addressCount_++] = value;
  if (phase_ == Phase::IdAddress) {
    if (value != 0x00) violation("ID read at address " + hex(value));
    output_ = Output::Id;
    idIndex_ = 0;
    phase_ = Phase::Idle;
    return;
  }
  if (addressCount_ < limit) return;
  if (phase_ == Phase::ProgramAddress) {
    decodePageAddress();
    phase_ = Phase::ProgramData;
  } else if (phase_ == Phase::ReadAddress && !geometry_.largePage) {
    // Small pages start the array read with the last address cycle.
    startRead(tck);
  }
}

void NandDevice::dataIn(uint8_t value) {
  if (phase_ != Phase::ProgramData) {
    violation("data cycle outside a program");
    return;
  }
  if (column_ >= pageBytes_) {
    violation("data past the end of the page");
    return;
  }
  register_[column_++] = value;
}

void NandDevice::decodePageAddress() {
  if (geometry_.largePage) {
    // As many column bits as the page with its spare area needs (12 for 2112 bytes).
    uint32_t highMask = 0;
    while (((highMask << 8) | 0xFFu) < pageBytes_ - 1) highMask = highMask << 1 | 1;
    column_ = addressBytes_[0] | (addressBytes_[1] & highMask) << 8;
    row_ = decodeRow(2);
  } else {
    // In the spare area only A0-A3 count.
    column_ = pointer_ == 0 ? addressBytes_[0] : pointer_ + (addressBytes_[0] & 0x0Fu);
    row_ = decodeRow(1);
  }
}

uint32_t NandDevice::decodeRow(int first) const {
  uint32_t row = 0;
  for (int i = first; i < addressCount_; ++i) row |= uint32_t{addressBytes_[i]} << (8 * (i - first));
  return row;
}

bool NandDevice::isFactoryBad(uint32_t page) const {
  return config_.factoryBadBlocks.count(page / geometry_.pagesPerBlock) != 0;
}

void NandDevice::startRead(uint64_t tck) {
  decodePageAddress();
  phase_ = Phase::Idle;
  const uint32_t pages = geometry_.pagesPerBlock * geometry_.blockCount;
  if (row_ >= pages) {
    violation("page " + std::to_string(row_) + " beyond the device");
    row_ %= pages;
  }
  if (isFactoryBad(row_)) {
    std::fill(register_.begin(), register_.end(), uint8_t{0x00});
  } else if (auto it = pages_.find(row_); it != pages_.end()) {
    register_ = it->second;
  } else {
    std::fill(register_.begin(), register_.end(), uint8_t{0xFF});
  }
  if (config_.flipBit && config_.flipAddress / geometry_.pageSize == row_)
    register_[config_.flipAddress % geometry_.pageSize] ^= config_.flipMask;
  output_ = Output::Page;
  startBusy(tck, kReadBusy);
}

void NandDevice::startBusy(uint64_t tck, uint64_t length) {
  busyUntil_ = tck + length;
  hung_ = hangArmed_;
  hangArmed_ = false;
}

void NandDevice::program(uint64_t tck) {
  phase_ = Phase::Idle;
  output_ = Output::None;
  // A protected part never starts the operation.
  startBusy(tck, writeProtected_ ? 0 : kProgramBusy);
  const uint32_t pages = geometry_.pagesPerBlock * geometry_.blockCount;
  if (row_ >= pages) {
    violation("page " + std::to_string(row_) + " beyond the device");
    row_ %= pages;
  }
  programLog_.push_back(row_);
  const uint32_t block = row_ / geometry_.pagesPerBlock;
  failed_ = isFactoryBad(row_) || config_.programFailBlocks.count(block) != 0 || writeProtected_;
  if (failed_) return;
  auto [it, fresh] = pages_.try_emplace(row_, pageBytes_, uint8_t{0xFF});
  // Programming can only clear bits.
  const uint32_t kept = config_.dropSpare ? geometry_.pageSize : pageBytes_;
  for (uint32_t i = 0; i < kept; ++i) it->second[i] &= register_[i];
}

void NandDevice::erase(uint64_t tck) {
  phase_ = Phase::Idle;
  output_ = Output::None;
  startBusy(tck, writeProtected_ ? 0 : kEraseBusy);
  const uint32_t pages = geometry_.pagesPerBlock * geometry_.blockCount;
  uint32_t row = decodeRow(0);
  if (row >= pages) {
    violation("page " + std::to_string(row) + " beyond the device");
    row %= pages;
  }
  const uint32_t block = row / geometry_.pagesPerBlock;
  eraseLog_.push_back(block);
  failed_ = config_.factoryBadBlocks.count(block) != 0 || config_.eraseFailBlocks.count(block) != 0 ||
            writeProtected_;
  if (failed_) return;
  const uint32_t first = block * geometry_.pagesPerBlock;
  for (uint32_t p = first; p < first + geometry_.pagesPerBlock; ++p) pages_.erase(p);
}

std::vector<uint8_t> NandDevice::mainBytes(uint32_t address, uint32_t count) const {
  std::vector<uint8_t> bytes(count, 0xFF);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = address + i;
    const uint32_t page = a / geometry_.pageSize;
    if (isFactoryBad(page)) {
      bytes[i] = 0x00;
    } else if (auto it = pages_.find(page); it != pages_.end()) {
      bytes[i] = it->second[a % geometry_.pageSize];
    }
  }
  return bytes;
}

uint8_t NandDevice::spareByte(uint32_t page, uint32_t offset) const {
  if (isFactoryBad(page)) return 0x00;
  auto it = pages_.find(page);
  return it == pages_.end() ? 0xFF : it->second[geometry_.pageSize + offset];
}

void NandDevice::preload(uint32_t address, const std::vector<uint8_t>& bytes) {
  for (uint32_t i = 0; i < bytes.size(); ++i) {
    const uint32_t a = address + i;
    auto [it, fresh] = pages_.try_emplace(a / geometry_.pageSize, pageBytes_, uint8_t{0xFF});
    it->second[a % geometry_.pageSize] = bytes[i];
  }
}

void NandDevice::preloadSpare(uint32_t page, const std::vector<uint8_t>& bytes) {
  auto [it, fresh] = pages_.try_emplace(page, pageBytes_, uint8_t{0xFF});
  std::copy(bytes.begin(), bytes.end(), it->second.begin() + geometry_.pageSize);
}

std::vector<uint32_t> NandDevice::storedPages() const {
  std::vector<uint32_t> pages;
  for (const auto& [page, bytes] : pages_)
    if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0xFF; })) pages.push_back(page);
  std::sort(pages.begin(), pages.end());
  return pages;
}

NandDevice& attachNandDevice(Board& board, const NandDeviceConfig& config) {
  const BoardOptions& options = board.options();
  if (options.described && !describedNandWiring(*options.described)) {
    throw std::invalid_argument("the board file wires no NAND flash");
  }
  const NandWiring& wiring = options.described ? *describedNandWiring(*options.described) : kWiring[options.chip];
  auto device = std::make_unique<NandDevice>(board, wiring, config);
  return static_cast<NandDevice&>(board.attach(std::move(device)));
}

}  // namespace zorv::sim
