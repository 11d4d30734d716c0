#include "sim/board.h"

namespace zorv::sim {

// The NAND device arrives with the NAND work; until then the board has none.
void attachNandFromOptions(Board&, BoardOptions&) {}

}  // namespace zorv::sim
