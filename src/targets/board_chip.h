#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/jtag_cable.h"
#include "targets/catalogue.h"
#include "targets/product_wiring.h"

namespace zorv {

// A target chip described at run time, by a board file and the chip's BSDL file, instead of a
// product compiled in: the descriptor the cable is loaded with, the wiring the three families play
// their bus cycles against, and the image all of one board's jobs edit. The wiring's spans point
// into this record, so it is neither copied nor moved once built.
struct BoardChip {
  BoardChip() = default;
  BoardChip(const BoardChip&) = delete;
  BoardChip& operator=(const BoardChip&) = delete;

  std::string name;  // for messages; a job's header shows its first 7 characters
  int instructionLength = 0;
  std::string idInstruction;      // in shifting order, first bit shifted first, as the catalogue
  std::string extestInstruction;  // holds them
  std::string sampleInstruction;  // SAMPLE/PRELOAD; empty where the chip names none
  std::string idCode;             // most significant bit first
  uint32_t idMask = 0xFFFFFFFFu;
  int bsrLength = 0;
  std::string resetTemplate;      // bsrLength characters, cell 0 first, the held pins already at their levels
  bool idCodeShared = false;
  NorAbilities nor{false, false, false};
  bool hasNand = false;
  bool hasNor = false;
  std::optional<TargetProduct> product;  // the built-in product the board is built around, if any
  // Whether toggling can turn every data line to drive with one level (a board whose buses enable
  // at opposite levels cannot).
  bool toggleable = true;

  // Cells held at one level before and during EXTEST (written into resetTemplate).
  std::vector<std::pair<int, char>> heldCells;
  // What the chip's BSDL file warns of, shown before any pin is driven.
  std::vector<std::string> designWarnings;

  // Storage behind the wiring's spans.
  std::vector<int> nandLines, nandDirections;
  std::vector<int> norData, norEnables, norAddress;
  std::vector<CellRange> toggleEnables, toggled, toggleChipSelects, toggleHeldHigh;
  NorBus norBus{};
  ProductWiring wiring{};

  // Points wiring at the storage above; call once the storage is filled.
  void linkWiring();
  // The image every job of this board edits in place, set to the reset template at the first call.
  char* image() const;

 private:
  mutable std::vector<char> image_;
};

// The NOR abilities of the board's chip where a board is given, else of the product.
const NorAbilities& norAbilitiesOf(int product, const BoardChip* board);

// Loads the chip into the cable as loadChip does for a product, and returns its image. A chip that
// names SAMPLE/PRELOAD has its image preloaded before the first EXTEST, so that the held cells are
// on the pins from the moment EXTEST takes them.
char* loadBoardChip(JtagCable& cable, const BoardChip& chip, char* productName);

}  // namespace zorv
