#include "sim/nor_chip.h"

#include <algorithm>
#include <limits>

#include "text/upper_case.h"

namespace zorv::sim {
namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kPageBytes = 4096;
constexpr uint32_t kBufferPageBytes = 32;

// Word offsets of the query fields the program reads, as the query tables of the parts give them.
constexpr size_t kCfiQueryString = 0x10;
constexpr size_t kCfiDeviceSize = 0x27;
constexpr size_t kCfiRegionCount = 0x2C;
constexpr size_t kCfiRegionInfo = 0x2D;  // four words per erase-block region

// Program times: where a part states none in a query, the longest one program takes comes from
// its data sheet's table of erase and programming performance (maximum byte and word program
// time): Am29LV040B 300 us a byte; S29AL004D and S29AL008D 150 us a byte, 210 us a word; the Eon
// parts list 8 us typical and are held to the 300 us of the Am29LV040B they replace.
std::vector<NorPart> makeParts() {
  return {
      {"EN29LV010A", 0x7F, 0x1C, 0x6E, false, true, false, false, 128 * kKiB, {{8, 16 * kKiB}}, 300, 0},
      {"EN29LV040A", 0x7F, 0x1C, 0x4F, false, true, false, false, 512 * kKiB, {{8, 64 * kKiB}}, 300, 0},
      {"AM29LV040B", 0x01, 0x01, 0x4F, false, true, false, false, 512 * kKiB, {{8, 64 * kKiB}}, 300, 0},
      {"S29AL004D", 0x01, 0x01, 0x22B9, true, true, false, false, 512 * kKiB,
       {{7, 64 * kKiB}, {1, 32 * kKiB}, {2, 8 * kKiB}, {1, 16 * kKiB}}, 150, 210},
      {"S29AL008D", 0x01, 0x01, 0x22DA, true, true, false, false, 1024 * kKiB,
       {{15, 64 * kKiB}, {1, 32 * kKiB}, {2, 8 * kKiB}, {1, 16 * kKiB}}, 150, 210},
      {"S29GL064M", 0x01, 0x01, 0x227E, true, false, true, false, 8192 * kKiB, {{128, 64 * kKiB}}},
      {"S29GL128M", 0x01, 0x01, 0x227E, true, false, true, false, 16384 * kKiB, {{128, 128 * kKiB}}},
      {"K8D6316", 0xEC, 0xEC, 0x22E2, true, false, false, false, 8192 * kKiB, {{8, 8 * kKiB}, {126, 64 * kKiB}}},
      // Its CFI lists the same array twice: as 4 KB sectors and as 64 KB blocks.
      {"SST39VF6401", 0xBF, 0xBF, 0x236B, true, false, false, true, 8192 * kKiB, {{2048, 4 * kKiB}, {128, 64 * kKiB}}},
  };
}

uint32_t log2Of(uint32_t value) {
  uint32_t n = 0;
  while ((1u << n) < value) ++n;
  return n;
}

}  // namespace

const std::vector<NorPart>& norParts() {
  static const std::vector<NorPart> parts = makeParts();
  return parts;
}

const NorPart* findNorPart(const std::string& name) {
  const std::string wanted = upperCase(name);
  for (const NorPart& part : norParts()) {
    if (wanted == part.name) return &part;
  }
  return nullptr;
}

NorChip::NorChip(const NorPart& part, bool wordMode, NorTiming timing)
    : part_(part), wordMode_(wordMode), timing_(timing) {
  cfi_.assign(kCfiRegionInfo + 4 * part.regions.size(), 0);
  cfi_[kCfiQueryString] = 'Q';
  cfi_[kCfiQueryString + 1] = 'R';
  cfi_[kCfiQueryString + 2] = 'Y';
  cfi_[0x13] = part.sstCommands ? 0x01 : 0x02;
  cfi_[0x14] = part.sstCommands ? 0x07 : 0x00;
  cfi_[0x15] = 0x40;
  cfi_[0x1B] = 0x27;
  cfi_[0x1C] = 0x36;
  cfi_[0x1F] = 0x04;
  cfi_[0x20] = part.writeBuffer ? 0x06 : 0x00;
  cfi_[0x21] = 0x09;
  cfi_[0x23] = 0x04;
  cfi_[0x24] = part.writeBuffer ? 0x05 : 0x00;
  cfi_[0x25] = 0x04;
  cfi_[kCfiDeviceSize] = static_cast<uint16_t>(log2Of(part.sizeBytes));
  cfi_[0x28] = part.wordCapable ? (part.byteCapable ? 0x02 : 0x01) : 0x00;
  cfi_[0x2A] = part.writeBuffer ? 0x05 : 0x00;
  cfi_[kCfiRegionCount] = static_cast<uint16_t>(part.regions.size());
  for (size_t i = 0; i < part.regions.size(); ++i) {
    const uint32_t blocks = part.regions[i].first - 1;
    const uint32_t units = part.regions[i].second / 256;
    const size_t info = kCfiRegionInfo + 4 * i;
    cfi_[info] = blocks & 0xFF;
    cfi_[info + 1] = static_cast<uint16_t>(blocks >> 8);
    cfi_[info + 2] = units & 0xFF;
    cfi_[info + 3] = static_cast<uint16_t>(units >> 8);
  }
}

void NorChip::timeForTck(uint32_t periodNs, uint32_t slowdown) {
  const auto ticksFor = [&](uint64_t us) { return (us * 1000 * slowdown + periodNs - 1) / periodNs; };
  const auto ticks = [&](uint16_t typical, uint16_t multiplier) {
    return ticksFor((uint64_t{1} << typical) * (uint64_t{1} << multiplier));
  };
  const uint32_t tableUs = wordMode_ ? part_.wordProgramMaxUs : part_.byteProgramMaxUs;
  timing_.programTicks = tableUs != 0 ? ticksFor(tableUs) : ticks(cfi_[0x1F], cfi_[0x23]);
  if (cfi_[0x20] != 0) timing_.bufferTicks = ticks(cfi_[0x20], cfi_[0x24]);
}

void NorChip::setViolationSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }

void NorChip::violation(const std::string& text) {
  if (sink_) sink_(std::string(part_.name) + ": " + text);
}

bool NorChip::isUnlockAddress1(uint32_t address) const {
  if (part_.sstCommands) return (address & 0xFFFF) == 0x5555;
  if (wordMode_ || !part_.wordCapable) return (address & 0x7FF) == 0x555;
  return (address & 0xFFF) == 0xAAA;
}

bool NorChip::isUnlockAddress2(uint32_t address) const {
  if (part_.sstCommands) return (address & 0xFFFF) == 0x2AAA;
  if (wordMode_ || !part_.wordCapable) return (address & 0x7FF) == 0x2AA;
  return (address & 0xFFF) == 0x555;
}

uint32_t NorChip::cfiEntryAddress() const { return wordMode_ || !part_.wordCapable ? 0x55 : 0xAA; }

uint8_t NorChip::byteAt(uint32_t offset) const {
  offset &= part_.sizeBytes - 1;
  const auto it = pages_.find(offset / kPageBytes);
  return it == pages_.end() ? 0xFF : (*it->second)[offset % kPageBytes];
}

void NorChip::setByte(uint32_t offset, uint8_t value) {
  offset &= part_.sizeBytes - 1;
  auto& page = pages_[offset / kPageBytes];
  if (!page) {
    page = std::make_unique<std::array<uint8_t, kPageBytes>>();
    page->fill(0xFF);
  }
  (*page)[offset % kPageBytes] = value;
}

uint32_t NorChip::arrayValue(uint32_t address) const {
  const uint32_t offset = byteOffset(address);
  if (!wordMode_) return byteAt(offset);
  return static_cast<uint32_t>(byteAt(offset) | (byteAt(offset + 1) << 8));
}

void NorChip::program(uint32_t address, uint32_t data) {
  const uint32_t offset = byteOffset(address);
  for (uint32_t i = 0; i < unitBytes(); ++i) {
    if (offset + i == programFail_) continue;
    const uint8_t value = static_cast<uint8_t>(data >> (8 * i));
    setByte(offset + i, static_cast<uint8_t>(byteAt(offset + i) & value));
  }
}

std::pair<uint32_t, uint32_t> NorChip::sectorOf(uint32_t offset) const {
  uint32_t start = 0;
  for (const auto& [blocks, size] : part_.regions) {
    if (offset < start + blocks * size) return {start + (offset - start) / size * size, size};
    start += blocks * size;
  }
  return {0, part_.sizeBytes};
}

void NorChip::erase(uint32_t offset, uint32_t length, uint64_t tck) {
  erasures_.emplace_back(offset, length);
  const bool stuck = eraseStuck_ >= offset && eraseStuck_ - offset < length;
  startBusy(tck, timing_.eraseTicks, stuck, 0);
  if (stuck) return;
  for (uint32_t page = offset / kPageBytes; page * kPageBytes < offset + length; ++page) {
    const uint32_t from = std::max(offset, page * kPageBytes);
    const uint32_t to = std::min(offset + length, (page + 1) * kPageBytes);
    if (from == page * kPageBytes && to == (page + 1) * kPageBytes) {
      pages_.erase(page);
    } else {
      for (uint32_t b = from; b < to; ++b) setByte(b, 0xFF);
    }
  }
}

void NorChip::startBusy(uint64_t tck, uint64_t ticks, bool stuck, uint32_t dq7) {
  busyUntil_ = stuck ? std::numeric_limits<uint64_t>::max() : tck + ticks;
  statusDq7_ = dq7 & 0x80;
  mode_ = Mode::Read;
  idleMode_ = Mode::Read;
}

void NorChip::startFailedProgram(uint64_t tck, uint64_t ticks, uint32_t dq7) {
  startBusy(tck, ticks, true, dq7);
  failed_ = true;
  exceededAt_ = tck + ticks;
}

bool NorChip::holdsFault(uint32_t fault, uint32_t address) const {
  const uint32_t offset = byteOffset(address);
  return fault >= offset && fault - offset < unitBytes();
}

// The part leaves the buffer load and shows its abort status (DQ1) until the write-to-buffer-abort
// reset: AA, 55, F0 on the unlock addresses. A plain reset does not end it.
void NorChip::abortBuffer(const std::string& why) {
  if (!why.empty()) violation("write buffer aborted: " + why);
  statusDq7_ = buffer_.empty() ? 0 : ~buffer_.back().second & 0x80;
  buffer_.clear();
  mode_ = Mode::BufferAbort;
  idleMode_ = Mode::BufferAbort;
}

void NorChip::abortWrite(uint32_t address, uint32_t data, uint64_t) {
  const uint32_t command = data & 0xFF;
  switch (mode_) {
    case Mode::AbortUnlock1:
      mode_ = command == 0x55 && isUnlockAddress2(address) ? Mode::AbortUnlock2 : Mode::BufferAbort;
      break;
    case Mode::AbortUnlock2:
      mode_ = idleMode_ = command == 0xF0 && isUnlockAddress1(address) ? Mode::Read : Mode::BufferAbort;
      break;
    default:
      mode_ = command == 0xAA && isUnlockAddress1(address) ? Mode::AbortUnlock1 : Mode::BufferAbort;
      break;
  }
}

void NorChip::write(uint32_t address, uint32_t data, uint64_t tck) {
  const uint32_t command = data & 0xFF;
  // An embedded algorithm ignores the bus until it is done; one past its time limit takes the
  // reset command (the unlock cycles before it go nowhere).
  if (busy(tck)) {
    if (failed_ && command == 0xF0) {
      failed_ = false;
      busyUntil_ = 0;
      mode_ = idleMode_ = Mode::Read;
    }
    return;
  }
  switch (mode_) {
    case Mode::BufferAbort:
    case Mode::AbortUnlock1:
    case Mode::AbortUnlock2:
      abortWrite(address, data, tck);
      break;
    case Mode::Read:
    case Mode::Autoselect:
    case Mode::Cfi:
      if (command == 0xF0) {
        mode_ = idleMode_ = Mode::Read;
      } else if (command == 0xAA && isUnlockAddress1(address)) {
        mode_ = Mode::Unlock1;
      } else if (command == 0x98 && !part_.sstCommands && (address & 0xFFF) == cfiEntryAddress()) {
        mode_ = idleMode_ = Mode::Cfi;
      }
      break;
    case Mode::Unlock1:
      mode_ = command == 0x55 && isUnlockAddress2(address) ? Mode::Unlock2 : idleMode_;
      break;
    case Mode::Unlock2:
      mode_ = idleMode_;
      if (isUnlockAddress1(address) && command == 0x90) {
        mode_ = idleMode_ = Mode::Autoselect;
      } else if (isUnlockAddress1(address) && command == 0xA0) {
        mode_ = Mode::ProgramSetup;
      } else if (isUnlockAddress1(address) && command == 0x80) {
        mode_ = Mode::EraseSetup;
      } else if (isUnlockAddress1(address) && command == 0x98 && part_.sstCommands) {
        mode_ = idleMode_ = Mode::Cfi;
      } else if (command == 0xF0) {
        mode_ = idleMode_ = Mode::Read;
      } else if (command == 0x25 && part_.writeBuffer) {
        bufferSector_ = sectorOf(byteOffset(address)).first;
        mode_ = Mode::BufferCount;
      }
      break;
    case Mode::EraseSetup:
      mode_ = command == 0xAA && isUnlockAddress1(address) ? Mode::EraseUnlock1 : Mode::Read;
      break;
    case Mode::EraseUnlock1:
      mode_ = command == 0x55 && isUnlockAddress2(address) ? Mode::EraseUnlock2 : Mode::Read;
      break;
    case Mode::EraseUnlock2: {
      mode_ = idleMode_ = Mode::Read;
      const uint32_t offset = byteOffset(address);
      if (command == 0x10 && isUnlockAddress1(address)) {
        erase(0, part_.sizeBytes, tck);
      } else if (part_.sstCommands && command == 0x30) {
        erase(offset / (4 * kKiB) * (4 * kKiB), 4 * kKiB, tck);
      } else if (part_.sstCommands && command == 0x50) {
        erase(offset / (64 * kKiB) * (64 * kKiB), 64 * kKiB, tck);
      } else if (!part_.sstCommands && command == 0x30) {
        const auto [start, size] = sectorOf(offset);
        erase(start, size, tck);
      }
      break;
    }
    case Mode::ProgramSetup:
      ++programOperations_;
      program(address, data);
      if (holdsFault(programFail_, address)) {
        startFailedProgram(tck, timing_.programTicks, ~data);
      } else {
        startBusy(tck, timing_.programTicks, false, ~data);
      }
      break;
    case Mode::BufferCount: {
      const uint32_t words = (data & 0xFFFF) + 1;
      if (sectorOf(byteOffset(address)).first != bufferSector_ || words * unitBytes() > kBufferPageBytes) {
        abortBuffer("bad count or sector");
        break;
      }
      bufferLeft_ = words;
      buffer_.clear();
      mode_ = Mode::BufferLoad;
      break;
    }
    case Mode::BufferLoad: {
      const uint32_t page = byteOffset(address) / kBufferPageBytes;
      if (buffer_.empty()) bufferPage_ = page;
      if (page != bufferPage_) {
        abortBuffer("word outside the buffer page");
        break;
      }
      buffer_.emplace_back(address, data);
      if (holdsFault(bufferAbort_, address)) {
        abortBuffer("");
        break;
      }
      if (--bufferLeft_ == 0) mode_ = Mode::BufferConfirm;
      break;
    }
    case Mode::BufferConfirm: {
      if (command != 0x29 || sectorOf(byteOffset(address)).first != bufferSector_) {
        abortBuffer("no confirm");
        break;
      }
      ++programOperations_;
      bool fails = false;
      for (const auto& [at, value] : buffer_) {
        fails = fails || holdsFault(programFail_, at);
        program(at, value);
      }
      if (fails) {
        startFailedProgram(tck, timing_.bufferTicks, ~buffer_.back().second);
      } else {
        startBusy(tck, timing_.bufferTicks, false, ~buffer_.back().second);
      }
      buffer_.clear();
      break;
    }
  }
}

uint32_t NorChip::autoselectValue(uint32_t address) const {
  if (wordMode_) {
    switch (address & 0xFF) {
      case 0: return part_.makerCode;
      case 1: return part_.deviceCode;
      default: return 0;
    }
  }
  if (part_.wordCapable) {
    switch (address & 0x1FF) {
      case 0: return part_.makerCode;
      case 2: return part_.deviceCode & 0xFF;
      default: return 0;
    }
  }
  switch (address & 0x1FF) {
    case 0x000: return part_.makerCode;
    case 0x100: return part_.makerCodeHigh;
    case 0x001:
    case 0x101: return part_.deviceCode & 0xFF;
    default: return 0;
  }
}

uint32_t NorChip::cfiValue(uint32_t address) const {
  const uint32_t index = (wordMode_ || !part_.wordCapable ? address : address >> 1) & 0xFF;
  return index < cfi_.size() ? cfi_[index] : 0;
}

uint32_t NorChip::read(uint32_t address, uint64_t tck) {
  // Status: DQ7 the complement of the data, DQ6 toggling on every read; DQ5 once a program ran past
  // its limit; DQ1 while a write-buffer load is aborted.
  if (busy(tck)) {
    toggle_ ^= 0x40;
    return toggle_ | statusDq7_ | (failed_ && tck >= exceededAt_ ? 0x20u : 0u);
  }
  if (mode_ == Mode::BufferAbort || mode_ == Mode::AbortUnlock1 || mode_ == Mode::AbortUnlock2) {
    toggle_ ^= 0x40;
    return toggle_ | statusDq7_ | 0x02u;
  }
  const Mode mode = mode_ == Mode::Autoselect || mode_ == Mode::Cfi ? mode_ : idleMode_;
  switch (mode) {
    case Mode::Autoselect: return autoselectValue(address);
    case Mode::Cfi: return cfiAbsent_ ? arrayValue(address) : cfiValue(address);
    default: return arrayValue(address);
  }
}

}  // namespace zorv::sim
