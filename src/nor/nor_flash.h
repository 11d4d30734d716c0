#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "link/jtag_cable.h"
#include "nor/flash_types.h"
#include "page/job_page.h"
#include "targets/nor_target.h"

namespace zorv {

// The NOR operations of one job: the command set of the chosen flash type and bus, the codes read
// from the device, its sector table, and erase and programming with status polling. Every bus
// access goes through the product's NorTarget.
class NorFlash {
 public:
  static constexpr int kMaxSectors = 1024;
  static constexpr int kMaxRegions = 8;
  static constexpr int kErasePolls = 40000;
  static constexpr int kProgramPolls = 35000;

  uint32_t base = 0;
  int32_t csCell = 0;
  int32_t deviceIndex = -1;
  int32_t busWidth = 8;
  int32_t interleave = 1;
  uint32_t dataMask = 0xFF;
  uint32_t makerIdAddress = 0;
  uint32_t deviceIdAddress = 0;
  uint32_t unlockData1 = 0;
  uint32_t unlockData2 = 0;
  uint32_t unlockAddress1 = 0;
  uint32_t unlockAddress2 = 0;
  uint32_t eraseSetupCommand = 0;
  uint32_t autoselectCommand = 0;
  uint32_t resetCommand = 0;
  uint32_t programCommand = 0;
  uint32_t sectorEraseCommand = 0;
  uint32_t cfiQueryAddress = 0;
  uint32_t cfiQueryCommand = 0;
  uint32_t writeBufferCommand = 0;
  uint32_t bufferConfirmCommand = 0;
  uint32_t expectedDeviceId = 0;
  uint32_t makerId = 0;
  uint32_t deviceId = 0;
  int32_t sectorCount = 0;
  std::array<uint32_t, kMaxSectors + 1> sectorStart{};
  char* bsrImage = nullptr;
  std::array<char, 640> capture{};
  std::array<char, 3> queryId{};
  uint32_t deviceSize = 0;
  uint8_t regionCount = 0;
  std::array<uint32_t, kMaxRegions> regions{};

  void bindTarget(JtagCable& cable, NorTarget& target, char* productName);
  int chooseChipSelect(uint32_t address, NorTarget& target);

  // 0, or -1 when the type and bus setting are not supported (nothing is changed then).
  int applySetting(int width, int interleaveValue);
  // VESKAR's fixed setting; the arguments are not read.
  int applyFixedSetting(int width, int interleaveValue);

  // 0, or the target's BusPreparation refusal when its bus could not be made usable.
  int readIds(JtagCable& cable, NorTarget& target);
  int checkId(int index);
  // VESKAR has no Flash Type list: the device code read names the type, AutoDetect if none.
  void recogniseDeviceByCode();
  int loadGeometry(JtagCable& cable, NorTarget& target);
  // The sector table from the device's CFI answer, whatever its type's own source: for a device
  // the table does not know. 0, or -1 when it does not answer.
  int loadCfiGeometry(JtagCable& cable, NorTarget& target);

  void selectChip(JtagCable& cable, NorTarget& target);
  void deselectChip(JtagCable& cable, NorTarget& target);
  void resetDevice(JtagCable& cable, NorTarget& target);
  int isToggling(JtagCable& cable, NorTarget& target, uint32_t address);
  int eraseSector(JtagCable& cable, NorTarget& target, int k, uint32_t& failAddress);
  // Sectors marked in keep (by index) are left as they are, without a dot.
  int eraseRange(JobPage& page, JtagCable& cable, NorTarget& target, uint32_t blockNumber, uint32_t length,
                 uint32_t& failAddress, const std::vector<bool>* keep = nullptr);
  int programUnit(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value, uint32_t& lastRead);
  int programBuffer(JtagCable& cable, NorTarget& target, uint32_t address, const uint16_t* data, uint32_t byteCount);

  // Where writing for a block number starts: the sector's start moved by base's offset within the
  // device. Only meaningful once the sector table is built and blockNumber < sectorCount.
  uint32_t startAddress(uint32_t blockNumber) const;
  // The device's code as one device shows it, as the device-code table is keyed.
  uint32_t tableDeviceCode() const;
  // Builds the sector table from regions; -1 (table unchanged) above kMaxSectors sectors.
  int buildSectorTable();

 private:
  void load(const NorBusSetting& setting);
  void write(JtagCable& cable, NorTarget& target, uint32_t offset, uint32_t value);
  uint32_t read(JtagCable& cable, NorTarget& target, uint32_t address);
  void unlock(JtagCable& cable, NorTarget& target);
  int loadFromDeviceCode();
  int loadFromCfi(JtagCable& cable, NorTarget& target);
};

}  // namespace zorv
