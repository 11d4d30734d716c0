#pragma once

#include <cstdint>
#include <string>

#include <memory>

#include "chain/chain_description.h"
#include "targets/board_chip.h"

namespace zorv {

// What the jobs read from their pages; copied from the controls when a job starts. The pages and
// the command line turn their texts into these numbers; a job never reads text.

struct NandSettings {
  int product = 0;
  // A board file's chip, which every job plays instead of the product's compiled one; null: the
  // product as compiled.
  std::shared_ptr<const BoardChip> board;
  ChainDescription chain;  // the devices on the cable around the product; empty: the product alone
  uint32_t block = 0;  // first block to write
  std::string imagePath;
  int verify = 0;
  // Pages of only 0xFF are left as the erase left them.
  bool skipBlank = false;
  // The image holds each page followed by its spare area, and both are written.
  bool oob = false;
};

struct NorSettings {
  int product = 0;
  std::shared_ptr<const BoardChip> board;  // as NandSettings::board
  ChainDescription chain;
  int flashType = 0;            // index in the flash-type list; 9 AutoDetect, -1 none chosen
  int width = 8;                // bus width, 8 or 16 (anything else is refused as a flash setting)
  int interleave = 1;           // 1, or 2 for two byte-wide devices side by side
  // The flash's base address on the bus as read from its text; one past 32 bits is refused by the
  // job, which names it.
  uint64_t base = 0;
  uint32_t block = 0;  // first sector to write
  std::string imagePath;
  // Units and write buffers of only 0xFF are left as the erase left them; sectors already holding
  // exactly the image are neither erased nor programmed.
  bool skipBlank = false;
  bool skipUnchanged = false;
};

enum ExtraMode : int { PinToggling = 0, ReadJtagId = 1 };

struct ExtraSettings {
  int product = 0;
  std::shared_ptr<const BoardChip> board;  // as NandSettings::board
  ChainDescription chain;
  int toggleCs = 0;
  int extraMode = PinToggling;
};

}  // namespace zorv
