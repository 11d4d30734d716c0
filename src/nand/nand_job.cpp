#include "nand/nand_job.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "link/jtag_cable.h"
#include "nand/bad_block_list.h"
#include "nand/nand_flash.h"
#include "nand/nand_identify.h"
#include "page/image_file.h"
#include "page/flash_report.h"
#include "page/job_frame.h"
#include "page/path_text.h"
#include "targets/nand_target.h"
#include "text/format.h"

namespace zorv {

NandBadBlockList& nandBadBlocks() {
  static NandBadBlockList list;
  return list;
}

namespace {

// One run of the NAND download. The steps that end the job return early; the caller then takes
// the common end path.
class NandDownload : JobBody {
 public:
  NandDownload(JobContext& context, NandFlash& flash, const NandSettings& settings)
      : JobBody(context), flash_(flash), settings_(settings) {}

  void run();
  // With the blank-page option, after the job's other lines: how many pages were left as erased.
  void logSkippedPages();
  // After the job's other lines: the blocks that failed and were marked bad (or refused the mark).
  void logMarks() {
    for (const auto& [number, marked] : marks_) {
      log(marked ? format("  Block %u failed and is marked bad\r\n", number)
                 : format("  Block %u failed and could not be marked bad\r\n", number));
    }
    marks_.clear();
  }

 private:
  bool identify();
  bool openAndSize();
  // An image with the spare areas holds no block that carries a bad-block marker (a read with
  // --raw keeps the bad blocks): written, the marker would make a good block bad for good. False,
  // with the refusal shown, when one does; records is the image's count of page+spare records.
  bool imageCarriesNoMarker(uint64_t records);
  void erasePass();
  void programPass();
  bool nextUsableBlock();
  void logBadBlocks();
  bool verifyPass();
  void complete();

  // The next count bytes of the image into the page buffer; a short read is reported, never used.
  bool readImage(uint32_t count) {
    if (std::fread(pageBuffer_.data(), 1, count, file_.get()) == count) return true;
    box("Cannot read " + settings_.imagePath);
    status_.markFailed();
    return false;
  }
  bool wasErased(uint32_t block) const { return block >= base_ && block < erasedEnd_; }
  // Blocks whose erase failed or that carry a factory marker. Both passes add blocks in ascending
  // order, so the list stays sorted.
  bool eraseFailed(uint32_t block) const {
    return std::binary_search(failedErase_.begin(), failedErase_.end(), block);
  }
  // Device address of image offset, following the blocks the program pass used.
  uint32_t deviceAddress(uint32_t offset) const {
    return usedBlocks_[offset / blockSize()] + offset % blockSize();
  }
  uint32_t blockSize() const { return static_cast<uint32_t>(flash_.blockSize); }
  uint32_t pageSize() const { return static_cast<uint32_t>(flash_.pageSize); }
  // Spare bytes the image holds after each page: none without the spare-area option.
  uint32_t imageSpare() const { return settings_.oob ? static_cast<uint32_t>(flash_.spareSize) : 0; }
  // A block whose erase or program failed is marked as the Linux MTD layer marks one, so that
  // every later job passes over it as this one did. Best effort: the block may refuse the mark.
  void markFailedBlock(uint32_t block) {
    const int marked = flash_.markBad(cable_, *target_, block);
    marks_.push_back({block / blockSize(), marked == 0});
  }
  // A block whose erase the device reported failed (its ID checked). It is marked only once a later
  // block erases well or the program pass ends: a run of kSuspectRun failures in a row stops the
  // job as a cable fault (noted on the cable) and marks none of them.
  void takeEraseFailure(uint32_t block);
  // An erase went well: the failures before it were the blocks' own.
  void eraseWorked() {
    failureRun_ = 0;
    markPendingBlocks();
  }
  void markPendingBlocks() {
    for (uint32_t block : pendingMarks_) markFailedBlock(block);
    pendingMarks_.clear();
  }

  NandFlash& flash_;
  const NandSettings& settings_;

  std::unique_ptr<NandTarget> target_;
  ImageFile file_;
  uint32_t base_ = 0;
  uint32_t size_ = 0;
  uint32_t erasedEnd_ = 0;  // blocks from base_ up to here were erased by this job's erase pass
  std::vector<uint32_t> failedErase_;
  std::vector<uint32_t> usedBlocks_;  // in image order
  std::vector<uint8_t> pageBuffer_;
  std::vector<std::pair<uint32_t, bool>> marks_;  // block number, and whether the mark went through
  std::vector<uint32_t> pendingMarks_;            // failed erases not yet marked
  int failureRun_ = 0;                            // blocks in a row whose erase failed
  uint32_t address_ = 0;
  bool programPassRan_ = false;
  uint32_t skippedPages_ = 0;
};

// Worn blocks fail one here and there, and the device still gives its ID; three erases in a row
// that fail point at what lies between (a line that picks up noise, the write protect held low, a
// board that browns out), not at three worn blocks, so marking them would only cost good blocks.
constexpr int kSuspectRun = 3;

void NandDownload::takeEraseFailure(uint32_t block) {
  if (++failureRun_ < kSuspectRun) {
    pendingMarks_.push_back(block);
    return;
  }
  pendingMarks_.clear();
  cable_.noteCableFault(format("%d blocks in a row failed their erase (the last at 0x%X) although the NAND still "
                               "gives its ID: the cable is suspect, none of them was marked bad",
                               kSuspectRun, block));
}

void NandDownload::run() {
  target_ = settings_.board ? makeNandTarget(*settings_.board) : makeNandTarget(settings_.product);
  if (!target_ || !identify() || !openAndSize()) return;
  erasePass();
  if (!status_.running()) return;
  programPass();
  if (status_.failed()) return;
  log("Done.\r\n");
  if (status_.stopped() || status_.stopSeen()) {
    status_.stop();
    return;
  }
  if (settings_.verify && !verifyPass()) return;
  complete();
}

bool NandDownload::identify() {
  switch (identifyNand(page_, cable_, job_.chain, *target_, flash_)) {
    case NandStart::Identified: return true;
    case NandStart::NoPort: status_.linkCutByStop(); break;
    case NandStart::NoIdCode: status_.fail("Cannot read JTAG ID"); break;
    case NandStart::NotSupported: status_.fail("Cannot Support NAND."); break;
  }
  return false;
}

bool NandDownload::openAndSize() {
  uint64_t fileSize = 0;
  file_ = openJobImage(page_, settings_.imagePath, fileSize, "Cannot open " + settings_.imagePath);
  if (!file_) return false;
  const uint32_t block = settings_.block;
  const uint64_t base = uint64_t{block} * blockSize();
  uint64_t records = 0;
  if (settings_.oob) {
    // Whole records of a page and its spare area, or the image was not read with them.
    const uint64_t record = pageSize() + imageSpare();
    if (fileSize % record != 0) {
      box(format("With the spare areas the image must be whole pages of 0x%X bytes and their 0x%X spare bytes",
                 pageSize(), imageSpare()));
      return false;
    }
    records = fileSize / record;
    fileSize = records * pageSize();
  }
  if (fileSize >= flash_.totalSize) {
    box("File size is too big");
    return false;
  }
  // The address bytes wrap at the end of the device, so an image running past it would land on
  // the first blocks.
  if (base + fileSize > flash_.totalSize) {
    box(format("File does not fit from block %u", block));
    return false;
  }
  if (settings_.oob && !imageCarriesNoMarker(records)) return false;
  base_ = static_cast<uint32_t>(base);
  size_ = static_cast<uint32_t>(fileSize);
  page_.resetProgressBar();
  page_.showByteCount(0, size_);
  page_.showElapsed(0);
  log(format("  BASE: 0x%X, SIZE: 0x%X\r\n", base_, size_));
  return true;
}

bool NandDownload::imageCarriesNoMarker(uint64_t records) {
  const uint64_t record = pageSize() + imageSpare();
  const uint64_t pagesPerBlock = blockSize() / pageSize();
  // Where the parts keep the marker: the first spare byte of a large page, the sixth of a small one,
  // in a block's first or second page (Samsung K9F1G08U0A and K9F1208U0A, "Identifying Invalid
  // Block(s)").
  const uint32_t column = flash_.largePage ? 0 : 5;
  std::FILE* file = file_.get();
  for (uint64_t first = 0; first < records; first += pagesPerBlock) {
    for (uint64_t page = first; page < std::min(first + 2, records); ++page) {
      const uint64_t offset = page * record + pageSize() + column;
      // An image is smaller than the device (at most 1 GiB and its spare areas), so the offset fits.
      uint8_t marker = 0xFF;
      if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0 || std::fread(&marker, 1, 1, file) != 1) {
        box("Cannot read " + settings_.imagePath);
        return false;
      }
      if (marker == 0xFF) continue;
      box(format("Block %u of the image carries a bad-block marker (spare byte %u of its page %u is 0x%02X): "
                 "written back, it would mark a good block bad. Make the image with nand-read --oob without "
                 "--raw, which leaves the bad blocks out",
                 static_cast<uint32_t>(first / pagesPerBlock), column, static_cast<uint32_t>(page - first), marker));
      return false;
    }
  }
  if (std::fseek(file, 0, SEEK_SET) == 0) return true;
  box("Cannot read " + settings_.imagePath);
  return false;
}

void NandDownload::erasePass() {
  log("  Erasing ");
  NandBadBlockList& badBlocks = nandBadBlocks();
  badBlocks.clear();
  failedErase_.clear();
  int dots = 13;
  uint32_t length = (size_ + blockSize() - 1) / blockSize() * blockSize();
  uint32_t address = base_;
  flash_.setChipEnable(cable_, '0');
  // A device that WP# holds write-protected would fail every erase and program.
  uint8_t status = 0;
  const int protect = flash_.writeProtected(cable_, *target_, status);
  if (protect == 1) {
    flash_.setChipEnable(cable_, '1');
    log(format("\r\n  %s (its status reads 0x%02X, I/O7 low): nothing was erased\r\n", kNandWriteProtectedText,
               status));
    status_.fail(kNandWriteProtectedText);
    return;
  }
  int result = status_.linkHolds() ? 0 : -1;
  while (length != 0 && result != -1) {
    // A factory-marked block is never erased (that would clear its marker for good); it is listed
    // and passed over like a block whose erase fails. A device that stays busy even after a reset
    // ends the pass like an erase timeout.
    const int marker = flash_.factoryMarker(cable_, *target_, address);
    result = marker == 0 && status_.linkHolds() ? flash_.eraseBlock(cable_, *target_, address) : marker;
    if (result == 1 && marker == 0) takeEraseFailure(address);
    if (result == 0) eraseWorked();
    if (!status_.linkHolds()) result = -1;
    if (result == 1) {
      badBlocks.add(address);
      failedErase_.push_back(address);
    }
    if (result == -1) break;
    address += blockSize();
    length -= blockSize();
    if (address >= flash_.totalSize) break;
    log(dots % 72 == 0 ? "\r\n    ." : ".");
    ++dots;
  }
  erasedEnd_ = address;
  flash_.setChipEnable(cable_, '1');
  if (status_.stopped()) {
    status_.stop("\r\n  STOP.\r\n");
    return;
  }
  if (result != 0) log(format("\r\n ERROR. ADDR: 0x%X", address));
  if (status_.failed()) {
    log("\r\n");
    status_.fail();
    return;
  }
  log(" OK.\r\n");
  logBadBlocks();
}

void NandDownload::logBadBlocks() {
  const NandBadBlockList& badBlocks = nandBadBlocks();
  if (badBlocks.count == 0) return;
  std::vector<uint32_t> blocks;
  for (int i = 0; i < badBlocks.count; ++i) blocks.push_back(badBlocks.addresses[i] / blockSize());
  logBlockList(page_, "BAD block num #", blocks);
  if (badBlocks.notListed != 0) log(format("  and %u more\r\n", badBlocks.notListed));
}

// From a block boundary at address_, moves address_ to the first block that can take data: erased
// by this job (a block reached only past skipped ones is erased here first, unless it carries a
// factory marker, so that its marker is read from erased contents), with a good marker and neither
// a failed erase nor a factory marker. False, with the failure reported, when there is none before
// the end of the device.
bool NandDownload::nextUsableBlock() {
  for (; address_ < flash_.totalSize; address_ += blockSize()) {
    if (!wasErased(address_)) {
      const int marker = flash_.factoryMarker(cable_, *target_, address_);
      int result = marker == 0 && status_.linkHolds() ? flash_.eraseBlock(cable_, *target_, address_) : marker;
      if (result == 1 && marker == 0) takeEraseFailure(address_);
      if (result == 0) eraseWorked();
      if (!status_.linkHolds()) {
        if (status_.stopped()) return false;
        result = -1;
      }
      if (result == 1) {
        failedErase_.push_back(address_);
        continue;
      }
      if (result == -1) {
        log(format("\r\n  Erase ERROR, ADDR: 0x%X\r\n", address_));
        status_.fail("Programming Error");
        return false;
      }
    }
    const int marked = flash_.isBadBlock(cable_, *target_, address_);
    if (!status_.linkHolds()) {
      if (status_.failed()) log("\r\n");
      status_.fail("Programming Error");
      return false;
    }
    if (marked != 0) continue;
    // A block whose erase failed may still hold old data that programming cannot set back.
    if (eraseFailed(address_)) continue;
    usedBlocks_.push_back(address_);
    return true;
  }
  log("\r\n  No good block left before the end of the device\r\n");
  box("Not enough good blocks");
  status_.markFailed();
  return false;
}

void NandDownload::programPass() {
  page_.setStartButton("STOP", true);
  pageBuffer_.assign(pageSize() + imageSpare(), 0);
  log(format("  Programming to 0x%X ... ", base_));
  address_ = base_;
  uint32_t remaining = size_;
  uint32_t done = 0;
  usedBlocks_.clear();
  programPassRan_ = true;
  flash_.setChipEnable(cable_, '0');
  while (remaining != 0) {
    if (status_.stopSeen()) break;
    const uint32_t chunk = std::min(pageSize(), remaining);
    if (address_ % blockSize() == 0 && !nextUsableBlock()) break;
    if (!readImage(chunk + imageSpare())) break;
    const auto isErased = [](uint8_t b) { return b == 0xFF; };
    // A spare area of only 0xFF is left as the erase left it; the page runs on into one that is not.
    const auto spare = pageBuffer_.begin() + chunk;
    const uint32_t count = std::all_of(spare, spare + imageSpare(), isErased) ? chunk : chunk + imageSpare();
    // The erase left a page of only 0xFF as the image has it.
    const bool blank = settings_.skipBlank && count == chunk &&
                       std::all_of(pageBuffer_.begin(), pageBuffer_.begin() + chunk, isErased);
    int programmed = 0;
    if (blank) {
      ++skippedPages_;
    } else {
      programmed = flash_.programPage(cable_, *target_, address_, pageBuffer_.data(), count);
    }
    if (!status_.linkHolds() && status_.stopped()) break;
    if (programmed != 0 || status_.failed()) {
      log(format("\r\n  Write ERROR, ADDR: 0x%X\r\n", address_));
      if (!status_.failed()) markPendingBlocks();
      if (!status_.failed() && !flash_.programTimedOut) markFailedBlock(address_ - address_ % blockSize());
      status_.fail("Programming Error");
      break;
    }
    done += chunk;
    address_ += chunk;
    page_.showProgress(done, size_, startTime_);
    remaining -= chunk;
  }
  // Failures the run did not end as a cable fault are the blocks' own.
  if (cable_.linkFailure().empty()) markPendingBlocks();
  flash_.setChipEnable(cable_, '1');
  file_.reset();
  if (status_.stopped()) log("  STOP.\r\n");
}

// False when the image cannot be opened again (the job then ends without its closing lines).
bool NandDownload::verifyPass() {
  std::vector<uint8_t> readBuffer(pageSize() + imageSpare(), 0);
  uint64_t ignoredSize = 0;
  file_ = openImageFile(settings_.imagePath, ignoredSize);
  if (!file_) {
    box("Cannot open " + settings_.imagePath + "\r\n");
    status_.markFailed();
    return false;
  }
  log("  Verifying... ");
  // Exactly the bytes the program pass wrote, wherever bad blocks made it put them.
  uint32_t remaining = size_;
  uint32_t done = 0;
  bool deadCableLook = false;
  page_.showByteCount(0, size_);
  page_.setProgressPosition(0);
  flash_.setChipEnable(cable_, '0');
  while (remaining != 0) {
    if (status_.stopSeen(nullptr)) break;
    const uint32_t chunk = std::min(pageSize(), remaining);
    const uint32_t address = deviceAddress(done);
    const uint32_t count = chunk + imageSpare();
    const int read = flash_.readPage(cable_, *target_, address, readBuffer.data(), count);
    if (!status_.linkHolds() && status_.stopped()) {
      status_.stop();
      break;
    }
    if (read != 0 || status_.failed()) {
      log(format("\r\n  Read ERROR, ADDR: 0x%X\r\n", address));
      status_.fail("Verify ERROR");
      break;
    }
    if (!readImage(count)) break;
    deadCableLook = deadCableLook || readsLikeADeadCable(readBuffer.data(), count);
    // A dead cable reads all ones or all zeros: a difference is the flash's only while it is itself.
    if (!std::equal(readBuffer.begin(), readBuffer.begin() + count, pageBuffer_.begin()) &&
        !flash_.answersAsItself(cable_, *target_)) {
      log("\r\n");
      status_.linkHolds();
      status_.fail("Verify ERROR");
      break;
    }
    if (!compareWithImage(page_, address, pageBuffer_.data(), readBuffer.data(), count, chunk)) {
      status_.markFailed();
      break;
    }
    done += chunk;
    page_.showProgress(done, size_, startTime_);
    remaining -= chunk;
  }
  file_.reset();
  // Nor is a match with pages of only 0xFF or 0x00 (an image of padding after --skip-ff) the flash's
  // while the device is not itself.
  if (status_.running() && deadCableLook && !flash_.answersAsItself(cable_, *target_)) {
    log("\r\n");
    status_.fail("Verify ERROR");
  }
  if (status_.running()) log("OK.\r\n");
  return true;
}

void NandDownload::logSkippedPages() {
  if (settings_.skipBlank && programPassRan_) log(format("  Blank pages skipped: %u\r\n", skippedPages_));
}

void NandDownload::complete() {
  flash_.setChipEnable(cable_, '1');
  // The last scans may still wait in a buffering cable: the link must have carried them too.
  cable_.collectCaptures();
  if (status_.running() && !status_.linkHolds() && status_.failed()) status_.fail();
  if (status_.running()) status_.complete("Download Complete.");
  if (status_.stopped()) log("  STOP.\r\n");
  if (status_.failed()) log("Error.\r\n");
}

}  // namespace

int runNandJob(JobPage& page, JtagLink& link, const NandSettings& settings) {
  return runJobFrame(page, link, settings.chain, "[Download to NAND]\r\n", TrstPulse::AfterEmptyLine, [&](JobContext& context) {
    NandFlash flash;
    page.appendLog(filePathLogLine("Image", settings.imagePath));
    NandDownload download(context, flash, settings);
    download.run();
    download.logSkippedPages();
    download.logMarks();
  });
}

}  // namespace zorv
