#include "targets/nor_target.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "cable/bit_string.h"
#include "targets/board_chip.h"
#include "targets/catalogue.h"

namespace zorv {

void NorTarget::setPin(JtagCable& cable, int position, char* image, char level) {
  if (position < 0) return;
  image[position] = level;
  cable.shiftDr(image, cable.bsrLength);
}

int NorTarget::prepare(JtagCable&, char*, char*) { return BusReady; }

void NorTarget::readCycleDeferred(JtagCable& cable, char* image, char* capture, uint32_t address, uint8_t* raw,
                                  int width) {
  uint32_t value = 0;
  readCycle(cable, image, capture, address, &value, 1, width);
  std::memcpy(raw, &value, sizeof value);
}

uint32_t NorTarget::rawData(const uint8_t* raw, int) {
  uint32_t value = 0;
  std::memcpy(&value, raw, sizeof value);
  return value;
}

namespace {

int roundUp(int value, int multiple) { return (value + multiple - 1) / multiple * multiple; }

}  // namespace

void BoundaryNorTarget::init(JtagCable& cable, char* productName, char** image) {
  *image = chip_ != nullptr ? loadBoardChip(cable, *chip_, productName)
                            : loadChip(cable, wiring_.product, productName, ChipVariant::Boundary);
}

int BoundaryNorTarget::setData(char* image, uint32_t value, int width, int) {
  const NorBus& bus = *wiring_.norBus;
  const int lines = static_cast<int>(bus.data.size());
  if (width < 1 || width > lines) return -1;
  const int driven = std::min(roundUp(width, bus.enableGroup), lines);
  for (int n = 0; n < driven; ++n) image[bus.dataEnables[n]] = bus.driveLevel;
  for (int n = 0; n < width; ++n) image[bus.data[n]] = bitChar((value >> n) & 1u);
  return 0;
}

void BoundaryNorTarget::setAddress(char* image, uint32_t address) {
  const std::span<const int> lines = wiring_.norBus->address;
  for (size_t n = 0; n < lines.size(); ++n) image[lines[n]] = bitChar((address >> n) & 1u);
}

void BoundaryNorTarget::beginRead(JtagCable& cable, char* image, uint32_t address) {
  const NorBus& bus = *wiring_.norBus;
  for (const int enable : bus.dataEnables) image[enable] = bus.releaseLevel;
  setAddress(image, address);
  image[bus.outputEnable] = '0';
  cable.shiftDr(image, cable.bsrLength);
}

void BoundaryNorTarget::endRead(JtagCable& cable, char* image) {
  image[wiring_.norBus->outputEnable] = '1';
  cable.shiftDr(image, cable.bsrLength);
}

int BoundaryNorTarget::readCycle(JtagCable& cable, char* image, char* capture, uint32_t address,
                                         uint32_t* values, int, int width) {
  beginRead(cable, image, address);
  cable.shiftDrCapture(image, capture, cable.bsrLength);
  endRead(cable, image);
  values[0] = getData(capture, width);
  return 0;
}

int BoundaryNorTarget::firstDataCell() const {
  const std::span<const int> data = wiring_.norBus->data;
  return *std::min_element(data.begin(), data.end());
}

size_t BoundaryNorTarget::rawBytes() const {
  const std::span<const int> data = wiring_.norBus->data;
  return static_cast<size_t>(*std::max_element(data.begin(), data.end()) - firstDataCell() + 1);
}

void BoundaryNorTarget::readCycleDeferred(JtagCable& cable, char* image, char*, uint32_t address,
                                                  uint8_t* raw, int) {
  beginRead(cable, image, address);
  cable.shiftDrCaptureDeferred(image, cable.bsrLength, firstDataCell(), static_cast<int>(rawBytes()), raw);
  endRead(cable, image);
}

uint32_t BoundaryNorTarget::rawData(const uint8_t* raw, int width) {
  const NorBus& bus = *wiring_.norBus;
  const int lines = static_cast<int>(bus.data.size());
  const int sampled = bus.samplesWholeBus ? lines : std::clamp(width, 0, lines);
  const int first = firstDataCell();
  uint32_t value = 0;
  for (int n = 0; n < sampled; ++n) {
    value |= static_cast<uint32_t>(JtagCable::capturedBit(raw[bus.data[n] - first]) == '1') << n;
  }
  return value;
}

int BoundaryNorTarget::writeCycle(JtagCable& cable, char* image, uint32_t address, uint32_t value, int,
                                          int width) {
  const NorBus& bus = *wiring_.norBus;
  setAddress(image, address);
  if (setData(image, value, width, 0) != 0) return -1;
  image[bus.writeEnable] = '0';
  cable.shiftDr(image, cable.bsrLength);
  image[bus.writeEnable] = '1';
  cable.shiftDr(image, cable.bsrLength);
  return 0;
}

uint32_t BoundaryNorTarget::getData(const char* capture, int width) {
  const NorBus& bus = *wiring_.norBus;
  const int lines = static_cast<int>(bus.data.size());
  const int sampled = bus.samplesWholeBus ? lines : std::clamp(width, 0, lines);
  uint32_t value = 0;
  for (int n = 0; n < sampled; ++n) value |= static_cast<uint32_t>(capture[bus.data[n]] == '1') << n;
  return value;
}

int BoundaryNorTarget::chipSelectCell(uint32_t address) {
  return wiring_.norBus->chipSelects[address >> 29];
}


}  // namespace zorv
