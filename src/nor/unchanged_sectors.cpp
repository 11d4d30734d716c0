#include "nor/unchanged_sectors.h"

#include <algorithm>

namespace zorv {

bool UnchangedSectors::find(NorFlash& flash, JtagCable& cable, NorTarget& target, uint32_t blockNumber,
                            std::FILE* image, uint32_t length, const std::atomic<int>& stopRequested,
                            const std::function<void(uint32_t)>& progress) {
  marks_.assign(static_cast<size_t>(flash.sectorCount), false);
  count_ = 0;
  if (length == 0 || blockNumber >= static_cast<uint32_t>(flash.sectorCount)) return true;
  const uint32_t start = flash.startAddress(blockNumber);
  if (flash.sectorStart[blockNumber] != start) return true;
  const uint64_t end = uint64_t{start} + length;
  if (end > uint64_t{flash.sectorStart[0]} + flash.deviceSize) return true;
  bool stopped = false;
  std::vector<uint8_t> expected;
  flash.selectChip(cable, target);
  uint32_t compared = 0;
  for (uint32_t k = blockNumber; k < static_cast<uint32_t>(flash.sectorCount) && flash.sectorStart[k] < end; ++k) {
    if (stopRequested.load() != 0) {
      stopped = true;
      break;
    }
    const uint32_t size = flash.sectorStart[k + 1] - flash.sectorStart[k];
    const uint32_t fromImage = std::min(size, length - compared);
    expected.assign(size, 0xFF);
    if (std::fread(expected.data(), 1, fromImage, image) != fromImage) break;
    if (sectorHolds(flash, cable, target, flash.sectorStart[k], expected.data(), size)) {
      marks_[k] = true;
      ++count_;
    }
    compared += fromImage;
    progress(compared);
  }
  flash.deselectChip(cable, target);
  std::rewind(image);
  if (stopped) {
    marks_.assign(marks_.size(), false);
    count_ = 0;
  }
  return !stopped;
}

bool UnchangedSectors::covers(const NorFlash& flash, uint32_t address) const {
  if (count_ == 0) return false;
  // The sector table ascends: the last sector starting at or below the address holds it.
  const uint32_t* first = flash.sectorStart.data();
  const uint32_t* next = std::upper_bound(first, first + flash.sectorCount, address);
  if (next == first) return false;
  const auto sector = static_cast<size_t>(next - first - 1);
  return marks_[sector] && address < flash.sectorStart[sector + 1];
}

bool UnchangedSectors::sectorHolds(NorFlash& flash, JtagCable& cable, NorTarget& target, uint32_t start,
                                   const uint8_t* expected, uint32_t size) {
  const uint32_t unit = static_cast<uint32_t>(flash.busWidth) / 8;
  const uint32_t perRun = flash.unitsPerRun(cable);
  read_.resize(static_cast<size_t>(perRun) * unit);
  for (uint32_t at = 0; at < size; at += perRun * unit) {
    const uint32_t units = std::min(perRun, (size - at) / unit);
    flash.readUnits(cable, target, start + at, units, read_.data());
    if (!std::equal(read_.begin(), read_.begin() + units * unit, expected + at)) return false;
  }
  return true;
}

}  // namespace zorv
