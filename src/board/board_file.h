#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "chain/chain_description.h"
#include "targets/board_chip.h"
#include "targets/target_product.h"

namespace zorv {

// What a board file says: the chain, the target chip (a built-in product, or a BSDL file), where the
// flash signals sit, the pins held during EXTEST and the flash expected.
struct BoardFile {
  std::string path;
  ChainDescription chain;                 // empty: the target alone on the cable
  std::optional<TargetProduct> product;   // the built-in product the board is built around
  std::string bsdlPath;                   // the target's BSDL file, as found from the board file
  std::shared_ptr<const BoardChip> chip;  // what every job of the board plays
  std::string norType;                    // the NOR flash expected; empty: none named
  int norWidth = 0;                       // its bus width, 0 where none is named
};

// A board file that cannot be taken: the message names the file, the line and what was wrong.
class BoardFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads a board file; BSDL files it names are found relative to its folder. Throws BoardFileError.
BoardFile readBoardFile(const std::string& path);
// The same from text; path is used for messages and to find the files it names.
BoardFile parseBoardFile(std::string_view text, const std::string& path);

}  // namespace zorv
