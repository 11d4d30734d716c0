#include "sim/board.h"

namespace zorv::sim {

// The NOR devices arrive with the NOR work; until then the board has none.
void attachNorFromOptions(Board&, BoardOptions&) {}

}  // namespace zorv::sim
