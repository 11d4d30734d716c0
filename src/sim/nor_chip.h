#pragma once

#include <array>
#include <functional>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace zorv::sim {

// What distinguishes one NOR flash part from another, as its data sheet would list it.
struct NorPart {
  const char* name;
  uint8_t makerCode;
  uint8_t makerCodeHigh;   // what the maker address 0x100 reads on parts with a continuation code
  uint16_t deviceCode;     // as read in 16-bit mode (byte-wide parts: the byte)
  bool wordCapable;        // has a 16-bit mode
  bool byteCapable;        // can run on an 8-bit bus
  bool writeBuffer;        // 32-byte write buffer (0x25 / 0x29)
  bool sstCommands;        // 0x5555/0x2AAA unlock, 0x30 4 KB sector and 0x50 64 KB block erase (the
                           // first SST39VF6401, device code 0x236B; its "B" successor swapped the two)
  uint32_t sizeBytes;
  // Erase regions in address order: blocks and block size in bytes (also the CFI regions).
  std::vector<std::pair<uint32_t, uint32_t>> regions;
  // The longest one program takes in byte mode and in word mode, in us, from the data sheet's
  // program-time table; 0 where the part's CFI query states it instead.
  uint32_t byteProgramMaxUs = 0;
  uint32_t wordProgramMaxUs = 0;
};

// The nine parts the tool supports, looked up by name (any case); null for an unknown name.
const NorPart* findNorPart(const std::string& name);
const std::vector<NorPart>& norParts();

// How long the embedded algorithms run, in rising TCK edges.
struct NorTiming {
  uint64_t programTicks = 1000;
  uint64_t bufferTicks = 2000;
  uint64_t eraseTicks = 20000;
};

// One NOR flash device with its command state machine. Addresses are what the device sees on its
// own address pins: word addresses in 16-bit mode, byte addresses in 8-bit mode (A-1 included).
// Program only clears bits; the array is stored sparsely, unwritten flash reads 0xFF.
class NorChip {
 public:
  NorChip(const NorPart& part, bool wordMode, NorTiming timing = {});

  void write(uint32_t address, uint32_t data, uint64_t tck);
  uint32_t read(uint32_t address, uint64_t tck);

  const NorPart& part() const { return part_; }
  bool wordMode() const { return wordMode_; }
  uint32_t sizeBytes() const { return part_.sizeBytes; }
  // The array, bypassing the state machine.
  uint8_t byteAt(uint32_t offset) const;
  void setByte(uint32_t offset, uint8_t value);
  // Every erase so far: byte offset and length.
  const std::vector<std::pair<uint32_t, uint32_t>>& erasures() const { return erasures_; }
  bool busy(uint64_t tck) const { return tck < busyUntil_; }
  // Program operations started so far: single-unit programs and confirmed write buffers.
  uint64_t programOperations() const { return programOperations_; }

  // Faults: an erase of the sector holding this byte never ends; this byte never takes a program:
  // a program holding it (a unit or a write buffer) runs past its time limit and, as the parts'
  // data sheets say, shows DQ5 high until a reset; a write buffer holding this byte aborts while
  // it is loaded, as a load with a glitched word does, and waits for the write-to-buffer-abort
  // reset.
  void setEraseStuck(uint32_t byteOffset) { eraseStuck_ = byteOffset; }
  void setProgramFail(uint32_t byteOffset) { programFail_ = byteOffset; }
  void setBufferAbort(uint32_t byteOffset) { bufferAbort_ = byteOffset; }
  // Whether the part reads its array (no program, erase, query or failure state in the way).
  bool readsArray(uint64_t tck) const { return !busy(tck) && mode_ == Mode::Read && idleMode_ == Mode::Read; }
  // Fault: the device does not answer the CFI query.
  void setCfiAbsent(bool absent) { cfiAbsent_ = absent; }

  // Times the embedded programs for a TCK period in ns: each takes exactly the worst case the data
  // sheet states (its program-time table, or the query's typical time times maximum multiplier),
  // times slowdown.
  void timeForTck(uint32_t periodNs, uint32_t slowdown);

  // Reports protocol errors (a write-buffer abort, say); may be empty.
  void setViolationSink(std::function<void(const std::string&)> sink);

 private:
  enum class Mode { Read, Unlock1, Unlock2, EraseSetup, EraseUnlock1, EraseUnlock2, ProgramSetup, Autoselect, Cfi,
                    BufferCount, BufferLoad, BufferConfirm, BufferAbort, AbortUnlock1, AbortUnlock2 };

  bool isUnlockAddress1(uint32_t address) const;
  bool isUnlockAddress2(uint32_t address) const;
  uint32_t cfiEntryAddress() const;
  uint32_t unitBytes() const { return wordMode_ ? 2u : 1u; }
  uint32_t byteOffset(uint32_t address) const { return (address * unitBytes()) & (part_.sizeBytes - 1); }
  uint32_t arrayValue(uint32_t address) const;
  void program(uint32_t address, uint32_t data);
  std::pair<uint32_t, uint32_t> sectorOf(uint32_t offset) const;
  void erase(uint32_t offset, uint32_t length, uint64_t tck);
  void startBusy(uint64_t tck, uint64_t ticks, bool stuck, uint32_t dq7);
  // A program that will not take: busy past its time, then DQ5, until the reset command.
  void startFailedProgram(uint64_t tck, uint64_t ticks, uint32_t dq7);
  bool holdsFault(uint32_t fault, uint32_t address) const;
  void abortWrite(uint32_t address, uint32_t data, uint64_t tck);
  uint32_t autoselectValue(uint32_t address) const;
  uint32_t cfiValue(uint32_t address) const;
  void violation(const std::string& text);
  void abortBuffer(const std::string& why);

  const NorPart part_;  // a copy: a board may fit a part with another device code
  bool wordMode_;
  NorTiming timing_;
  Mode mode_ = Mode::Read;
  Mode idleMode_ = Mode::Read;  // where an unlock that goes nowhere returns to
  uint64_t busyUntil_ = 0;
  bool failed_ = false;        // a program ran past its limit: status until the reset command
  uint64_t exceededAt_ = 0;    // from here its status shows DQ5
  uint32_t statusDq7_ = 0;
  uint32_t toggle_ = 0;
  uint32_t bufferSector_ = 0;
  uint32_t bufferLeft_ = 0;
  uint32_t bufferPage_ = 0;
  std::vector<std::pair<uint32_t, uint32_t>> buffer_;
  uint32_t eraseStuck_ = 0xFFFFFFFF;
  uint32_t programFail_ = 0xFFFFFFFF;
  uint32_t bufferAbort_ = 0xFFFFFFFF;
  bool cfiAbsent_ = false;
  std::unordered_map<uint32_t, std::unique_ptr<std::array<uint8_t, 4096>>> pages_;
  std::vector<std::pair<uint32_t, uint32_t>> erasures_;
  uint64_t programOperations_ = 0;
  std::vector<uint16_t> cfi_;
  std::function<void(const std::string&)> sink_;
};

}  // namespace zorv::sim
