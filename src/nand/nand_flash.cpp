#include "nand/nand_flash.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "nand/nand_commands.h"
#include "text/format.h"

namespace zorv {
namespace {

namespace cmd = nand_command;

struct NandSize {
  uint8_t deviceCode;
  const char* label;
  uint32_t totalSize;
};

constexpr NandSize kSizes[] = {
    {0x75, "32MB(5608)", 0x2000000u},   {0x76, "64MB(1208)", 0x4000000u},
    {0xF1, "128MB(1G08)", 0x8000000u},  {0xDA, "256MB(2G08)", 0x10000000u},
    {0xDC, "512MB(4G08)", 0x20000000u}, {0xD3, "1GB(8G08)", 0x40000000u},
};

constexpr uint32_t kSmallBlockSize = 0x4000;
constexpr int kSmallPageSize = 512;
constexpr int kSmallSpareSize = 16;
// Column of the small-page bad-block marker: byte 5 of the block's first page.
constexpr uint32_t kSmallMarkerColumn = 5;
constexpr int kSupportedLargePageSize = 2048;

bool isLargePageCode(uint8_t code) { return code == 0xF1 || code == 0xDA || code == 0xDC || code == 0xD3; }

uint8_t byteOf(uint32_t value) { return static_cast<uint8_t>(value & 0xFF); }

// Status bit 6: the device is ready. Once R/B has said ready a part's status has it set; I/O0 is
// pass or fail, I/O7 write protect, I/O1-5 are not used and may read either way (Samsung
// K9F1208U0C table 4, K9F4G08U0M table 3), so an all-zeros status is no part's answer.
constexpr uint8_t kNandStatusReady = 0x40;

// A maker's marker, or one a job wrote, reads as marked every time; one glitch on TDO does not.
void noteMarkerGlitch(JtagCable& cable, uint32_t address, uint8_t first, uint8_t again) {
  cable.noteCableFault(format("the NAND's bad-block marker at 0x%X read 0x%02X, then 0x%02X: the answers through "
                              "the cable change",
                              address, first, again));
}

bool statusPasses(uint8_t status) { return (status & kNandStatusReady) != 0 && (status & kNandStatusFail) == 0; }

}  // namespace

int nandAddressBytes(uint8_t deviceCode, NandAddressKind kind, uint32_t a, uint8_t bytes[5]) {
  int n = 0;
  switch (deviceCode) {
    case 0xDA:
    case 0xDC:
    case 0xD3:
    case 0xF1: {
      // Large pages: an 11-bit column, then the page number.
      if (kind == PageAddress) {
        bytes[n++] = byteOf(a);
        bytes[n++] = byteOf((a >> 8) & 0x07);
      } else if (kind == SpareAddress) {
        bytes[n++] = byteOf(a & 0x3F);
        bytes[n++] = 0x08;
      }
      bytes[n++] = byteOf(a >> 11);
      bytes[n++] = byteOf(a >> 19);
      if (deviceCode != 0xF1) bytes[n++] = byteOf((a >> 27) & 0x07);
      return n;
    }
    case 0x75:
    case 0x76: {
      // Small pages: an 8-bit column (the spare kind is an ordinary page address), then the page.
      if (kind != BlockAddress) bytes[n++] = byteOf(a);
      bytes[n++] = byteOf(a >> 9);
      bytes[n++] = byteOf(a >> 17);
      if (deviceCode == 0x76) bytes[n++] = byteOf((a >> 25) & 0x7F);
      return n;
    }
    default: return 0;
  }
}

bool readsLikeADeadCable(const uint8_t* bytes, uint32_t count) {
  if (count == 0 || (bytes[0] != 0xFF && bytes[0] != 0x00)) return false;
  return std::all_of(bytes, bytes + count, [first = bytes[0]](uint8_t b) { return b == first; });
}

void NandFlash::bind(JtagCable& cable, NandTarget& target, char* productName) {
  target.init(cable, productName, pins, bsrImage);
  locateDataCells(target);
}

// The target reads its data cells from a captured image; setting one cell at a time shows which.
void NandFlash::locateDataCells(const NandTarget& target) {
  char probe[sizeof captured];
  std::memset(probe, '0', sizeof probe);
  int first = -1, last = -1;
  for (int cell = 0; cell + 1 < static_cast<int>(sizeof probe); ++cell) {
    probe[cell] = '1';
    if (target.getDataByte(probe) != 0) {
      if (first < 0) first = cell;
      last = cell;
    }
    probe[cell] = '0';
  }
  dataFirst = first < 0 ? 0 : first;
  dataSpan = first < 0 ? 0 : last - first + 1;
}

void NandFlash::setChipEnable(JtagCable& cable, char level) {
  bsrImage[pins.pinCe] = level;
  scan(cable);
}

int NandFlash::waitReady(JtagCable& cable) {
  for (int sample = 0; sample < kNandReadySamples; ++sample) {
    captureScan(cable);
    if (captured[pins.pinRb] == '1') return 0;
  }
  return -1;
}

void NandFlash::writeCommand(JtagCable& cable, const NandTarget& target, uint8_t command) {
  target.putDataByte(bsrImage, command);
  bsrImage[pins.pinCle] = '1';
  scan(cable);
  bsrImage[pins.pinWe] = '0';
  scan(cable);
  bsrImage[pins.pinWe] = '1';
  scan(cable);
  bsrImage[pins.pinCle] = '0';
  scan(cable);
}

void NandFlash::writeAddress(JtagCable& cable, const NandTarget& target, NandAddressKind kind, uint32_t address) {
  uint8_t bytes[5];
  const int count = nandAddressBytes(id[1], kind, address, bytes);
  addressCycles(cable, target, bytes, count);
}

void NandFlash::addressCycles(JtagCable& cable, const NandTarget& target, const uint8_t* bytes, int count) {
  bsrImage[pins.pinAle] = '1';
  scan(cable);
  for (int i = 0; i < count; ++i) {
    target.putDataByte(bsrImage, bytes[i]);
    bsrImage[pins.pinWe] = '0';
    scan(cable);
    bsrImage[pins.pinWe] = '1';
    scan(cable);
  }
  bsrImage[pins.pinAle] = '0';
  scan(cable);
}

void NandFlash::writeData(JtagCable& cable, const NandTarget& target, const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    target.putDataByte(bsrImage, bytes[i]);
    bsrImage[pins.pinWe] = '0';
    scan(cable);
    bsrImage[pins.pinWe] = '1';
    scan(cable);
  }
}

// No byte decides the next cycle, so the whole read is one batch of deferred captures and a
// buffering cable collects it in one round trip.
void NandFlash::readData(JtagCable& cable, const NandTarget& target, uint8_t* buffer, uint32_t count) {
  const size_t span = static_cast<size_t>(dataSpan);
  if (readCaptures_.size() < count * span) readCaptures_.resize(count * span);
  target.setBusDirection(bsrImage, kBusInput);
  for (uint32_t i = 0; i < count; ++i) {
    bsrImage[pins.pinRe] = '0';
    scan(cable);
    cable.shiftDrCaptureDeferred(bsrImage, cable.bsrLength, dataFirst, dataSpan, readCaptures_.data() + i * span);
    bsrImage[pins.pinRe] = '1';
    scan(cable);
  }
  cable.collectCaptures();
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* raw = readCaptures_.data() + i * span;
    for (size_t k = 0; k < span; ++k) captured[static_cast<size_t>(dataFirst) + k] = JtagCable::capturedBit(raw[k]);
    buffer[i] = target.getDataByte(captured);
  }
  // Takes effect with the next scan of whatever operation follows.
  target.setBusDirection(bsrImage, kBusOutput);
}

int NandFlash::readArea(JtagCable& cable, const NandTarget& target, uint8_t command, NandAddressKind kind,
                        uint32_t address, uint8_t* buffer, uint32_t count) {
  writeCommand(cable, target, command);
  writeAddress(cable, target, kind, address);
  if (largePage) writeCommand(cable, target, cmd::kReadConfirm);
  if (waitReady(cable) != 0) {
    // A busy device takes no command but a status read or a reset; the reset aborts the read so
    // that the operation after this one is taken.
    writeCommand(cable, target, cmd::kReset);
    if (waitReady(cable) == 0) return -1;
    // R/B that never rises may be TDO stuck low rather than the device.
    cable.checkTdoCarriesAnswers();
    return -2;
  }
  readData(cable, target, buffer, count);
  return 0;
}

int NandFlash::readSpare(JtagCable& cable, const NandTarget& target, uint32_t address, uint8_t* buffer,
                         uint32_t count) {
  return readArea(cable, target, cmd::kRead, SpareAddress, address, buffer, count);
}

int NandFlash::readPage(JtagCable& cable, const NandTarget& target, uint32_t address, uint8_t* buffer,
                        uint32_t count) {
  return readArea(cable, target, cmd::kRead, PageAddress, address, buffer, count);
}

int NandFlash::readMarker(JtagCable& cable, const NandTarget& target, uint32_t pageAddress, uint8_t& marker) {
  if (largePage) return readArea(cable, target, cmd::kRead, SpareAddress, pageAddress, &marker, 1);
  const int result =
      readArea(cable, target, cmd::kReadSpare, PageAddress, pageAddress + kSmallMarkerColumn, &marker, 1);
  // Point the next program back at the main area.
  if (result != -2) writeCommand(cable, target, cmd::kRead);
  return result;
}

bool NandFlash::markerReadsAlike(JtagCable& cable, const NandTarget& target, uint32_t pageAddress, uint8_t marker) {
  uint8_t again = 0xFF;
  if (readMarker(cable, target, pageAddress, again) != 0 || again != 0xFF) return true;
  noteMarkerGlitch(cable, pageAddress, marker, again);
  return false;
}

int NandFlash::factoryMarker(JtagCable& cable, const NandTarget& target, uint32_t blockAddress) {
  // The maker marks a bad block in its first or its second page, so both are read.
  for (uint32_t page = 0; page < 2; ++page) {
    const uint32_t pageAddress = blockAddress + page * static_cast<uint32_t>(pageSize);
    uint8_t marker = 0;
    const int result = readMarker(cable, target, pageAddress, marker);
    if (result == -2) return -1;
    if (result == 0 && marker != 0xFF && !markerReadsAlike(cable, target, pageAddress, marker)) return -1;
    if (result == -1 || marker != 0xFF) return answersAsItself(cable, target) ? 1 : -1;
  }
  return 0;
}

int NandFlash::isBadBlock(JtagCable& cable, const NandTarget& target, uint32_t blockAddress) {
  uint8_t marker = 0;
  const uint32_t address = largePage ? blockAddress : blockAddress + kSmallMarkerColumn;
  const int result = readSpare(cable, target, address, &marker, 1);
  if (result == 0 && marker == 0xFF) return 0;
  if (result == 0) {
    uint8_t again = 0xFF;
    if (readSpare(cable, target, address, &again, 1) == 0 && again == 0xFF) {
      noteMarkerGlitch(cable, blockAddress, marker, again);
      return -1;
    }
  }
  // A dead cable reads markers too: the block counts as bad only while the device is itself.
  if (result != -2) answersAsItself(cable, target);
  return -1;
}

int NandFlash::markBad(JtagCable& cable, const NandTarget& target, uint32_t blockAddress) {
  const uint8_t mark = 0x00;
  int result = 0;
  for (uint32_t page = 0; page < 2; ++page) {
    const uint32_t address = blockAddress + page * static_cast<uint32_t>(pageSize);
    if (largePage) {
      // The spare kind puts the column at 2048, the first spare byte.
      writeCommand(cable, target, cmd::kProgram);
      writeAddress(cable, target, SpareAddress, address);
    } else {
      // The 0x50 pointer makes the column count from the first spare byte.
      writeCommand(cable, target, cmd::kReadSpare);
      writeCommand(cable, target, cmd::kProgram);
      writeAddress(cable, target, PageAddress, address + kSmallMarkerColumn);
    }
    writeData(cable, target, &mark, 1);
    writeCommand(cable, target, cmd::kProgramConfirm);
    if (waitReady(cable) != 0) {
      writeCommand(cable, target, cmd::kReset);
      waitReady(cable);
      result = -1;
    } else if ((readStatus(cable, target) & kNandStatusFail) != 0) {
      result = -1;
    }
    // Point the next program back at the main area.
    if (!largePage) writeCommand(cable, target, cmd::kRead);
  }
  return result;
}

uint8_t NandFlash::readStatus(JtagCable& cable, const NandTarget& target) {
  writeCommand(cable, target, cmd::kReadStatus);
  uint8_t status = 0;
  readData(cable, target, &status, 1);
  return status;
}

void NandFlash::checkFailure(JtagCable& cable, const NandTarget& target, uint8_t status,
                             bool protectIsAFault) {
  // The status register keeps its value until the next operation, so a second read gives the
  // same unless the first came through a glitch.
  const uint8_t again = readStatus(cable, target);
  if (!answersAsItself(cable, target)) return;
  if (again != status) {
    cable.noteCableFault(format("the NAND's status read 0x%02X, then 0x%02X: the answers through the cable change",
                                status, again));
  } else if ((status & kNandStatusReady) == 0) {
    cable.noteCableFault(format("the NAND's status 0x%02X says busy although R/B says ready: no NAND answers so",
                                status));
  } else if (protectIsAFault && (status & kNandStatusWritable) == 0) {
    // The job found WP# high before its first erase: the failure is the line's, not the block's.
    cable.noteCableFault(format("the NAND's status 0x%02X says it is write-protected: its WP# line went low during "
                                "the job",
                                status));
  }
}

bool NandFlash::answersAsItself(JtagCable& cable, const NandTarget& target) {
  writeCommand(cable, target, cmd::kReadId);
  const uint8_t idAddress = 0x00;
  addressCycles(cable, target, &idAddress, 1);
  uint8_t now[4] = {};
  readData(cable, target, now, 4);
  if (std::memcmp(now, id, sizeof now) == 0) return true;
  cable.noteCableFault(format("the NAND answers with ID %02X %02X %02X %02X, not %02X %02X %02X %02X as at the "
                              "start: TDO is stuck or the cable or the board's power came loose",
                              now[0], now[1], now[2], now[3], id[0], id[1], id[2], id[3]));
  return false;
}

int NandFlash::programPage(JtagCable& cable, const NandTarget& target, uint32_t address, const uint8_t* bytes,
                           uint32_t count) {
  writeCommand(cable, target, cmd::kProgram);
  writeAddress(cable, target, PageAddress, address);
  writeData(cable, target, bytes, count);
  writeCommand(cable, target, cmd::kProgramConfirm);
  programTimedOut = waitReady(cable) != 0;
  if (programTimedOut) {
    cable.checkTdoCarriesAnswers();
    return -1;
  }
  const uint8_t status = readStatus(cable, target);
  if (statusPasses(status)) return 0;
  checkFailure(cable, target, status);
  return -1;
}

// Read while the status still holds what the reset that ended readId left in it: a program or erase
// refused since (a locked block on parts that lock blocks) may clear I/O7 with WP# high.
int NandFlash::writeProtected(JtagCable& cable, const NandTarget& target, uint8_t& status) {
  status = readStatus(cable, target);
  if ((status & kNandStatusWritable) != 0) return 0;
  // Two reads alike, a ready bit and the device's ID, or the cable is at fault: TDO stuck low
  // reads I/O7 low too.
  checkFailure(cable, target, status, false);
  return cable.linkFailure().empty() ? 1 : -1;
}

int NandFlash::eraseBlock(JtagCable& cable, const NandTarget& target, uint32_t blockAddress) {
  writeCommand(cable, target, cmd::kBlockErase);
  writeAddress(cable, target, BlockAddress, blockAddress);
  writeCommand(cable, target, cmd::kEraseConfirm);
  if (waitReady(cable) != 0) {
    cable.checkTdoCarriesAnswers();
    return -1;
  }
  const uint8_t status = readStatus(cable, target);
  if (statusPasses(status)) return 0;
  checkFailure(cable, target, status);
  return cable.linkFailure().empty() ? 1 : -1;
}

void NandFlash::idleControlPins(JtagCable& cable) {
  // Another job on the same product (pin toggling, a NOR job) may have left nWE and nRE low; a
  // device selected that way would drive the bus against the chip.
  const std::pair<int, char> idle[] = {{pins.pinCe, '1'},  {pins.pinWe, '1'},  {pins.pinRe, '1'},
                                       {pins.pinCle, '0'}, {pins.pinAle, '0'}};
  bool changed = false;
  for (const auto& [cell, level] : idle) {
    changed = changed || bsrImage[cell] != level;
    bsrImage[cell] = level;
  }
  if (changed) scan(cable);
}

void NandFlash::readId(JtagCable& cable, const NandTarget& target) {
  idleControlPins(cable);
  setChipEnable(cable, '0');
  target.setBusDirection(bsrImage, kBusOutput);
  writeCommand(cable, target, cmd::kReadId);
  const uint8_t idAddress = 0x00;
  addressCycles(cable, target, &idAddress, 1);
  readData(cable, target, id, 4);

  const uint8_t code = id[1];
  if (isLargePageCode(code)) {
    largePage = 1;
    pageSize = 1024 << (id[3] & 3);
    blockSize = 65536 << ((id[3] >> 4) & 3);
    // Fourth ID byte, I/O2: 8 or 16 spare bytes per 512 main bytes.
    spareSize = pageSize / 512 * ((id[3] & 0x04) != 0 ? 16 : 8);
  } else if (code == 0x75 || code == 0x76) {
    largePage = 0;
    pageSize = kSmallPageSize;
    spareSize = kSmallSpareSize;
  } else {
    largePage = 0;
    pageSize = 0;
    blockSize = 0;
    spareSize = 0;
  }
  writeCommand(cable, target, cmd::kReset);
  waitReady(cable);
  setChipEnable(cable, '1');
}

int NandFlash::lookupSize() {
  for (const NandSize& size : kSizes) {
    if (size.deviceCode != id[1]) continue;
    if (isLargePageCode(size.deviceCode) && pageSize != kSupportedLargePageSize) return -1;
    std::strncpy(sizeLabel, size.label, sizeof sizeLabel - 1);
    totalSize = size.totalSize;
    if (!isLargePageCode(size.deviceCode)) blockSize = kSmallBlockSize;
    return 0;
  }
  return -1;
}

void NandFlash::getId(uint8_t& maker, uint8_t& device, char* label) const {
  maker = id[0];
  device = id[1];
  std::memcpy(label, sizeLabel, sizeof sizeLabel);
}

}  // namespace zorv
