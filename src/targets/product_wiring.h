#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "targets/target_product.h"

// Where a product's signals sit in its boundary-scan image, named once per product. The target
// classes of the three families play their bus cycles against these names and hold no cell numbers
// of their own. Cell numbers index the product's image; a captured image is indexed the same way.
namespace zorv {

// Cells first, first + step, ..., last; step is negative for a run that counts down.
struct CellRange {
  int first;
  int last;
  int step = 1;
};

inline constexpr int cellCount(const CellRange& range) { return (range.last - range.first) / range.step + 1; }

// Where a product's NAND control signals sit (cell numbers).
struct NandPins {
  int32_t pinCe = 0;   // nCE, low active
  int32_t pinWe = 0;   // nWE, low active
  int32_t pinRe = 0;   // nRE, low active
  int32_t pinRb = 0;   // R/B, '1' = ready; read from captured images only
  int32_t pinCle = 0;  // CLE, high active
  int32_t pinAle = 0;  // ALE, high active
};

// The eight NAND data lines. On the products they run in steps of two cells, each followed directly
// by its direction cell; a board described by data names each line's cell and direction cell.
struct NandDataBus {
  int io0;           // data cell of I/O0
  int step;          // +2 or -2 from I/On to I/On+1
  char outputLevel;  // direction character that makes the chip drive the line
  char inputLevel;
  std::span<const int> lines = {};       // data cell of I/O0..I/O7; empty: io0 and step place them
  std::span<const int> directions = {};  // direction cell of I/O0..I/O7, with lines

  int dataCell(int n) const { return lines.empty() ? io0 + n * step : lines[static_cast<size_t>(n)]; }
  int directionCell(int n) const {
    return directions.empty() ? io0 + n * step + 1 : directions[static_cast<size_t>(n)];
  }
};

struct NandWiring {
  NandPins pins;
  NandDataBus bus;
};

// A NOR bus played through the boundary-scan image.
struct NorBus {
  std::span<const int> data;         // D0, D1, ... up to the widest bus the product carries
  std::span<const int> dataEnables;  // the output-enable cell of each data line (one cell may serve several)
  int enableGroup;                   // lines whose enables are driven together: a write drives whole groups
  char driveLevel;                   // enable character that makes the chip drive the data lines
  char releaseLevel;
  bool samplesWholeBus;              // a read returns every data line; the caller masks to its width
  std::span<const int> address;      // A0, A1, ...; address bits above the last line are not placed
  int outputEnable;                  // nOE, low active
  int writeEnable;                   // nWE, low active
  std::array<int, 8> chipSelects;    // low active, by 512 MB region of the address; -1 where none serves
};

// Which cells a product's pin toggling touches.
struct ToggleCells {
  char enableLevel;                          // what prepareOutputs writes: OBRIN and VESKAR '1', the others '0'
  std::span<const CellRange> outputEnables;  // written once, before the first high phase
  std::span<const CellRange> toggled;        // '1' in the high phase, '0' in the low phase
  std::span<const CellRange> chipSelects;    // in the low phase '0' only when chip selects toggle too
  std::span<const CellRange> heldHigh;       // toggled cells that the low phase keeps at '1'
};

// Everything that tells one product's boards apart, one record per product.
struct ProductWiring {
  TargetProduct product;
  NandWiring nand;
  const NorBus* norBus;  // null: VESKAR reaches its NOR bus through debug-access frames instead
  ToggleCells toggle;
};

extern const ProductWiring kObrinWiring;
extern const ProductWiring kTqr2400Wiring;
extern const ProductWiring kIkaWiring;
extern const ProductWiring kVeskarWiring;

// The wiring record of a product.
const ProductWiring& productWiring(TargetProduct product);

}  // namespace zorv
