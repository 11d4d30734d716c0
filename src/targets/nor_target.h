#pragma once

#include <cstdint>
#include <memory>

#include "cable/jtag_cable.h"
#include "page/job_page.h"

namespace zorv {

// How one product plays the bus cycles of a NOR flash: on OBRIN, TQR2400 and IKA by editing and
// shifting the boundary-scan image, on VESKAR by debug-access frames built in the same buffer.
// The classes hold no state; the job creates one for its run.
class NorTarget {
 public:
  virtual ~NorTarget() = default;

  virtual void init(JtagCable& cable, char* productName, char** image) = 0;
  // Writes `width` data bits and turns the data bus to drive; 0, or -1 for a width the product's
  // bus cannot carry. flags is not read.
  virtual int setData(char* image, uint32_t value, int width, int flags) = 0;
  virtual void setAddress(char* image, uint32_t address) = 0;
  // One read access; values receives `count` items (only VESKAR reads more than one).
  virtual int readCycle(JtagCable& cable, char* image, char* capture, uint32_t address, uint32_t* values,
                        int count, int width) = 0;
  // One write access; 0, or -1 when setData refused the width.
  virtual int writeCycle(JtagCable& cable, char* image, uint32_t address, uint32_t value, int count,
                         int width) = 0;
  virtual uint32_t getData(const char* capture, int width) = 0;
  // The low-active chip-select cell serving the address, or -1 when no cell serves it.
  virtual int chipSelectCell(uint32_t address) = 0;
  // Writes one cell and shifts the image; a position below 0 is ignored.
  virtual void setPin(JtagCable& cable, int position, char* image, char level);
  // Makes the bus usable before the first access; 0, or -1 after telling the user why.
  virtual int prepare(JtagCable& cable, char* image, char* capture, JobPage& page);
};

// The product's class, or null for an index outside 0..3.
std::unique_ptr<NorTarget> makeNorTarget(int product);

// VESKAR's bank-0 flash configuration register and the value written to it before flash access.
inline constexpr uint32_t kVeskarBank0Register = 0x80000410;
inline constexpr uint32_t kVeskarBank0Config = 0xFFF0;

}  // namespace zorv
