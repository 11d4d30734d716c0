// Which class of each family serves which product: every product's NAND and toggling play its
// wiring record, and its NOR bus too unless the record has none (VESKAR's debug-access path).
#include <memory>

#include "targets/board_chip.h"
#include "targets/nand_target.h"
#include "targets/nor_target.h"
#include "targets/toggle_target.h"
#include "targets/veskar_nor_target.h"

namespace zorv {
std::unique_ptr<NandTarget> makeNandTarget(int product) {
  return isKnownProduct(product) ? std::make_unique<WiredNandTarget>(productWiring(static_cast<TargetProduct>(product))) : nullptr;
}

std::unique_ptr<NorTarget> makeNorTarget(int product) {
  if (!isKnownProduct(product)) return nullptr;
  if (productWiring(static_cast<TargetProduct>(product)).norBus == nullptr) return std::make_unique<VeskarNorTarget>();
  return std::make_unique<BoundaryNorTarget>(productWiring(static_cast<TargetProduct>(product)));
}

std::unique_ptr<NorTarget> makeNorTarget(const BoardChip& chip) {
  // VESKAR's debug-access path stays code: a board built around it names the product, and its NOR
  // bus is the product's.
  if (chip.nor.throughDebugPath) return std::make_unique<VeskarNorTarget>();
  return chip.hasNor ? std::make_unique<BoundaryNorTarget>(chip.wiring, &chip) : nullptr;
}

std::unique_ptr<ToggleTarget> makeToggleTarget(int product) {
  return isKnownProduct(product) ? std::make_unique<WiredToggleTarget>(productWiring(static_cast<TargetProduct>(product))) : nullptr;
}

}  // namespace zorv
