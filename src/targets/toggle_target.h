#pragma once

#include <memory>
#include <span>

#include "cable/jtag_cable.h"
#include "targets/target_product.h"

namespace zorv {

// Cells first, first + step, ..., last of a product's image.
struct CellRange {
  int first;
  int last;
  int step = 1;
};

// Which cells a product's pin toggling touches.
struct ToggleCells {
  char enableLevel;                         // what prepareOutputs writes: OBRIN and VESKAR '1', the others '0'
  std::span<const CellRange> outputEnables;  // written once, before the first high phase
  std::span<const CellRange> toggled;        // '1' in the high phase, '0' in the low phase
  std::span<const CellRange> chipSelects;    // in the low phase '0' only when chip selects toggle too
  std::span<const CellRange> heldHigh;       // toggled cells that the low phase keeps at '1'
};

// The pin toggling of one product: a stateless strategy that a job creates for its run.
class ToggleTarget {
 public:
  virtual ~ToggleTarget() = default;

  // Loads the chip descriptor into the cable, writes the product name (up to 7 characters and a
  // terminator) and hands out the product's image.
  virtual void init(JtagCable& cable, char* productName, char*& image) = 0;
  // Writes the output-enable cells; shifts nothing.
  virtual void prepareOutputs(JtagCable& cable, char* image) = 0;
  // Every toggled pin high, then one scan of the image.
  virtual void driveHigh(JtagCable& cable, char* image) = 0;
  // Toggled pins low (chip selects only with toggleCs set), then one scan of the image.
  virtual void driveLow(JtagCable& cable, char* image, int toggleCs) = 0;
};

// The shared body of the four products: only the cell table differs.
class TableToggleTarget : public ToggleTarget {
 public:
  explicit TableToggleTarget(const ToggleCells& cells) : cells_(cells) {}
  void prepareOutputs(JtagCable& cable, char* image) override;
  void driveHigh(JtagCable& cable, char* image) override;
  void driveLow(JtagCable& cable, char* image, int toggleCs) override;

 private:
  const ToggleCells& cells_;
};

class ObrinToggleTarget : public TableToggleTarget {
 public:
  ObrinToggleTarget();
  void init(JtagCable& cable, char* productName, char*& image) override;
};

class Tqr2400ToggleTarget : public TableToggleTarget {
 public:
  Tqr2400ToggleTarget();
  void init(JtagCable& cable, char* productName, char*& image) override;
};

class IkaToggleTarget : public TableToggleTarget {
 public:
  IkaToggleTarget();
  void init(JtagCable& cable, char* productName, char*& image) override;
};

class VeskarToggleTarget : public TableToggleTarget {
 public:
  VeskarToggleTarget();
  // Unlike VESKAR's flash access, toggling goes through the boundary register: length 80, and the
  // debug instruction is left as it was.
  void init(JtagCable& cable, char* productName, char*& image) override;
};

// The toggle target of a product index; null for an index outside 0 to 3.
std::unique_ptr<ToggleTarget> makeToggleTarget(int product);

}  // namespace zorv
