#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "link/jtag_cable.h"
#include "nor/nor_flash.h"
#include "targets/nor_target.h"

namespace zorv {

// For a re-flash that changes a few sectors: the sectors that already hold exactly what a download
// would leave there (the image's bytes, then erased flash, 0xFF, to the sector's end), which need
// be neither erased nor programmed. Reading a unit costs a few scans; erasing a sector and
// programming it unit by unit cost many more.
class UnchangedSectors {
 public:
  // Reads every sector that `length` image bytes from sector blockNumber cover, each up to its
  // first difference. Nothing is marked when the download would be refused (not on a sector
  // boundary, past the device's end): the erase then says why. The image is read from its start
  // and left rewound. progress(bytes compared) is called after each sector. Reading a large device
  // takes long, so a stop request is seen between sectors: false then, and nothing is marked.
  bool find(NorFlash& flash, JtagCable& cable, NorTarget& target, uint32_t blockNumber, std::FILE* image,
            uint32_t length, const std::atomic<int>& stopRequested, const std::function<void(uint32_t)>& progress);

  // Marks by sector index, as the erase takes them.
  const std::vector<bool>& marks() const { return marks_; }
  uint32_t count() const { return count_; }
  // Whether the bus address lies in an unchanged sector.
  bool covers(const NorFlash& flash, uint32_t address) const;

 private:
  bool sectorHolds(NorFlash& flash, JtagCable& cable, NorTarget& target, uint32_t start, const uint8_t* expected,
                   uint32_t size);

  std::vector<bool> marks_;
  std::vector<uint8_t> read_;
  uint32_t count_ = 0;
};

}  // namespace zorv
