#pragma once

#include <cstdint>
#include <functional>

#include "nor/nor_flash.h"
#include "page/job_frame.h"
#include "targets/board_chip.h"
#include "targets/nor_target.h"

namespace zorv {

// The NOR bus as a page or the command line chose it; a product whose bus is fixed ignores it.
struct NorBusChoice {
  int product = 0;
  int flashType = 0;   // index in the flash-type list
  int width = 8;       // 8 or 16
  int interleave = 1;  // 1 or 2
  uint64_t base = 0;   // as read; past 32 bits it is refused
  const BoardChip* board = nullptr;  // a board file's chip; null: the product as compiled
};

// Where a job's identification differs from the others'; either may be empty.
struct NorIdentifySteps {
  // After the chip's JTAG ID line, before the bus is set; false ends the job.
  std::function<bool()> beforeBus;
  // For IDs that name no known type, instead of the "Unknown FLASH ID" box: true when the job
  // can go on with the device as it found it.
  std::function<bool()> unknownDevice;
};

// The start every NOR job shares: port test, nTRST, TAP reset, the type line, the base and its
// chip select, the chip's JTAG ID, then the bus setting, the flash's IDs and their lines, and its
// geometry. False when the job ends here: every refusal has shown its box; when the user's stop
// cut a wait short the job is stopped and the caller logs it. commandSetLoaded says whether the
// flash needs its reset at the end.
bool identifyNor(JobContext& job, NorTarget& target, NorFlash& flash, const NorBusChoice& bus,
                 const NorIdentifySteps& steps, bool& commandSetLoaded);

// The box that tells the user why the target's bus could not be made usable (a BusPreparation
// refusal).
const char* busRefusalText(int refusal);

}  // namespace zorv
