#include "targets/veskar_nor_target.h"

#include <cstring>

#include "cable/bit_string.h"
#include "targets/catalogue.h"
#include "text/format.h"

namespace zorv {
namespace {

// A debug-access frame: a head naming the access, then a body whose shape depends on it.
//
//   head:  operation (5) | attributes (11) | address, MSB first (32) | item count, MSB first (4)
//   write: value (data bits) | as many '0' | terminator '1'
//   read:  data bits of '0' | one slot of data bits + 2 characters per item | terminator '1'
//
// A read's items come back in the captured frame, each starting a few characters into its slot.
constexpr int kOperationField = 0;
constexpr int kAttributeField = 5;
constexpr int kAddressField = 16;
constexpr int kCountField = 48;
constexpr int kCountBits = 4;
constexpr int kBody = 52;
constexpr int kSlotPadding = 2;    // a slot is two characters longer than its item
constexpr int kSlotZeros = 10;     // the characters of a slot cleared before a read; the rest keep the buffer's
constexpr int kItemInSlot = 3;     // where a captured item starts within its slot

// One kind of access: what the head says and how wide its items are.
struct Access {
  const char* operation;
  const char* attributes;
  int dataBits;
};

constexpr Access kByteRead{"10101", "00000000000", 8};
constexpr Access kByteWrite{"10110", "01000000000", 8};
constexpr Access kWordRead{"10001", "00000001000", 32};
constexpr Access kWordWrite{"10010", "01000001000", 32};

// The register writes that switch debug access on, shifted before the first frame.
constexpr const char* kDebugEntry[] = {"00000", "100101", "00011"};

void putText(char* frame, int at, const char* text) { std::memcpy(frame + at, text, std::strlen(text)); }
void putZeros(char* frame, int at, int count) { std::memset(frame + at, '0', static_cast<size_t>(count)); }

uint32_t readMsbFirst(const char* bits, int at, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 1) | static_cast<uint32_t>(bits[at + i] == '1');
  return value;
}

void putHead(char* frame, const Access& access, uint32_t address, uint32_t count) {
  putText(frame, kOperationField, access.operation);
  putText(frame, kAttributeField, access.attributes);
  putMsbFirst(frame + kAddressField, address, 32);
  putMsbFirst(frame + kCountField, count, kCountBits);
}

// Builds a read frame of `count` items; returns its length.
int buildReadFrame(char* frame, const Access& access, uint32_t address, int count) {
  const int slotLength = access.dataBits + kSlotPadding;
  const int firstSlot = kBody + access.dataBits;
  putHead(frame, access, address, static_cast<uint32_t>(count));
  putZeros(frame, kBody, access.dataBits);
  for (int j = 0; j < count; ++j) putZeros(frame, firstSlot + j * slotLength, kSlotZeros);
  const int terminator = firstSlot + count * slotLength;
  frame[terminator] = '1';
  return terminator + 1;
}

// Where the first item of a read frame lands in its capture.
constexpr int firstItem(const Access& access) { return kBody + access.dataBits + kItemInSlot; }

// One read frame of `count` items, shifted with capture; the items land in values.
void readFrame(JtagCable& cable, char* frame, char* capture, const Access& access, uint32_t address,
               uint32_t* values, int count) {
  const int slotLength = access.dataBits + kSlotPadding;
  const int firstSlot = kBody + access.dataBits;
  cable.shiftDrCapture(frame, capture, buildReadFrame(frame, access, address, count));
  for (int j = 0; j < count; ++j) {
    values[j] = readMsbFirst(capture, firstSlot + j * slotLength + kItemInSlot, access.dataBits);
  }
}

// One write frame carrying value.
void writeFrame(JtagCable& cable, char* frame, const Access& access, uint32_t address, uint32_t value) {
  putHead(frame, access, address, 0);
  putMsbFirst(frame + kBody, value, access.dataBits);
  putZeros(frame, kBody + access.dataBits, access.dataBits);
  const int terminator = kBody + 2 * access.dataBits;
  frame[terminator] = '1';
  cable.shiftDr(frame, terminator + 1);
}

uint32_t readWord(JtagCable& cable, char* frame, char* capture, uint32_t address) {
  uint32_t value = 0;
  readFrame(cable, frame, capture, kWordRead, address, &value, 1);
  return value;
}

}  // namespace

void VeskarNorTarget::init(JtagCable& cable, char* productName, char** image) {
  *image = loadChip(cable, Veskar, productName, ChipVariant::VeskarDebug);
}

int VeskarNorTarget::setData(char* image, uint32_t value, int, int) {
  putMsbFirst(image + kBody, value & 0xFFu, kByteWrite.dataBits);
  return 0;
}

void VeskarNorTarget::setAddress(char* image, uint32_t address) { putMsbFirst(image + kAddressField, address, 32); }

int VeskarNorTarget::readCycle(JtagCable& cable, char* image, char* capture, uint32_t address, uint32_t* values,
                               int count, int) {
  readFrame(cable, image, capture, kByteRead, address, values, count);
  return 0;
}

int VeskarNorTarget::writeCycle(JtagCable& cable, char* image, uint32_t address, uint32_t value, int, int) {
  writeFrame(cable, image, kByteWrite, address, value & 0xFFu);
  return 0;
}

size_t VeskarNorTarget::rawBytes() const { return static_cast<size_t>(kByteRead.dataBits); }

// The frame readCycle shifts, with only its item's bits captured, and those late: a run of reads
// then waits on the cable once, as a run of boundary-scan reads does.
void VeskarNorTarget::readCycleDeferred(JtagCable& cable, char* image, char*, uint32_t address, uint8_t* raw, int) {
  const int length = buildReadFrame(image, kByteRead, address, 1);
  cable.shiftDrCaptureDeferred(image, length, firstItem(kByteRead), kByteRead.dataBits, raw);
}

uint32_t VeskarNorTarget::rawData(const uint8_t* raw, int) {
  uint32_t value = 0;
  for (int i = 0; i < kByteRead.dataBits; ++i) {
    value = (value << 1) | static_cast<uint32_t>(JtagCable::capturedBit(raw[i]) == '1');
  }
  return value;
}

uint32_t VeskarNorTarget::getData(const char*, int) { return 0; }
int VeskarNorTarget::chipSelectCell(uint32_t) { return 0; }
void VeskarNorTarget::setPin(JtagCable&, int, char*, char) {}

int VeskarNorTarget::prepare(JtagCable& cable, char* image, char* capture) {
  for (const char* bits : kDebugEntry) cable.shiftDr(bits, static_cast<int>(std::strlen(bits)));
  const uint32_t v = readWord(cable, image, capture, kVeskarBank0Register);
  writeFrame(cable, image, kWordWrite, kVeskarBank0Register, v + 1);
  if (readWord(cable, image, capture, kVeskarBank0Register) != v + 1) return DebugModeRefused;
  writeFrame(cable, image, kWordWrite, kVeskarBank0Register, kVeskarBank0Config);
  if (readWord(cable, image, capture, kVeskarBank0Register) != kVeskarBank0Config) return FlashConfigRefused;
  return BusReady;
}

std::string VeskarNorTarget::preparedLines() const {
  return format("  VESKAR BANK0 REG: 0x%09X,\r\n  CONFIG Value: 0x%08X\r\n", kVeskarBank0Register, kVeskarBank0Config);
}

}  // namespace zorv
