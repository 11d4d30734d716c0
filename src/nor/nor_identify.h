#pragma once

#include <cstdint>
#include <functional>

#include "nor/nor_flash.h"
#include "page/job_frame.h"
#include "targets/nor_target.h"

namespace zorv {

// The NOR bus as a page or the command line chose it; a product whose bus is fixed ignores it.
struct NorBusChoice {
  int product = 0;
  int flashType = 0;   // index in the flash-type list
  int width = 8;       // 8 or 16
  int interleave = 1;  // 1 or 2
  uint64_t base = 0;   // as read; past 32 bits it is refused
};

// The start every NOR job shares: port test, nTRST, TAP reset, the type line, the base and its
// chip select, the chip's JTAG ID, then (after beforeBus, which may end the job by returning
// false) the bus setting, the flash's IDs and their lines, and its geometry. False when the job
// ends here: every refusal has shown its box; when the user's stop cut a wait short the job is
// stopped and the caller logs it. commandSetLoaded says whether the flash needs its reset at the
// end.
bool identifyNor(JobContext& job, NorTarget& target, NorFlash& flash, const NorBusChoice& bus,
                 const std::function<bool()>& beforeBus, bool& commandSetLoaded);

// The box that tells the user why the target's bus could not be made usable (a BusPreparation
// refusal).
const char* busRefusalText(int refusal);

}  // namespace zorv
