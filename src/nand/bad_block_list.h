#pragma once

#include <cstdint>

namespace zorv {

// The blocks of the last NAND job's erase pass that carry a factory bad-block marker or whose erase
// the device reported as failed, program-wide like the product images (one NAND job runs at a
// time). Holds at most kCapacity addresses; failures beyond that are only counted.
struct NandBadBlockList {
  static constexpr int kCapacity = 128;
  uint32_t addresses[kCapacity] = {};
  int count = 0;
  uint32_t notListed = 0;

  void clear() {
    count = 0;
    notListed = 0;
  }
  void add(uint32_t address) {
    if (count < kCapacity) {
      addresses[count++] = address;
    } else {
      ++notListed;
    }
  }
};

NandBadBlockList& nandBadBlocks();

}  // namespace zorv
