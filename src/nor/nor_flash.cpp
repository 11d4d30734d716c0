#include "nor/nor_flash.h"

#include "nor/flash_types.h"

namespace zorv {

void NorFlash::bindTarget(JtagCable& cable, NorTarget& target, char* productName) {
  target.init(cable, productName, &bsrImage);
}

int NorFlash::chooseChipSelect(uint32_t address, NorTarget& target) {
  csCell = target.chipSelectCell(address);
  return csCell;
}

int NorFlash::applySetting(int width, int interleaveValue) {
  const int type = deviceIndex;
  uint32_t eraseSetup = 0x80, autoselect = 0x90, reset = 0xF0, program = 0xA0, sectorErase = 0x30;
  if ((type == En29lv010a || type == En29lv040a || type == Am29lv040b) && width == 8 && interleaveValue == 1) {
    busWidth = 8;
    dataMask = 0xFF;
    unlockAddress1 = 0x555;
    unlockAddress2 = 0x2AA;
    unlockData1 = 0xAA;
    unlockData2 = 0x55;
    makerIdAddress = type == Am29lv040b ? 0 : 0x100;
    deviceIdAddress = 1;
    expectedDeviceId = type == En29lv010a ? 0x6E : 0x4F;
  } else if ((type == En29lv010a || type == En29lv040a || type == Am29lv040b) && width == 8 &&
             interleaveValue == 2) {
    busWidth = 16;
    dataMask = 0xFFFF;
    unlockAddress1 = 0xAAA;
    unlockAddress2 = 0x554;
    unlockData1 = 0xAAAA;
    unlockData2 = 0x5555;
    makerIdAddress = type == Am29lv040b ? 0 : 0x200;
    deviceIdAddress = 2;
    expectedDeviceId = type == En29lv010a ? 0x6E6E : 0x4F4F;
    eraseSetup = 0x8080;
    autoselect = 0x9090;
    reset = 0xF0F0;
    program = 0xA0A0;
    sectorErase = 0x3030;
  } else if ((type == S29al004d || type == S29al008d) && interleaveValue == 1 && (width == 16 || width == 8)) {
    busWidth = width;
    dataMask = width == 16 ? 0xFFFF : 0xFF;
    unlockAddress1 = 0xAAA;
    unlockAddress2 = width == 16 ? 0x554 : 0x555;
    unlockData1 = 0xAA;
    unlockData2 = 0x55;
    makerIdAddress = 0;
    deviceIdAddress = 2;
    expectedDeviceId = 0;
  } else if ((type == S29gl064m || type == S29gl128m || type == K8d6316) && width == 16 && interleaveValue == 1) {
    busWidth = 16;
    dataMask = 0xFFFF;
    unlockAddress1 = 0xAAA;
    unlockAddress2 = 0x554;
    unlockData1 = 0xAA;
    unlockData2 = 0x55;
    makerIdAddress = 0;
    deviceIdAddress = 2;
    expectedDeviceId = type == K8d6316 ? 0x22E2 : 0x227E;
    writeBufferCommand = 0x25;
    bufferConfirmCommand = 0x29;
    cfiQueryAddress = 0xAA;
    cfiQueryCommand = 0x98;
  } else if (type == Sst39vf6401 && width == 16 && interleaveValue == 1) {
    busWidth = 16;
    dataMask = 0xFFFF;
    unlockAddress1 = 0xAAAA;
    unlockAddress2 = 0x5554;
    unlockData1 = 0xAAAA;
    unlockData2 = 0x5555;
    makerIdAddress = 0;
    deviceIdAddress = 2;
    expectedDeviceId = 0x236B;
    eraseSetup = 0x8080;
    // The sector table holds this device's 64 KB blocks: 0x50 is its block erase (0x30 would
    // clear only the 4 KB sector holding the address).
    sectorErase = 0x50;
    cfiQueryAddress = 0xAAAA;
    cfiQueryCommand = 0x98;
  } else {
    return -1;
  }
  interleave = interleaveValue;
  eraseSetupCommand = eraseSetup;
  autoselectCommand = autoselect;
  resetCommand = reset;
  programCommand = program;
  sectorEraseCommand = sectorErase;
  return 0;
}

int NorFlash::applyFixedSetting(int, int) {
  busWidth = 8;
  interleave = 1;
  dataMask = 0xFF;
  unlockAddress1 = 0x555;
  unlockAddress2 = 0x2AA;
  unlockData1 = 0xAA;
  unlockData2 = 0x55;
  makerIdAddress = 0x100;
  deviceIdAddress = 1;
  eraseSetupCommand = 0x80;
  autoselectCommand = 0x90;
  resetCommand = 0xF0;
  programCommand = 0xA0;
  sectorEraseCommand = 0x30;
  expectedDeviceId = 0;
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
  makerId = read(cable, target, base + makerIdAddress) & dataMask;
  deviceId = read(cable, target, base + deviceIdAddress) & dataMask;
  write(cable, target, base, resetCommand);
  target.setPin(cable, csCell, bsrImage, '1');
  return 0;
}

int NorFlash::checkId(int index) {
  if (!isFlashType(index)) return -1;
  const uint32_t low = deviceId & 0xFF;
  if (index == S29al004d || index == S29al008d) {
    const bool known = index == S29al004d ? (low == 0xB9 || low == 0xBA) : (low == 0xDA || low == 0x5B);
    if (!known) return -1;
    expectedDeviceId = deviceId;
    return 0;
  }
  return deviceId == expectedDeviceId ? 0 : -1;
}

uint32_t NorFlash::tableDeviceCode() const {
  // Two byte-wide devices side by side answer with their codes side by side.
  if (interleave == 2 && (deviceId >> 8) == (deviceId & 0xFF)) return deviceId & 0xFF;
  // In byte mode these devices give only the low byte of their code.
  if ((deviceIndex == S29al004d || deviceIndex == S29al008d) && busWidth == 8) return 0x2200 | (deviceId & 0xFF);
  return deviceId;
}

namespace {

struct GeometryRow {
  uint32_t code;
  uint32_t deviceKiB;
  int regionCount;
  struct {
    uint32_t blocks;
    uint32_t kiB;
  } regions[4];
};

constexpr GeometryRow kGeometry[] = {
    {0x006E, 128, 1, {{8, 16}}},
    {0x004F, 512, 1, {{8, 64}}},
    {0x22B9, 512, 4, {{7, 64}, {1, 32}, {2, 8}, {1, 16}}},
    {0x22BA, 512, 4, {{1, 16}, {2, 8}, {1, 32}, {7, 64}}},
    {0x22DA, 1024, 4, {{15, 64}, {1, 32}, {2, 8}, {1, 16}}},
    {0x225B, 1024, 4, {{1, 16}, {2, 8}, {1, 32}, {15, 64}}},
};

}  // namespace

int NorFlash::loadFromDeviceCode() {
  const uint32_t code = tableDeviceCode();
  const uint32_t s = interleave == 2 ? 2u : 1u;
  for (const GeometryRow& row : kGeometry) {
    if (row.code != code) continue;
    regionCount = static_cast<uint8_t>(row.regionCount);
    for (int i = 0; i < row.regionCount; ++i) {
      regions[static_cast<size_t>(i)] = (row.regions[i].blocks - 1) | ((row.regions[i].kiB * 1024 * s / 256) << 16);
    }
    deviceSize = row.deviceKiB * 1024 * s;
    return buildSectorTable();
  }
  return -1;
}

int NorFlash::loadFromCfi(JtagCable& cable, NorTarget& target) {
  queryId.fill(0);
  deviceSize = 0;
  regionCount = 0;
  regions.fill(0);
  target.setPin(cable, csCell, bsrImage, '0');
  if (deviceIndex == Sst39vf6401) unlock(cable, target);
  write(cable, target, base + cfiQueryAddress, cfiQueryCommand);
  for (uint32_t i = 0; i < 3; ++i) queryId[i] = static_cast<char>(read(cable, target, base + 0x20 + 2 * i) & 0xFF);
  const bool answered = queryId[0] == 'Q' && queryId[1] == 'R' && queryId[2] == 'Y';
  // The size is read only from a device that answered the query.
  const uint32_t sizePower = answered ? read(cable, target, base + 0x4E) & 0xFF : 0;
  if (!answered || sizePower > 31) {
    write(cable, target, base, resetCommand);
    target.setPin(cable, csCell, bsrImage, '1');
    return -1;
  }
  deviceSize = 1u << sizePower;
  const uint32_t alignedBase = base & ~(deviceSize - 1);
  regionCount = static_cast<uint8_t>(read(cable, target, base + 0x58) & 0xFF);
  if (regionCount == 0 || regionCount > kMaxRegions) {
    target.setPin(cable, csCell, bsrImage, '1');
    return -1;
  }
  uint32_t start = 0x5A;
  if (deviceIndex == Sst39vf6401) {
    regionCount = 1;
    start = 0x62;
  }
  for (uint32_t i = 0; i < regionCount; ++i) {
    uint32_t value = 0;
    for (uint32_t b = 0; b < 4; ++b) value |= (read(cable, target, base + start + 8 * i + 2 * b) & 0xFF) << (8 * b);
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
  if (deviceIndex >= En29lv010a && deviceIndex <= S29al008d) return loadFromDeviceCode();
  if (deviceIndex >= S29gl064m && deviceIndex <= Sst39vf6401) return loadFromCfi(cable, target);
  return -1;
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
  const uint32_t a = read(cable, target, address);
  const uint32_t b = read(cable, target, address);
  return static_cast<int>((((a ^ b) & dataMask) >> 6) & 1u);
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

int NorFlash::programUnit(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value, uint32_t& lastRead) {
  const uint32_t v = value & dataMask;
  unlock(cable, target);
  write(cable, target, base + unlockAddress1, programCommand);
  write(cable, target, address, v);
  for (int poll = 0; poll < kProgramPolls; ++poll) {
    lastRead = read(cable, target, address) & dataMask;
    if (lastRead == v) return 0;
  }
  return -1;
}

int NorFlash::programBuffer(JtagCable& cable, NorTarget& target, uint32_t address, const uint16_t* data,
                            uint32_t byteCount) {
  const uint32_t words = byteCount / 2;
  if (words == 0) return -1;
  unlock(cable, target);
  write(cable, target, address, writeBufferCommand);
  write(cable, target, address, words - 1);
  uint32_t a = address;
  for (uint32_t w = 0; w + 1 < words; ++w, a += 2) write(cable, target, a, data[w]);
  write(cable, target, a, data[words - 1]);
  write(cable, target, a, bufferConfirmCommand);
  for (int poll = 0; poll < kProgramPolls; ++poll) {
    if (isToggling(cable, target, a) == 0) return 0;
  }
  return -1;
}

}  // namespace zorv
