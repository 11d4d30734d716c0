// The one table that says which class of each family serves which product; the three factories
// read it.
#include <memory>

#include "targets/nand_target.h"
#include "targets/nor_target.h"
#include "targets/toggle_target.h"
#include "targets/veskar_nor_target.h"

namespace zorv {
namespace {

template <class Family, class Target>
std::unique_ptr<Family> make() {
  return std::make_unique<Target>();
}

struct ProductTargets {
  std::unique_ptr<NandTarget> (*nand)();
  std::unique_ptr<NorTarget> (*nor)();
  std::unique_ptr<ToggleTarget> (*toggle)();
};

// In TargetProduct order.
constexpr ProductTargets kProductTargets[kProductCount] = {
    {make<NandTarget, ObrinNandTarget>, make<NorTarget, ObrinNorTarget>, make<ToggleTarget, ObrinToggleTarget>},
    {make<NandTarget, Tqr2400NandTarget>, make<NorTarget, Tqr2400NorTarget>,
     make<ToggleTarget, Tqr2400ToggleTarget>},
    {make<NandTarget, IkaNandTarget>, make<NorTarget, IkaNorTarget>, make<ToggleTarget, IkaToggleTarget>},
    {make<NandTarget, VeskarNandTarget>, make<NorTarget, VeskarNorTarget>, make<ToggleTarget, VeskarToggleTarget>},
};

}  // namespace

std::unique_ptr<NandTarget> makeNandTarget(int product) {
  return isKnownProduct(product) ? kProductTargets[product].nand() : nullptr;
}

std::unique_ptr<NorTarget> makeNorTarget(int product) {
  return isKnownProduct(product) ? kProductTargets[product].nor() : nullptr;
}

std::unique_ptr<ToggleTarget> makeToggleTarget(int product) {
  return isKnownProduct(product) ? kProductTargets[product].toggle() : nullptr;
}

}  // namespace zorv
