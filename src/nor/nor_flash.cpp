#include "nor/nor_flash.h"

#include <algorithm>

#include "nor/cfi_offsets.h"
#include "text/format.h"

namespace zorv {

void NorFlash::bindTarget(JtagCable& cable, NorTarget& target, char* productName) {
  target.init(cable, productName, &bsrImage);
}

int NorFlash::chooseChipSelect(uint32_t address, NorTarget& target) {
  csCell = target.chipSelectCell(address);
  return csCell;
}

void NorFlash::load(const NorBusSetting& setting) {
  const NorCommandSet& commands = *setting.commands;
  busWidth = commands.busWidth;
  interleave = setting.interleave;
  dataMask = commands.dataMask;
  unlockAddress1 = commands.unlockAddress1;
  unlockAddress2 = commands.unlockAddress2;
  unlockData1 = commands.unlockData1;
  unlockData2 = commands.unlockData2;
  makerIdAddress = setting.makerIdAddress;
  deviceIdAddress = commands.deviceIdAddress;
  expectedDeviceId = setting.expectedDeviceId;
  eraseSetupCommand = commands.eraseSetupCommand;
  autoselectCommand = commands.autoselectCommand;
  resetCommand = commands.resetCommand;
  programCommand = commands.programCommand;
  sectorEraseCommand = commands.sectorEraseCommand;
  writeBufferCommand = commands.writeBufferCommand;
  bufferConfirmCommand = commands.bufferConfirmCommand;
  cfiQueryAddress = commands.cfiQueryAddress;
  cfiQueryCommand = commands.cfiQueryCommand;
}

int NorFlash::applySetting(int width, int interleaveValue) {
  const NorBusSetting* setting = findBusSetting(deviceIndex, width, interleaveValue);
  if (setting == nullptr) return -1;
  load(*setting);
  return 0;
}

int NorFlash::applyFixedSetting(int, int) {
  load(veskarBusSetting());
  return 0;
}

void NorFlash::write(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value) {
  target.writeCycle(cable, bsrImage, address, value, 1, busWidth);
}

uint32_t NorFlash::read(JtagCable& cable, NorTarget& target, uint32_t address) {
  uint32_t value = 0;
  target.readCycle(cable, bsrImage, capture.data(), address, &value, 1, busWidth);
  return value;
}

void NorFlash::readBatch(JtagCable& cable, NorTarget& target, const uint32_t* addresses, uint32_t count,
                         uint32_t* values) {
  const size_t span = target.rawBytes();
  if (raw_.size() < count * span) raw_.resize(count * span);
  for (uint32_t i = 0; i < count; ++i) {
    target.readCycleDeferred(cable, bsrImage, capture.data(), addresses[i], raw_.data() + i * span, busWidth);
  }
  cable.collectCaptures();
  for (uint32_t i = 0; i < count; ++i) values[i] = target.rawData(raw_.data() + i * span, busWidth) & dataMask;
}

void NorFlash::readUnits(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t count, uint8_t* bytes) {
  const uint32_t unit = static_cast<uint32_t>(busWidth) / 8;
  runAddresses_.resize(count);
  runValues_.resize(count);
  for (uint32_t i = 0; i < count; ++i) runAddresses_[i] = address + i * unit;
  readBatch(cable, target, runAddresses_.data(), count, runValues_.data());
  for (uint32_t i = 0; i < count; ++i) {
    bytes[i * unit] = static_cast<uint8_t>(runValues_[i]);
    if (unit == 2) bytes[i * unit + 1] = static_cast<uint8_t>(runValues_[i] >> 8);
  }
}

uint32_t NorFlash::unitsPerRun(const JtagCable& cable) const {
  return cable.answersLate() ? kReadRunBytes / (static_cast<uint32_t>(busWidth) / 8) : 1;
}

void NorFlash::queryWords(JtagCable& cable, NorTarget& target, uint32_t word, uint32_t count, uint32_t* values) {
  uint32_t addresses[cfi::kRegionInfoWords * kMaxRegions] = {};
  for (uint32_t i = 0; i < count; ++i) addresses[i] = base + cfi::byteOffset(word + i);
  readBatch(cable, target, addresses, count, values);
  for (uint32_t i = 0; i < count; ++i) values[i] &= 0xFF;
}

void NorFlash::unlock(JtagCable& cable, NorTarget& target) {
  write(cable, target, base + unlockAddress1, unlockData1);
  write(cable, target, base + unlockAddress2, unlockData2);
}

int NorFlash::readIds(JtagCable& cable, NorTarget& target) {
  if (const int refusal = target.prepare(cable, bsrImage, capture.data()); refusal != BusReady) return refusal;
  target.setPin(cable, csCell, bsrImage, '0');
  unlock(cable, target);
  write(cable, target, base + unlockAddress1, autoselectCommand);
  // Lines above the bus width are driven by nobody (IKA samples all sixteen).
  const uint32_t addresses[2] = {base + makerIdAddress, base + deviceIdAddress};
  uint32_t codes[2] = {};
  readBatch(cable, target, addresses, 2, codes);
  makerId = codes[0];
  deviceId = codes[1];
  write(cable, target, base, resetCommand);
  target.setPin(cable, csCell, bsrImage, '1');
  return 0;
}

int NorFlash::checkId(int index) {
  if (!isFlashType(index)) return -1;
  const NorIdRule& rule = flashTypeRow(index).idRule;
  if (rule.byLowByte) {
    const uint32_t low = deviceId & 0xFF;
    if (low != rule.lowBytes[0] && low != rule.lowBytes[1]) return -1;
    expectedDeviceId = deviceId;
    return 0;
  }
  return deviceId == expectedDeviceId ? 0 : -1;
}

void NorFlash::recogniseDeviceByCode() {
  deviceIndex = veskarFlashType(deviceId);
  if (isFlashType(deviceIndex)) expectedDeviceId = flashTypeRow(deviceIndex).veskarDeviceCode;
}

uint32_t NorFlash::tableDeviceCode() const {
  // Two byte-wide devices side by side answer with their codes side by side.
  if (interleave == 2 && (deviceId >> 8) == (deviceId & 0xFF)) return deviceId & 0xFF;
  if (isFlashType(deviceIndex) && busWidth == 8 && flashTypeRow(deviceIndex).byteModeCodeHigh != 0) {
    return flashTypeRow(deviceIndex).byteModeCodeHigh | (deviceId & 0xFF);
  }
  return deviceId;
}

int NorFlash::loadFromDeviceCode() {
  const uint32_t code = tableDeviceCode();
  const uint32_t s = interleave == 2 ? 2u : 1u;
  for (const DeviceCodeGeometry& row : flashTypeRow(deviceIndex).deviceCodes) {
    if (row.code != code) continue;
    regionCount = static_cast<uint8_t>(row.regionCount);
    for (size_t i = 0; i < regionCount; ++i) {
      regions[i] = (row.regions[i].blocks - 1) | ((row.regions[i].kiB * 1024 * s / 256) << 16);
    }
    deviceSize = row.deviceKiB * 1024 * s;
    return buildSectorTable();
  }
  return -1;
}

void NorFlash::enterQuery(JtagCable& cable, NorTarget& target) {
  if (flashTypeRow(deviceIndex).cfiUnlockFirst) unlock(cable, target);
  write(cable, target, base + cfiQueryAddress, cfiQueryCommand);
}

int NorFlash::loadFromCfi(JtagCable& cable, NorTarget& target) {
  queryId.fill(0);
  deviceSize = 0;
  regionCount = 0;
  regions.fill(0);
  target.setPin(cable, csCell, bsrImage, '0');
  const FlashTypeRow& type = flashTypeRow(deviceIndex);
  enterQuery(cable, target);
  // The query's values that the table needs all fit in their low byte.
  const auto query = [&](uint32_t word) {
    uint32_t value = 0;
    queryWords(cable, target, word, 1, &value);
    return value;
  };
  uint32_t marker[3] = {};
  queryWords(cable, target, cfi::kQueryString, 3, marker);
  for (uint32_t i = 0; i < 3; ++i) queryId[i] = static_cast<char>(marker[i]);
  const bool answered = queryId[0] == 'Q' && queryId[1] == 'R' && queryId[2] == 'Y';
  // The size (and the interface it holds for) is read only from a device that answered the query.
  uint32_t size[2] = {};
  if (answered) queryWords(cable, target, cfi::kDeviceSize, 2, size);
  interfaceCode = size[1];
  if (!answered || size[0] > 31) {
    write(cable, target, base, resetCommand);
    target.setPin(cable, csCell, bsrImage, '1');
    return -1;
  }
  deviceSize = 1u << size[0];
  const uint32_t alignedBase = base & ~(deviceSize - 1);
  regionCount = static_cast<uint8_t>(query(cfi::kRegionCount));
  // A refused table leaves the part in read mode too: whatever reads the bus next reads the array.
  if (regionCount == 0 || regionCount > kMaxRegions) {
    write(cable, target, base, resetCommand);
    target.setPin(cable, csCell, bsrImage, '1');
    return -1;
  }
  uint32_t firstRegion = 0;
  if (type.cfiOnlyRegion >= 0) {
    regionCount = 1;
    firstRegion = static_cast<uint32_t>(type.cfiOnlyRegion);
  }
  uint32_t info[cfi::kRegionInfoWords * kMaxRegions] = {};
  queryWords(cable, target, cfi::kRegionInfo + firstRegion * cfi::kRegionInfoWords,
             regionCount * cfi::kRegionInfoWords, info);
  for (uint32_t i = 0; i < regionCount; ++i) {
    uint32_t value = 0;
    for (uint32_t b = 0; b < cfi::kRegionInfoWords; ++b) value |= info[i * cfi::kRegionInfoWords + b] << (8 * b);
    regions[i] = value;
  }
  target.writeCycle(cable, bsrImage, alignedBase, resetCommand, 0, busWidth);
  target.setPin(cable, csCell, bsrImage, '1');
  if (buildSectorTable() != 0) {
    target.setPin(cable, csCell, bsrImage, '1');
    return -1;
  }
  return 0;
}

int NorFlash::loadGeometry(JtagCable& cable, NorTarget& target) {
  if (!isFlashType(deviceIndex)) return -1;
  if (flashTypeRow(deviceIndex).geometry == GeometrySource::DeviceCode) return loadFromDeviceCode();
  return loadFromCfi(cable, target);
}

int NorFlash::loadCfiGeometry(JtagCable& cable, NorTarget& target) {
  if (!isFlashType(deviceIndex) || cfiQueryCommand == 0) return -1;
  return loadFromCfi(cable, target);
}

// Only the types with a query ask it, and they run one device on a 16-bit bus: the part must run x16.
bool NorFlash::cfiConfirmsBusWidth() const {
  return interfaceCode == 1 || interfaceCode == 2 || interfaceCode == 5;
}

int NorFlash::buildSectorTable() {
  uint32_t total = 0;
  for (int i = 0; i < regionCount; ++i) total += (regions[static_cast<size_t>(i)] & 0xFFFF) + 1;
  if (total > kMaxSectors) return -1;
  sectorCount = static_cast<int32_t>(total);
  sectorStart[0] = base & ~(deviceSize - 1);
  size_t k = 0;
  for (int i = 0; i < regionCount; ++i) {
    const uint32_t region = regions[static_cast<size_t>(i)];
    const uint32_t blockSize = (region >> 16) * 256;
    for (uint32_t b = 0; b <= (region & 0xFFFF); ++b, ++k) sectorStart[k + 1] = sectorStart[k] + blockSize;
  }
  return 0;
}

uint32_t NorFlash::startAddress(uint32_t blockNumber) const {
  return sectorStart[blockNumber] + (base & (deviceSize - 1));
}

void NorFlash::selectChip(JtagCable& cable, NorTarget& target) { target.setPin(cable, csCell, bsrImage, '0'); }

void NorFlash::deselectChip(JtagCable& cable, NorTarget& target) { target.setPin(cable, csCell, bsrImage, '1'); }

void NorFlash::resetDevice(JtagCable& cable, NorTarget& target) {
  selectChip(cable, target);
  write(cable, target, base, resetCommand);
  deselectChip(cable, target);
}

int NorFlash::isToggling(JtagCable& cable, NorTarget& target, uint32_t address) {
  const uint32_t addresses[2] = {address, address};
  uint32_t values[2] = {};
  readBatch(cable, target, addresses, 2, values);
  return static_cast<int>((((values[0] ^ values[1]) & dataMask) >> 6) & 1u);
}

int NorFlash::eraseSector(JtagCable& cable, NorTarget& target, int k, uint32_t& failAddress) {
  const uint32_t a = sectorStart[static_cast<size_t>(k)];
  unlock(cable, target);
  write(cable, target, base + unlockAddress1, eraseSetupCommand);
  unlock(cable, target);
  write(cable, target, a, sectorEraseCommand);
  int result = -1;
  for (int poll = 0; poll < kErasePolls; ++poll) {
    if (isToggling(cable, target, a) == 0) {
      result = 0;
      break;
    }
  }
  failAddress = a;
  return result;
}

int NorFlash::eraseRange(JobPage& page, JtagCable& cable, NorTarget& target, uint32_t blockNumber, uint32_t length,
                         uint32_t& failAddress, const std::vector<bool>* keep) {
  // A block past the table has no start to compare with.
  if (blockNumber >= static_cast<uint32_t>(sectorCount)) {
    page.messageBox("Writing address is not on sector boundary");
    return -1;
  }
  const uint32_t start = startAddress(blockNumber);
  int i = 0;
  while (i < sectorCount && sectorStart[static_cast<size_t>(i)] != start) ++i;
  if (i == sectorCount) {
    page.messageBox("Writing address is not on sector boundary");
    return -1;
  }
  // Past the device end the address would wrap onto flash that this erase never touched.
  const uint64_t end = uint64_t{start} + length;
  const uint64_t deviceEnd = uint64_t{sectorStart[0]} + deviceSize;
  if (end > deviceEnd) {
    page.messageBox("Image runs past the end of the flash");
    return -1;
  }
  int j = i;
  while (j < sectorCount && sectorStart[static_cast<size_t>(j)] < end) ++j;
  page.appendLog("  Erasing ");
  selectChip(cable, target);
  int result = 0;
  int dots = 0;
  for (int k = i; k < j; ++k) {
    if (keep != nullptr && (*keep)[static_cast<size_t>(k)]) continue;
    result = eraseSector(cable, target, k, failAddress);
    // A cable that lost its link reads as a finished erase; the job reports the link.
    if (!cable.linkFailure().empty()) {
      result = -1;
      break;
    }
    if (result != 0) {
      page.messageBox("ERASE ERROR.");
      break;
    }
    page.appendLog((dots++ + 13) % 72 == 0 ? "\r\n    ." : ".");
  }
  deselectChip(cable, target);
  return result;
}

void NorFlash::startProgramCommand(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value) {
  unlock(cable, target);
  write(cable, target, base + unlockAddress1, programCommand);
  write(cable, target, address, value);
}

int NorFlash::programUnit(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value, uint32_t& lastRead) {
  const uint32_t v = value & dataMask;
  startProgramCommand(cable, target, address, v);
  for (int poll = 0; poll < kProgramPolls; ++poll) {
    lastRead = read(cable, target, address) & dataMask;
    if (lastRead == v) return 0;
  }
  // What a failed part shows is its status; after the reset the address shows what it holds.
  resetFailedProgram(cable, target);
  lastRead = read(cable, target, address) & dataMask;
  return -1;
}

void NorFlash::resetFailedProgram(JtagCable& cable, NorTarget& target) {
  if (usesWriteBuffer(deviceIndex)) unlock(cable, target);
  write(cable, target, base + (usesWriteBuffer(deviceIndex) ? unlockAddress1 : 0), resetCommand);
}

int NorFlash::programBuffer(JtagCable& cable, NorTarget& target, uint32_t address, const uint16_t* data,
                            uint32_t byteCount) {
  const uint32_t words = byteCount / 2;
  if (words == 0) return -1;
  loadBuffer(cable, target, address, data, words);
  const uint32_t a = address + 2 * (words - 1);
  for (int poll = 0; poll < kProgramPolls; ++poll) {
    if (isToggling(cable, target, a) == 0) return 0;
  }
  resetFailedProgram(cable, target);
  return -1;
}

void NorFlash::loadBuffer(JtagCable& cable, NorTarget& target, uint32_t address, const uint16_t* data,
                          uint32_t words) {
  unlock(cable, target);
  write(cable, target, address, writeBufferCommand);
  write(cable, target, address, words - 1);
  uint32_t a = address;
  for (uint32_t w = 0; w + 1 < words; ++w, a += 2) write(cable, target, a, data[w]);
  write(cable, target, a, data[words - 1]);
  write(cable, target, a, bufferConfirmCommand);
}

ProgramTimes NorFlash::readProgramTimes(JtagCable& cable, NorTarget& target) {
  const FlashTypeRow& type = flashTypeRow(deviceIndex);
  if (type.geometry != GeometrySource::Cfi) {
    const bool wordMode = busWidth == 16 && interleave == 1;
    return {wordMode ? type.maxWordProgramUs : type.maxProgramUs, 0};
  }
  selectChip(cable, target);
  enterQuery(cable, target);
  uint32_t words[cfi::kProgramTimeWords] = {};
  queryWords(cable, target, cfi::kProgramTimes, cfi::kProgramTimeWords, words);
  write(cable, target, base, resetCommand);
  deselectChip(cable, target);
  return programTimesFromQuery(words[0], words[1], words[4], words[5]);
}

std::string NorFlash::chooseProgramWait(JtagCable& cable, NorTarget& target) {
  unitWaitClocks_ = 0;
  bufferWaitClocks_ = 0;
  started_.clear();
  const uint32_t period = cable.tckPeriodNs();
  if (period == 0 || !isFlashType(deviceIndex)) return "  Program status: polled (TCK period unknown)\r\n";
  if (cable.pollsCheaply()) return "  Program status: polled (a poll costs less than the worst-case wait)\r\n";
  const ProgramTimes times = readProgramTimes(cable, target);
  const bool buffers = usesWriteBuffer(deviceIndex);
  const uint32_t us = buffers ? times.bufferUs : times.unitUs;
  (buffers ? bufferWaitClocks_ : unitWaitClocks_) = clocksLasting(us, period);
  if (us == 0) return "  Program status: polled (the part states no program time)\r\n";
  return format("  Program status: timed, %u us each at TCK %u ns, read back once per sector\r\n", us, period);
}

void NorFlash::startUnit(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value) {
  const uint32_t v = value & dataMask;
  startProgramCommand(cable, target, address, v);
  cable.idle(unitWaitClocks_);
  started_.emplace_back(address, v);
}

void NorFlash::startBuffer(JtagCable& cable, NorTarget& target, uint32_t address, const uint16_t* data,
                           uint32_t byteCount) {
  const uint32_t words = byteCount / 2;
  if (words == 0) return;
  loadBuffer(cable, target, address, data, words);
  cable.idle(bufferWaitClocks_);
  for (uint32_t w = 0; w < words; ++w) started_.emplace_back(address + 2 * w, data[w] & dataMask);
}

bool NorFlash::checkDue(uint32_t next) const {
  if (started_.empty()) return false;
  if (started_.size() >= kMaxUncheckedPrograms) return true;
  const uint32_t* first = sectorStart.data();
  const uint32_t* last = first + sectorCount + 1;
  return std::binary_search(first, last, next);
}

int NorFlash::checkPrograms(JtagCable& cable, NorTarget& target, uint32_t& failAddress, uint32_t& wanted,
                            uint32_t& got) {
  if (started_.empty()) return 0;
  const auto count = static_cast<uint32_t>(started_.size());
  runAddresses_.resize(count);
  runValues_.resize(count);
  for (uint32_t i = 0; i < count; ++i) runAddresses_[i] = started_[i].first;
  const auto firstDifference = [&] {
    readBatch(cable, target, runAddresses_.data(), count, runValues_.data());
    uint32_t i = 0;
    while (i < count && runValues_[i] == started_[i].second) ++i;
    return i;
  };
  uint32_t differs = firstDifference();
  if (differs < count) {
    resetFailedProgram(cable, target);
    differs = firstDifference();
  }
  const int result = differs < count ? -1 : 0;
  if (result != 0) {
    failAddress = started_[differs].first;
    wanted = started_[differs].second;
    got = runValues_[differs];
  }
  started_.clear();
  return result;
}

}  // namespace zorv
