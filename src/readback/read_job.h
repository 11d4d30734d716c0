#pragma once

#include <memory>

#include <cstdint>
#include <string>

#include "cable/port_io.h"
#include "chain/chain_description.h"
#include "targets/board_chip.h"
#include "link/jtag_link.h"
#include "link/parallel_port_link.h"
#include "page/image_file.h"
#include "page/job_page.h"

namespace zorv {

// The jobs that read a board's flash back instead of writing it: a copy of a range into a file, a
// comparison with an image, an erase of a range, and a scan for bad blocks. They use the cable,
// the targets and the flash operations of the downloads, and the same page conventions.

enum class ReadFlash : int { Nand = 0, Nor = 1 };

enum class ReadMode : int {
  Read = 0,     // the range into outputPath (written to a partial file beside it, renamed when complete)
  Verify = 1,   // the flash against the image at imagePath, placed as the download places it
  Erase = 2,    // count blocks (NAND) or sectors (NOR) from block
  BadScan = 3,  // NAND only: every block's factory marker, nothing erased
};

struct ReadSettings {
  ReadFlash flash = ReadFlash::Nand;
  ReadMode mode = ReadMode::Read;
  int product = 0;  // TargetProduct
  std::shared_ptr<const BoardChip> board;  // a board file's chip; null: the product as compiled
  ChainDescription chain;  // the devices on the cable around the product; empty: the product alone

  // NOR bus, as the NOR page holds it (VESKAR ignores all four and detects its flash).
  int flashType = 0;     // index in the flash-type list
  int width = 8;         // 8 or 16
  int interleave = 1;    // 1, or 2 for two byte-wide devices side by side
  uint32_t base = 0;     // the flash's base address on the bus

  uint32_t block = 0;    // first NAND block or NOR sector
  uint64_t size = 0;     // bytes to read (main area), unless toEnd
  bool toEnd = false;    // read from block to the end of the device
  uint32_t count = 0;    // Erase: blocks or sectors

  // NAND read: every block as it is, bad ones included. NOR read and verify: a part that is not
  // identified (its code is not the type's and no query confirms its size) is read on the bus as
  // it answers, instead of being refused.
  bool raw = false;
  bool oob = false;      // NAND read and verify: each page followed by its spare area
  bool padBad = false;   // NAND read: 0xFF in place of a bad block, so offsets stay as on the flash

  std::string outputPath;  // Read
  std::string imagePath;   // Verify
};

// The boxes a read-back job shows when it ends well.
inline constexpr const char* kReadCompleteText = "Read Complete.";
inline constexpr const char* kVerifyCompleteText = "Verify Complete.";
inline constexpr const char* kEraseCompleteText = "Erase Complete.";
inline constexpr const char* kScanCompleteText = "Scan Complete.";
// The refusals of a job that would do nothing: a success box then would tell of work never done.
inline constexpr const char* kNothingToReadText = "Nothing to read: the size is 0";
inline constexpr const char* kNothingToVerifyText = "Nothing to verify: the image file is empty";
inline constexpr const char* kNothingToEraseText = "Nothing to erase: the count is 0";

// The image a verify compares with: null, with its box shown, when there is none, it does not
// open, or it is empty.
ImageFile openImageToVerify(JobPage& page, const std::string& path, uint64_t& size);

// The header line of a read-back job.
const char* readJobHeader(ReadFlash flash, ReadMode mode);

// Thread bodies, as runNandJob and runNorJob: they lock the page, report through it, offer STOP
// while they work, end on one common path (empty log line, nTRST pulse, unlock) and return 0.
int runReadJob(JobPage& page, JtagLink& link, const ReadSettings& settings);
// A parallel-port backend (a board, a recording port) through the parallel-port link.
inline int runReadJob(JobPage& page, PortIo& port, const ReadSettings& settings) {
  ParallelPortLink link(port);
  return runReadJob(page, link, settings);
}
int runNandReadJob(JobPage& page, JtagLink& link, const ReadSettings& settings);
// A parallel-port backend (a board, a recording port) through the parallel-port link.
inline int runNandReadJob(JobPage& page, PortIo& port, const ReadSettings& settings) {
  ParallelPortLink link(port);
  return runNandReadJob(page, link, settings);
}
int runNorReadJob(JobPage& page, JtagLink& link, const ReadSettings& settings);
// A parallel-port backend (a board, a recording port) through the parallel-port link.
inline int runNorReadJob(JobPage& page, PortIo& port, const ReadSettings& settings) {
  ParallelPortLink link(port);
  return runNorReadJob(page, link, settings);
}

}  // namespace zorv
