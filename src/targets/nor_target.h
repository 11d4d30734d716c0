#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/jtag_cable.h"
#include "targets/product_wiring.h"

namespace zorv {

struct BoardChip;

// What prepare answers: the bus is ready, or which step refused. The job tells the user.
enum BusPreparation : int {
  BusReady = 0,
  DebugModeRefused = -1,    // VESKAR's debug access did not take
  FlashConfigRefused = -2,  // VESKAR's bank-0 flash configuration did not hold
};

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
  // A read access whose value is needed only later, so that a run of reads waits on the cable
  // once: what it leaves in raw (rawBytes() of them) becomes the value with rawData() after the
  // cable's collectCaptures(). The cable sees exactly what readCycle gives it. Targets that cannot
  // defer read at once.
  virtual size_t rawBytes() const { return sizeof(uint32_t); }
  virtual void readCycleDeferred(JtagCable& cable, char* image, char* capture, uint32_t address, uint8_t* raw,
                                 int width);
  virtual uint32_t rawData(const uint8_t* raw, int width);
  // The low-active chip-select cell serving the address, or -1 when no cell serves it.
  virtual int chipSelectCell(uint32_t address) = 0;
  // Writes one cell and shifts the image; a position below 0 is ignored.
  virtual void setPin(JtagCable& cable, int position, char* image, char level);
  // Makes the bus usable before the first access: BusReady or a BusPreparation refusal.
  virtual int prepare(JtagCable& cable, char* image, char* capture);
  // The log lines naming what prepare set up, empty when it sets nothing.
  virtual std::string preparedLines() const { return {}; }
};

// The NOR bus of a boundary-scan product, played against the named cells of its wiring record; for a
// board described by data, chip is what the cable is loaded with.
class BoundaryNorTarget final : public NorTarget {
 public:
  explicit BoundaryNorTarget(const ProductWiring& wiring, const BoardChip* chip = nullptr)
      : wiring_(wiring), chip_(chip) {}
  void init(JtagCable& cable, char* productName, char** image) override;
  int setData(char* image, uint32_t value, int width, int flags) override;
  void setAddress(char* image, uint32_t address) override;
  int readCycle(JtagCable& cable, char* image, char* capture, uint32_t address, uint32_t* values, int count,
                int width) override;
  int writeCycle(JtagCable& cable, char* image, uint32_t address, uint32_t value, int count, int width) override;
  uint32_t getData(const char* capture, int width) override;
  size_t rawBytes() const override;
  void readCycleDeferred(JtagCable& cable, char* image, char* capture, uint32_t address, uint8_t* raw,
                         int width) override;
  uint32_t rawData(const uint8_t* raw, int width) override;
  int chipSelectCell(uint32_t address) override;

 private:
  // The cells from the lowest data line to the highest: the one range a read captures.
  int firstDataCell() const;
  // Drives the read's address with the output enable low; the caller captures, then ends it.
  void beginRead(JtagCable& cable, char* image, uint32_t address);
  void endRead(JtagCable& cable, char* image);

  const ProductWiring& wiring_;
  const BoardChip* chip_;
};

// The product's class, or null for an index outside 0..3.
std::unique_ptr<NorTarget> makeNorTarget(int product);
// The NOR bus of a board described by data; null when the board has none.
std::unique_ptr<NorTarget> makeNorTarget(const BoardChip& chip);

}  // namespace zorv
