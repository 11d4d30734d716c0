#pragma once

#include <cstdint>

#include "targets/nor_target.h"

namespace zorv {

// VESKAR's bank-0 flash configuration register and the value written to it before flash access.
inline constexpr uint32_t kVeskarBank0Register = 0x80000410;
inline constexpr uint32_t kVeskarBank0Config = 0xFFF0;

// VESKAR's NOR bus, reached through the debug-access register: one frame per access, built in the
// product's image buffer and shifted character 0 first. Its NOR bus is eight bits wide, and it has
// no chip selects of its own.
class VeskarNorTarget final : public NorTarget {
 public:
  void init(JtagCable& cable, char* productName, char** image) override;
  // The data byte of a byte write, whatever width says.
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
  void setPin(JtagCable& cable, int position, char* image, char level) override;
  // Turns on debug access and sets the bank-0 flash configuration; each step is read back.
  int prepare(JtagCable& cable, char* image, char* capture) override;
  std::string preparedLines() const override;
};

}  // namespace zorv
