#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/board.h"
#include "sim/nand_device.h"
#include "sim/nor_bus.h"

namespace zorv::sim {

// A board as a board file and its chip's BSDL file describe it: the chip's TAP and boundary
// register come from the BSDL file alone, the board file says only which ports the flash parts
// hang on and what else is on the chain. Read here on its own, apart from the program's reader.
struct DescribedBoard {
  std::string name;  // the BSDL entity
  SimChip chip{};
  std::vector<OtherTap> otherTaps;  // nearest TDO first, the chip not among them
  int chipPosition = 0;
  std::optional<NandWiring> nand;
  std::optional<NorWiring> nor;
  // The control cells of the ports the flash parts hang on, and the level that lets each drive: an
  // output left disabled floats, and the part sees nothing the job meant.
  std::vector<std::pair<int, char>> outputControls;
};

// Reads FILE of board=FILE; a board file built around a product gives that product's own board
// (product set, null returned). Throws std::invalid_argument naming the file and what was wrong.
std::shared_ptr<const DescribedBoard> readDescribedBoard(const std::string& path, std::optional<TargetProduct>& product);

SimChip describedChip(const DescribedBoard& board);
const NandWiring* describedNandWiring(const DescribedBoard& board);
bool describedHasNor(const DescribedBoard& board);
const NorWiring& describedNorWiring(const DescribedBoard& board);

// Reports a violation whenever an update leaves one of the board's flash outputs disabled.
void attachOutputControlWatch(Board& board, const DescribedBoard& described);

}  // namespace zorv::sim
