#pragma once

#include <cstdint>

namespace zorv::sim {

// A device wired to the chip's boundary-scan cells (a flash on the external bus). Cells are
// '0'/'1' characters indexed like the chip's boundary register; time is counted in rising TCK edges.
class PinDevice {
 public:
  virtual ~PinDevice() = default;
  // The chip drives new levels: an Update-DR while EXTEST is in force.
  virtual void pinsUpdated(const char* cells, int count, uint64_t tck) = 0;
  // Capture-DR while EXTEST is in force: cells hold what the chip drives; the device writes the
  // levels of the lines it drives itself.
  virtual void capturePins(char* cells, int count, uint64_t tck) = 0;
  // The chip takes its pins back (the TAP left EXTEST).
  virtual void pinsReleased(uint64_t /*tck*/) {}
};

// A data register of the chip's own, selected by an instruction (VESKAR's debug access).
class DataRegister {
 public:
  virtual ~DataRegister() = default;
  virtual void capture(uint64_t tck) = 0;
  // The bit on TDO now (the bit nearest TDO).
  virtual bool tdo() const = 0;
  virtual void shift(bool tdi) = 0;
  virtual void update(uint64_t tck) = 0;
};

}  // namespace zorv::sim
