#pragma once

#include <cstdint>
#include <vector>

#include "link/jtag_cable.h"
#include "targets/nand_target.h"

namespace zorv {

enum NandAddressKind : int { PageAddress = 1, BlockAddress = 2, SpareAddress = 3 };

// The address bytes, in the order sent, of address kind for a device code; returns how many
// (0 for a device code the size table does not know).
int nandAddressBytes(uint8_t deviceCode, NandAddressKind kind, uint32_t address, uint8_t bytes[5]);

// What a job that would erase shows when WP# holds the device write-protected.
inline constexpr const char* kNandWriteProtectedText = "The NAND is write-protected: its WP# line is held low";

// Bytes of only 0xFF or only 0x00: what a TDO stuck high or low reads, so the device's ID must be
// read again before such a read is believed.
bool readsLikeADeadCable(const uint8_t* bytes, uint32_t count);

// Ready samples before a busy device counts as hung.
inline constexpr int kNandReadySamples = 4096;

// An 8-bit NAND device on a product's pins, played one full image scan per bus step. Every cycle
// ends with the signals it pulsed back at idle (CLE, ALE '0', nWE, nRE '1'); nCE changes only in
// setChipEnable. The address of every operation is a byte address in the main area; nothing here
// checks it against totalSize (the address bytes are masked), so the caller keeps it in range.
class NandFlash {
 public:
  char sizeLabel[20] = {};
  char* bsrImage = nullptr;  // the product's shared image, not a copy
  char captured[641] = {};
  uint8_t id[4] = {};  // maker, device, third, fourth
  int32_t largePage = 0;
  int32_t pageSize = 0;
  int32_t blockSize = 0;
  // Bytes of the spare area that follows each page's main area.
  int32_t spareSize = 0;
  uint32_t totalSize = 0;
  NandPins pins;
  // The captured cells holding I/O0..I/O7 lie in dataFirst..dataFirst+dataSpan-1.
  int32_t dataFirst = 0;
  int32_t dataSpan = 0;

  void bind(JtagCable& cable, NandTarget& target, char* productName);

  // '0' selects the device, '1' releases it; one scan.
  void setChipEnable(JtagCable& cable, char level);
  // 0 once R/B reads ready, -1 after kNandReadySamples busy samples.
  int waitReady(JtagCable& cable);

  void writeCommand(JtagCable& cable, const NandTarget& target, uint8_t command);
  void writeAddress(JtagCable& cable, const NandTarget& target, NandAddressKind kind, uint32_t address);
  void writeData(JtagCable& cable, const NandTarget& target, const uint8_t* bytes, uint32_t count);
  void readData(JtagCable& cable, const NandTarget& target, uint8_t* buffer, uint32_t count);

  // 0, or negative when the device stayed busy: -1 when a reset then brought it back, -2 when it
  // stays busy even then.
  int readSpare(JtagCable& cable, const NandTarget& target, uint32_t address, uint8_t* buffer, uint32_t count);
  int readPage(JtagCable& cable, const NandTarget& target, uint32_t address, uint8_t* buffer, uint32_t count);
  // 0 good, -1 bad (a marker that is not 0xFF, or a marker read that timed out). A marker that
  // reads otherwise when read again is the cable's (noted on it), not the block's.
  int isBadBlock(JtagCable& cable, const NandTarget& target, uint32_t blockAddress);
  // The marker the maker puts on a factory-bad block, read where the parts keep it: the first spare
  // byte on large pages, the sixth on small pages, of the block's first or second page. It must be
  // read before the block is ever erased, since an erase may clear it. 0 unmarked; 1 marked, or its
  // read timed out and a reset brought the device back; -1 the device stays busy even after a reset,
  // or the cable is at fault (noted on it): a marker read again must say marked again, and the
  // device must still give its ID, before the block counts as marked.
  int factoryMarker(JtagCable& cable, const NandTarget& target, uint32_t blockAddress);
  // 0, or -1 on timeout or a program failure the device reports. count may be less than a page,
  // or run on past the main area into the spare area (up to pageSize + spareSize).
  int programPage(JtagCable& cable, const NandTarget& target, uint32_t address, const uint8_t* bytes,
                  uint32_t count);
  // Whether the last programPage failed for a device that stayed busy rather than one that
  // reported the failure (a busy device takes no program until a reset).
  bool programTimedOut = false;
  // Marks the block bad as the Linux MTD layer does: 0x00 at the factory marker's place in the
  // spare area of the block's first and second page, so either way of reading the marker finds
  // it. 0 when both programs went through, -1 otherwise (a block that failed may refuse this too).
  int markBad(JtagCable& cable, const NandTarget& target, uint32_t blockAddress);
  // Before the job's first program or erase, with nothing but reads since readId: whether WP# holds
  // the device write-protected, from its status (kept in status). 0 not protected; 1 protected,
  // the status read twice alike and the device still giving its ID; -1 a status no part gives or
  // the device not itself (a cable fault, noted).
  int writeProtected(JtagCable& cable, const NandTarget& target, uint8_t& status);
  // 0 erased, 1 the device reports an erase failure, -1 timeout or a cable fault.
  int eraseBlock(JtagCable& cable, const NandTarget& target, uint32_t blockAddress);

  // Whether the device still answers as itself: its ID reads as readId read it. When it does not,
  // the cable fault is noted on the cable (the job then ends as on a lost link) and false returned.
  // The operations above ask it before they report a block bad or failed, and before they take a
  // status that no part gives, so that a dead cable never costs a block.
  bool answersAsItself(JtagCable& cable, const NandTarget& target);

  // Selects the device, reads the four identification bytes, classifies the geometry, resets the
  // device and releases it.
  void readId(JtagCable& cable, const NandTarget& target);
  // 0 when the device code is one of the six supported ones (label and size set), else -1 with
  // nothing changed. A large-page part whose fourth ID byte gives a page size other than 2048 is
  // refused the same way: the address layout has an 11-bit column.
  int lookupSize();
  void getId(uint8_t& maker, uint8_t& device, char* label) const;

 private:
  void scan(JtagCable& cable) { cable.shiftDr(bsrImage, cable.bsrLength); }
  // ALE high, one nWE pulse per byte, ALE low.
  void addressCycles(JtagCable& cable, const NandTarget& target, const uint8_t* bytes, int count);
  void captureScan(JtagCable& cable) { cable.shiftDrCapture(bsrImage, captured, cable.bsrLength); }
  // The marker byte of the page at pageAddress (readArea's result).
  int readMarker(JtagCable& cable, const NandTarget& target, uint32_t pageAddress, uint8_t& marker);
  // A marker read as not 0xFF, read once more: true when it says marked again, else the cable's
  // fault is noted.
  bool markerReadsAlike(JtagCable& cable, const NandTarget& target, uint32_t pageAddress, uint8_t marker);
  // Finds the cells the data bus is read from, so that reads keep only those.
  void locateDataCells(const NandTarget& target);
  uint8_t readStatus(JtagCable& cable, const NandTarget& target);
  // After a status that says the operation failed or that no part gives: reads it again and the
  // device's ID, and notes a cable fault unless the second read says the same, it is a status a
  // part gives, it says the device is not write-protected (unless protectIsAFault is false) and the
  // device still gives its ID.
  void checkFailure(JtagCable& cable, const NandTarget& target, uint8_t status, bool protectIsAFault = true);
  // Raw captures of a read in progress, dataSpan bytes per byte read; sized once per job.
  std::vector<uint8_t> readCaptures_;
  int readArea(JtagCable& cable, const NandTarget& target, uint8_t command, NandAddressKind kind,
               uint32_t address, uint8_t* buffer, uint32_t count);
  // Before the job's first chip-enable: nWE, nRE, nCE high and CLE, ALE low, in one scan, when the
  // image the last job left holds anything else.
  void idleControlPins(JtagCable& cable);
};

}  // namespace zorv
