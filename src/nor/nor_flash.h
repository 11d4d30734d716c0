#pragma once

#include <array>
#include <string>
#include <utility>
#include <cstdint>
#include <vector>

#include "link/jtag_cable.h"
#include "nor/flash_types.h"
#include "nor/program_times.h"
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
  uint32_t interfaceCode = 0;  // the query's device interface code
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
  // the table does not know. 0, or -1 when it does not answer (or its type has no query).
  int loadCfiGeometry(JtagCable& cable, NorTarget& target);
  // Whether the query's device interface code says the part runs on the 16-bit bus the query
  // types use, so that its size is the size the bus reads.
  bool cfiConfirmsBusWidth() const;

  void selectChip(JtagCable& cable, NorTarget& target);
  void deselectChip(JtagCable& cable, NorTarget& target);
  void resetDevice(JtagCable& cable, NorTarget& target);
  int isToggling(JtagCable& cable, NorTarget& target, uint32_t address);
  int eraseSector(JtagCable& cable, NorTarget& target, int k, uint32_t& failAddress);
  // Sectors marked in keep (by index) are left as they are, without a dot.
  int eraseRange(JobPage& page, JtagCable& cable, NorTarget& target, uint32_t blockNumber, uint32_t length,
                 uint32_t& failAddress, const std::vector<bool>* keep = nullptr);
  // On a failure the part has been reset (resetFailedProgram) and lastRead is what the address
  // then holds.
  int programUnit(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value, uint32_t& lastRead);
  // On a failure the part has been reset (resetFailedProgram).
  int programBuffer(JtagCable& cable, NorTarget& target, uint32_t address, const uint16_t* data, uint32_t byteCount);
  // Back to read mode after a failed program, as the part's data sheet says: a part that failed
  // shows status until a reset, and a part with write buffers may be waiting for the
  // write-to-buffer-abort reset (the unlock cycles, then the reset command), which a plain reset
  // does not end. Needs the chip selected.
  void resetFailedProgram(JtagCable& cable, NorTarget& target);

  // Reads the bus at each of count addresses into values (masked to the data lines), as one run
  // of deferred reads that waits on the cable once.
  void readBatch(JtagCable& cable, NorTarget& target, const uint32_t* addresses, uint32_t count, uint32_t* values);
  // count consecutive bus units from address into bytes (16-bit units little-endian), as one run.
  void readUnits(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t count, uint8_t* bytes);
  // How many units one run of reads takes: a cable that answers late waits once per run; on the
  // others a run of one keeps every comparison stopping at its first difference.
  uint32_t unitsPerRun(const JtagCable& cable) const;

  // Timed programming, where the link knows its TCK period and the part its worst-case program
  // times: each program is followed by that long in Run-Test/Idle instead of status polls, and
  // the programs are read back once per sector. Chooses the mode and returns its log line.
  std::string chooseProgramWait(JtagCable& cable, NorTarget& target);
  bool timedUnits() const { return unitWaitClocks_ != 0; }
  bool timedBuffers() const { return bufferWaitClocks_ != 0; }
  // Programs and waits out the worst case; the result is known at the next checkPrograms.
  void startUnit(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value);
  void startBuffer(JtagCable& cable, NorTarget& target, uint32_t address, const uint16_t* data, uint32_t byteCount);
  // Whether the programs started so far are due to be read back before writing at next: it opens
  // a sector, or a run of reads is full.
  bool checkDue(uint32_t next) const;
  // Reads back every program started since the last check as one run: 0 when each unit holds its
  // value. Otherwise the part is reset as after a failed program (one that failed shows status at
  // every address, the units before it included) and read back again: -1 with the first unit that
  // then differs, or 0 when none does (a part late to finish, whose programs all took).
  int checkPrograms(JtagCable& cable, NorTarget& target, uint32_t& failAddress, uint32_t& wanted, uint32_t& got);

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
  // count query words from word into values (low byte), as one run of reads.
  void queryWords(JtagCable& cable, NorTarget& target, uint32_t word, uint32_t count, uint32_t* values);
  // The worst-case program times the part states (its query, or the flash-type table).
  ProgramTimes readProgramTimes(JtagCable& cable, NorTarget& target);
  void enterQuery(JtagCable& cable, NorTarget& target);
  void startProgramCommand(JtagCable& cable, NorTarget& target, uint32_t address, uint32_t value);
  void loadBuffer(JtagCable& cable, NorTarget& target, uint32_t address, const uint16_t* data, uint32_t words);

  uint32_t unitWaitClocks_ = 0;
  uint32_t bufferWaitClocks_ = 0;
  std::vector<std::pair<uint32_t, uint32_t>> started_;  // address and value of unchecked programs

  std::vector<uint8_t> raw_;
  std::vector<uint32_t> runAddresses_;
  std::vector<uint32_t> runValues_;
};

// Bytes one run of reads covers where the cable answers late.
inline constexpr uint32_t kReadRunBytes = 4096;
// Timed programs read back together at most: a 64 KB sector of 16-bit units.
inline constexpr size_t kMaxUncheckedPrograms = 32768;

}  // namespace zorv
