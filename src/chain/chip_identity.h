#pragma once

#include <string>

#include "chain/chain_description.h"
#include "link/jtag_cable.h"

namespace zorv {

// The chip a job is about to identify, bound into the cable already (its instructions, code and
// mask, boundary length).
struct ChipToIdentify {
  const char* name;   // the product, for messages
  bool drivesPins;    // the job goes on to EXTEST: a chip that shares its code has its length proven
};

// What identification found.
struct ChipIdentity {
  bool identified = false;
  std::string idLine;  // the chip's JTAG ID line, once its code matched (even when the length then failed)
  // Why the chip was not identified, as one log line ("  Chain: ...", "  JTAG ID: ...",
  // "  Boundary register: ...", or "  Cable: ..." for answers no chain gives); empty when the link
  // failed, whose cause the job logs itself.
  std::string causeLine;
  // For a job that goes on to drive pins: the chip's design warning as a log line, to be shown
  // before EXTEST; empty where there is none.
  std::string warningLine;
};

// Everything a job checks before any pin moves, from a reset TAP: the chain against its
// description (when one is given), the chip's whole IDCODE under its mask, read through the chain,
// and, for a job that drives pins on a chip that shares its code, the boundary register's length.
// Sets the cable's padding for the chain, which every later scan uses.
ChipIdentity identifyChip(JtagCable& cable, const ChainDescription& chain, const ChipToIdentify& chip);

}  // namespace zorv
