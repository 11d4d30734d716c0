#include "targets/toggle_target.h"

#include "targets/catalogue.h"

namespace zorv {
namespace {

// Each entry reads "first-last by step"; {61, 61} is the single cell 61.

constexpr CellRange kObrinEnables[] = {
    {3, 9, 2}, {12, 58, 2}, {61, 61}, {65, 169, 2}, {172, 172}, {174, 174},
    {179, 185, 2}, {188, 222, 2}, {241, 255, 2}, {266, 296, 2},
};
// Cells 12-56 by 2 are output enables and toggled as well, as the board wants.
constexpr CellRange kObrinToggled[] = {
    {1, 1}, {2, 10, 2}, {11, 57}, {59, 59}, {60, 60}, {62, 64}, {66, 170, 2}, {171, 175, 2},
    {176, 178}, {180, 186, 2}, {187, 223, 2}, {224, 240}, {242, 256, 2}, {257, 265}, {267, 295, 2},
};
constexpr CellRange kObrinChipSelects[] = {
    {82, 82}, {150, 150}, {177, 177}, {178, 186, 2}, {261, 261},
};

constexpr CellRange kTqr2400Enables[] = {
    {9, 77, 2}, {80, 80}, {97, 125, 2}, {130, 136, 2}, {143, 143},
    {160, 226, 2}, {238, 244, 2}, {256, 256}, {267, 297, 2},
};
constexpr CellRange kTqr2400Toggled[] = {
    {1, 8}, {10, 78, 2}, {79, 79}, {81, 96}, {98, 126, 2}, {127, 129}, {131, 137, 2}, {138, 142},
    {144, 159}, {161, 227, 2}, {228, 237}, {239, 245, 2}, {246, 255}, {257, 266}, {268, 296, 2},
};
constexpr CellRange kTqr2400ChipSelects[] = {
    {116, 126, 2}, {127, 127}, {128, 128},
};
// Driven high in both phases: the board must not see this line low.
constexpr CellRange kTqr2400HeldHigh[] = {
    {131, 131},
};

constexpr CellRange kIkaEnables[] = {
    {18, 42, 2}, {50, 184, 2},
};
constexpr CellRange kIkaToggled[] = {
    {0, 17}, {19, 43, 2}, {44, 49}, {51, 183, 2},
};
// Cell 46 is the chip select of the first region; it lies in the toggled range 44-49 and must
// stay high like the other chip selects unless they are meant to toggle.
constexpr CellRange kIkaChipSelects[] = {
    {39, 39}, {41, 41}, {46, 46}, {51, 59, 2},
};

constexpr CellRange kVeskarEnables[] = {
    {1, 79, 2},
};
constexpr CellRange kVeskarToggled[] = {
    {0, 78, 2},
};
constexpr CellRange kVeskarChipSelects[] = {
    {0, 6, 2}, {36, 36},
};

constexpr ToggleCells kObrinCells{'1', kObrinEnables, kObrinToggled, kObrinChipSelects, {}};
constexpr ToggleCells kTqr2400Cells{'0', kTqr2400Enables, kTqr2400Toggled, kTqr2400ChipSelects, kTqr2400HeldHigh};
constexpr ToggleCells kIkaCells{'0', kIkaEnables, kIkaToggled, kIkaChipSelects, {}};
constexpr ToggleCells kVeskarCells{'1', kVeskarEnables, kVeskarToggled, kVeskarChipSelects, {}};

void writeCells(char* image, std::span<const CellRange> ranges, char level) {
  for (const CellRange& range : ranges) {
    for (int cell = range.first; cell <= range.last; cell += range.step) image[cell] = level;
  }
}

}  // namespace

void TableToggleTarget::prepareOutputs(JtagCable&, char* image) {
  writeCells(image, cells_.outputEnables, cells_.enableLevel);
}

void TableToggleTarget::driveHigh(JtagCable& cable, char* image) {
  writeCells(image, cells_.toggled, '1');
  cable.shiftDr(image, cable.bsrLength);
}

void TableToggleTarget::driveLow(JtagCable& cable, char* image, int toggleCs) {
  writeCells(image, cells_.toggled, '0');
  writeCells(image, cells_.chipSelects, toggleCs != 0 ? '0' : '1');
  writeCells(image, cells_.heldHigh, '1');
  cable.shiftDr(image, cable.bsrLength);
}

ObrinToggleTarget::ObrinToggleTarget() : TableToggleTarget(kObrinCells) {}
void ObrinToggleTarget::init(JtagCable& cable, char* productName, char*& image) {
  image = loadChip(cable, Obrin, productName, ChipVariant::Boundary);
}

Tqr2400ToggleTarget::Tqr2400ToggleTarget() : TableToggleTarget(kTqr2400Cells) {}
void Tqr2400ToggleTarget::init(JtagCable& cable, char* productName, char*& image) {
  image = loadChip(cable, Tqr2400, productName, ChipVariant::Boundary);
}

IkaToggleTarget::IkaToggleTarget() : TableToggleTarget(kIkaCells) {}
void IkaToggleTarget::init(JtagCable& cable, char* productName, char*& image) {
  image = loadChip(cable, Ika, productName, ChipVariant::Boundary);
}

VeskarToggleTarget::VeskarToggleTarget() : TableToggleTarget(kVeskarCells) {}
void VeskarToggleTarget::init(JtagCable& cable, char* productName, char*& image) {
  image = loadChip(cable, Veskar, productName, ChipVariant::Boundary);
}

std::unique_ptr<ToggleTarget> makeToggleTarget(int product) {
  switch (product) {
    case Obrin: return std::make_unique<ObrinToggleTarget>();
    case Tqr2400: return std::make_unique<Tqr2400ToggleTarget>();
    case Ika: return std::make_unique<IkaToggleTarget>();
    case Veskar: return std::make_unique<VeskarToggleTarget>();
    default: return nullptr;
  }
}

}  // namespace zorv
