#pragma once

#include "chain/chain_description.h"
#include "link/jtag_cable.h"
#include "nand/nand_flash.h"
#include "page/job_page.h"
#include "targets/nand_target.h"

namespace zorv {

// Where the start of a NAND job stopped.
enum class NandStart {
  Identified,    // the chip's ID and size are known; its ID lines are logged
  NoPort,        // no parallel port; its box is shown
  NoIdCode,      // the chip's JTAG ID did not come back
  NotSupported,  // the link failed while reading the NAND ID, or the NAND is unknown
};

// The start every NAND job shares: port test, nTRST, TAP reset, bind, the chain and the chip's JTAG
// ID (and the boundary length where the code is shared; a cause is logged when they fail), the NAND
// ID and its size. The caller reports NoIdCode and NotSupported, as its job ends differently.
NandStart identifyNand(JobPage& page, JtagCable& cable, const ChainDescription& chain, NandTarget& target,
                       NandFlash& flash);

}  // namespace zorv
