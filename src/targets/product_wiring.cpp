#include "targets/product_wiring.h"

#include <cstddef>
#include <initializer_list>

namespace zorv {
namespace {

// The cells of the runs in order; the list must come out exactly N long.
template <size_t N>
constexpr std::array<int, N> cellList(std::initializer_list<CellRange> runs) {
  std::array<int, N> cells{};
  size_t next = 0;
  for (const CellRange& run : runs) {
    for (int k = 0; k < cellCount(run); ++k) cells.at(next++) = run.first + k * run.step;
  }
  if (next != N) throw "the runs give fewer cells than the list holds";
  return cells;
}

// One cell serving N lines.
template <size_t N>
constexpr std::array<int, N> sameCell(int cell) {
  std::array<int, N> cells{};
  cells.fill(cell);
  return cells;
}

// --- OBRIN ---

constexpr auto kObrinData = cellList<32>({{295, 265, -2}, {240, 254, 2}, {221, 207, -2}});
constexpr auto kObrinDataEnables = cellList<32>({{296, 266, -2}, {241, 255, 2}, {222, 208, -2}});
constexpr auto kObrinAddress = cellList<24>({{239, 223, -1}, {203, 191, -2}});

constexpr NorBus kObrinNor{
    .data = kObrinData,
    .dataEnables = kObrinDataEnables,
    .enableGroup = 16,  // a byte-wide write still drives all of D0-D15
    .driveLevel = '1',
    .releaseLevel = '0',
    .samplesWholeBus = false,
    .address = kObrinAddress,
    .outputEnable = 176,
    .writeEnable = 175,
    .chipSelects = {186, 184, 182, 180, 178, 177, 261, -1},
};

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

// --- TQR2400 ---

constexpr auto kTqr2400Data = cellList<16>({{142, 142}, {144, 158}});
constexpr auto kTqr2400DataEnables = sameCell<16>(143);
constexpr auto kTqr2400Address = cellList<26>({{78, 78}, {81, 95}, {96, 114, 2}});

constexpr NorBus kTqr2400Nor{
    .data = kTqr2400Data,
    .dataEnables = kTqr2400DataEnables,
    .enableGroup = 1,
    .driveLevel = '0',
    .releaseLevel = '1',
    .samplesWholeBus = false,
    .address = kTqr2400Address,
    .outputEnable = 131,
    .writeEnable = 133,
    .chipSelects = {116, 118, 120, 122, 124, 126, 127, 128},
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

// --- IKA ---

constexpr auto kIkaData = cellList<16>({{63, 93, 2}});
constexpr auto kIkaDataEnables = cellList<16>({{64, 94, 2}});
constexpr auto kIkaAddress = cellList<25>({{0, 0}, {2, 16}, {17, 33, 2}});

constexpr NorBus kIkaNor{
    .data = kIkaData,
    .dataEnables = kIkaDataEnables,
    .enableGroup = 1,
    .driveLevel = '0',
    .releaseLevel = '1',
    .samplesWholeBus = true,
    .address = kIkaAddress,
    .outputEnable = 47,
    .writeEnable = 48,
    .chipSelects = {46, 51, 53, 55, 57, 59, 39, 41},
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

// --- VESKAR ---

constexpr CellRange kVeskarEnables[] = {
    {1, 79, 2},
};
constexpr CellRange kVeskarToggled[] = {
    {0, 78, 2},
};
constexpr CellRange kVeskarChipSelects[] = {
    {0, 6, 2}, {36, 36},
};

}  // namespace

// NAND columns:              nCE  nWE  nRE  R/B  CLE  ALE    I/O0 step out  in
constexpr ProductWiring kObrinWiring{
    Obrin, {{170, 168, 171, 173, 187, 189}, {166, -2, '1', '0'}}, &kObrinNor,
    {'1', kObrinEnables, kObrinToggled, kObrinChipSelects, {}}};
constexpr ProductWiring kTqr2400Wiring{
    Tqr2400, {{199, 207, 205, 209, 201, 203}, {211, 2, '0', '1'}}, &kTqr2400Nor,
    {'0', kTqr2400Enables, kTqr2400Toggled, kTqr2400ChipSelects, kTqr2400HeldHigh}};
constexpr ProductWiring kIkaWiring{
    Ika, {{101, 105, 103, 95, 97, 99}, {63, 2, '0', '1'}}, &kIkaNor,
    {'0', kIkaEnables, kIkaToggled, kIkaChipSelects, {}}};
constexpr ProductWiring kVeskarWiring{
    Veskar, {{36, 42, 34, 32, 38, 40}, {30, -2, '1', '0'}}, nullptr,
    {'1', kVeskarEnables, kVeskarToggled, kVeskarChipSelects, {}}};

const ProductWiring& productWiring(TargetProduct product) {
  static const ProductWiring* const kWirings[kProductCount] = {&kObrinWiring, &kTqr2400Wiring, &kIkaWiring,
                                                               &kVeskarWiring};
  return *kWirings[product];
}

}  // namespace zorv
