#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "link/jtag_cable.h"
#include "nand/nand_flash.h"
#include "nand/nand_identify.h"
#include "page/image_file.h"
#include "page/link_check.h"
#include "page/path_text.h"
#include "readback/output_file.h"
#include "readback/read_job.h"
#include "readback/read_support.h"
#include "targets/nand_target.h"
#include "text/format.h"

namespace zorv {
namespace {

enum Status { Running = 0, Stopped = 1, Failed = -1 };

const char* headerLine(ReadMode mode) {
  switch (mode) {
    case ReadMode::Read: return "[Read NAND]\r\n";
    case ReadMode::Verify: return "[Verify NAND]\r\n";
    case ReadMode::Erase: return "[Erase NAND]\r\n";
    case ReadMode::BadScan: return "[Scan NAND Bad Blocks]\r\n";
  }
  return "[NAND]\r\n";
}

// One run of a NAND read-back job. The steps that end the job return early; the caller then takes
// the common end path.
class NandReadBack {
 public:
  NandReadBack(JobPage& page, JtagCable& cable, NandFlash& flash, const ReadSettings& settings, int64_t startTime)
      : page_(page), cable_(cable), flash_(flash), settings_(settings), startTime_(startTime) {}

  void run();
  // Stopped when the user's stop cut the run short; succeeded only with the mode's completion box.
  JobOutcome outcome() const {
    if (status_ == Stopped) return JobOutcome::Stopped;
    return completed_ && status_ == Running ? JobOutcome::Succeeded : JobOutcome::Failed;
  }

 private:
  bool identify();
  bool firstBlockOnDevice();
  void read();
  void verify();
  void erase();
  void scan();

  // The factory marker of the block at address: false when the device hangs (reported).
  bool testMarker(uint32_t address, bool& bad);
  enum class Found { Good, End, Hung };
  // From a block boundary at address_, moves address_ past the blocks with a factory marker to the
  // next good one, listing the ones passed; End when there is none before the end of the device.
  Found nextGoodBlock();
  // The range needs more good blocks than the device has left.
  void outOfBlocks(const char* boxText);
  bool readPage(uint32_t count);
  bool stopSeen();
  // After a step on the device: false when the cable's link is gone. A stop that cut a wait short
  // ends the job as stopped; a lost link fails it, with the cable's cause in the log and failBox
  // (none when null).
  bool linkHolds(const char* failBox);
  // Before a closing box: the last scans may still wait in a buffering cable.
  bool allCarried(const char* failBox) {
    cable_.collectCaptures();
    return linkHolds(failBox);
  }

  void log(const std::string& text) { page_.appendLog(text); }
  void box(const std::string& text) { page_.messageBox(text); }
  // The mode's completion box: the one way a run succeeds.
  void complete(const char* text) {
    completed_ = true;
    box(text);
  }
  uint32_t blockSize() const { return static_cast<uint32_t>(flash_.blockSize); }
  uint32_t pageSize() const { return static_cast<uint32_t>(flash_.pageSize); }
  // The identification gives it; a page read runs on from the main area into its spare area.
  uint32_t spareSize() const { return static_cast<uint32_t>(flash_.spareSize); }
  // Spare bytes that follow each page in the file: none without the spare-area option.
  uint32_t fileSpare() const { return settings_.oob ? spareSize() : 0; }
  uint32_t blockCount() const { return flash_.totalSize / blockSize(); }

  JobPage& page_;
  JtagCable& cable_;
  NandFlash& flash_;
  const ReadSettings& settings_;
  const int64_t startTime_;

  std::unique_ptr<NandTarget> target_;
  uint32_t base_ = 0;
  uint32_t address_ = 0;
  std::vector<uint8_t> pageBuffer_;
  std::vector<uint32_t> passedOver_;  // block numbers with a factory marker
  int status_ = Running;
  bool completed_ = false;
};

void NandReadBack::run() {
  target_ = makeNandTarget(settings_.product);
  if (!target_) return;
  if (identify() && firstBlockOnDevice()) {
    switch (settings_.mode) {
      case ReadMode::Read: read(); break;
      case ReadMode::Verify: verify(); break;
      case ReadMode::Erase: erase(); break;
      case ReadMode::BadScan: scan(); break;
    }
    flash_.setChipEnable(cable_, '1');
  }
  if (status_ == Stopped) {
    page_.stopRequested.store(0);
    log("  STOP.\r\n");
  }
  if (status_ == Failed) log("Error.\r\n");
}

bool NandReadBack::identify() {
  switch (identifyNand(page_, cable_, *target_, flash_)) {
    case NandStart::Identified: return true;
    case NandStart::NoPort: break;
    case NandStart::NoIdCode:
      if (linkHolds("Cannot read JTAG ID")) box("Cannot read JTAG ID");
      break;
    case NandStart::NotSupported:
      if (linkHolds("Cannot Support NAND.")) box("Cannot Support NAND.");
      break;
  }
  return false;
}

bool NandReadBack::firstBlockOnDevice() {
  if (settings_.mode == ReadMode::BadScan) return true;
  if (settings_.block >= blockCount()) {
    box(format("Block %u is past the end of the device (%u blocks)", settings_.block, blockCount()));
    return false;
  }
  base_ = settings_.block * blockSize();
  return true;
}

bool NandReadBack::linkHolds(const char* failBox) {
  switch (linkState(cable_, page_)) {
    case LinkState::Holds: return true;
    case LinkState::CutByStop: status_ = Stopped; return false;
    case LinkState::Lost: break;
  }
  status_ = Failed;
  logLinkFailure(cable_, page_);
  if (failBox != nullptr) box(failBox);
  return false;
}

bool NandReadBack::stopSeen() {
  if (page_.stopRequested.load() == 0) return false;
  status_ = Stopped;
  return true;
}

bool NandReadBack::testMarker(uint32_t address, bool& bad) {
  const int marker = flash_.factoryMarker(cable_, *target_, address);
  if (!linkHolds("Read ERROR")) return false;
  if (marker < 0) {
    log(format("\r\n  Read ERROR, ADDR: 0x%X\r\n", address));
    box("Read ERROR");
    status_ = Failed;
    return false;
  }
  bad = marker != 0;
  return true;
}

NandReadBack::Found NandReadBack::nextGoodBlock() {
  for (; address_ < flash_.totalSize; address_ += blockSize()) {
    bool bad = false;
    if (!testMarker(address_, bad)) return Found::Hung;
    if (!bad) return Found::Good;
    passedOver_.push_back(address_ / blockSize());
  }
  return Found::End;
}

void NandReadBack::outOfBlocks(const char* boxText) {
  log("\r\n  No good block left before the end of the device\r\n");
  box(boxText);
  status_ = Failed;
}

bool NandReadBack::readPage(uint32_t count) {
  const int result = flash_.readPage(cable_, *target_, address_, pageBuffer_.data(), count);
  if (!linkHolds("Read ERROR")) return false;
  if (result == 0) return true;
  log(format("\r\n  Read ERROR, ADDR: 0x%X\r\n", address_));
  box("Read ERROR");
  status_ = Failed;
  return false;
}

void NandReadBack::read() {
  const uint64_t room = uint64_t{flash_.totalSize} - base_;
  if (!settings_.toEnd && settings_.size > room) {
    box(format("The range runs past the end of the device (0x%X bytes from block %u)",
                   static_cast<uint32_t>(room), settings_.block));
    return;
  }
  if (!settings_.toEnd && settings_.size == 0) {
    box(kNothingToReadText);
    return;
  }
  if (settings_.oob && !settings_.toEnd && settings_.size % pageSize() != 0) {
    box(format("With the spare areas the size must be whole pages of 0x%X bytes", pageSize()));
    return;
  }
  OutputFile out(settings_.outputPath);
  if (!out.open()) {
    box(out.refusal());
    return;
  }
  // To the end, the clock runs over the device's blocks (passed over or read); otherwise over the
  // bytes wanted.
  const auto total = static_cast<uint32_t>(settings_.toEnd ? room : settings_.size);
  page_.resetProgressBar();
  page_.showByteCount(0, total);
  page_.showElapsed(0);
  log(format("  BASE: 0x%X, SIZE: 0x%X\r\n", base_, total));
  page_.setStartButton("STOP", true);
  log(format("  Reading from 0x%X ... ", base_));
  pageBuffer_.assign(pageSize() + spareSize(), 0xFF);
  address_ = base_;
  uint32_t remaining = total;
  uint32_t done = 0;
  uint64_t written = 0;
  flash_.setChipEnable(cable_, '0');
  while (settings_.toEnd ? address_ < flash_.totalSize : remaining != 0) {
    if (stopSeen()) break;
    if (address_ % blockSize() == 0 && settings_.padBad && !settings_.raw) {
      bool bad = false;
      if (!testMarker(address_, bad)) break;
      if (bad) {
        // The block's place in the file, as erased flash reads, so the offsets stay as on the flash.
        passedOver_.push_back(address_ / blockSize());
        const uint32_t span = settings_.toEnd ? blockSize() : std::min(blockSize(), remaining);
        const std::vector<uint8_t> erased(span / pageSize() * (pageSize() + fileSpare()) + span % pageSize(), 0xFF);
        if (!out.write(erased.data(), erased.size())) {
          box("Cannot write " + out.partPath());
          status_ = Failed;
          break;
        }
        written += erased.size();
        address_ += span;
        done += span;
        remaining -= span;
        page_.showProgress(done, total, startTime_);
        continue;
      }
    }
    if (address_ % blockSize() == 0 && !settings_.raw && !settings_.padBad) {
      const uint32_t from = address_;
      const Found found = nextGoodBlock();
      if (settings_.toEnd) done += address_ - from;
      if (found == Found::Hung) break;
      // To the end, the device's last blocks being bad is simply where the read ends.
      if (found == Found::End && !settings_.toEnd) outOfBlocks("Read ERROR");
      if (found == Found::End) break;
    }
    const uint32_t chunk = std::min(pageSize(), remaining);
    const uint32_t count = chunk + fileSpare();
    if (!readPage(count)) break;
    if (!out.write(pageBuffer_.data(), count)) {
      box("Cannot write " + out.partPath());
      status_ = Failed;
      break;
    }
    written += count;
    address_ += chunk;
    done += chunk;
    remaining -= chunk;
    page_.showProgress(done, total, startTime_);
  }
  if (status_ != Running || !allCarried("Read ERROR")) return;
  log("OK.\r\n");
  if (!passedOver_.empty()) logBlockList(page_, "BAD block num #", passedOver_);
  if (!out.commit()) {
    box("Cannot write " + settings_.outputPath);
    status_ = Failed;
    return;
  }
  log(format("  0x%llX bytes to %s\r\n", static_cast<unsigned long long>(written), settings_.outputPath.c_str()));
  complete(kReadCompleteText);
}

void NandReadBack::verify() {
  if (settings_.imagePath.empty()) {
    box("No image file");
    return;
  }
  uint64_t fileSize = 0;
  ImageFile file = openImageFile(settings_.imagePath, fileSize);
  if (!file) {
    box("Cannot open " + settings_.imagePath);
    return;
  }
  if (fileSize == 0) {
    box(kNothingToVerifyText);
    return;
  }
  if (settings_.oob) {
    const uint64_t record = pageSize() + spareSize();
    if (fileSize % record != 0) {
      box(format("With the spare areas the image must be whole pages of 0x%X bytes and their 0x%X spare bytes",
                 pageSize(), spareSize()));
      return;
    }
    fileSize = fileSize / record * pageSize();
  }
  if (fileSize > uint64_t{flash_.totalSize} - base_) {
    box(format("The image runs past the end of the device from block %u", settings_.block));
    return;
  }
  const auto size = static_cast<uint32_t>(fileSize);
  page_.resetProgressBar();
  page_.showByteCount(0, size);
  page_.showElapsed(0);
  log(format("  BASE: 0x%X, SIZE: 0x%X\r\n", base_, size));
  page_.setStartButton("STOP", true);
  log("  Verifying... ");
  pageBuffer_.assign(pageSize() + fileSpare(), 0xFF);
  std::vector<uint8_t> image(pageSize() + fileSpare());
  address_ = base_;
  uint32_t remaining = size;
  uint32_t done = 0;
  flash_.setChipEnable(cable_, '0');
  while (remaining != 0) {
    if (stopSeen()) break;
    // Placed as the download places it: a block with a factory marker takes no data.
    if (address_ % blockSize() == 0) {
      const Found found = nextGoodBlock();
      if (found == Found::End) outOfBlocks("Verify ERROR");
      if (found != Found::Good) break;
    }
    const uint32_t chunk = std::min(pageSize(), remaining);
    const uint32_t count = chunk + fileSpare();
    if (std::fread(image.data(), 1, count, file.get()) != count) {
      box("Cannot read " + settings_.imagePath);
      status_ = Failed;
      break;
    }
    if (!readPage(count)) break;
    if (!compareWithImage(page_, address_, image.data(), pageBuffer_.data(), chunk)) {
      status_ = Failed;
      break;
    }
    const auto spare = std::mismatch(image.begin() + chunk, image.begin() + count, pageBuffer_.begin() + chunk);
    if (spare.first != image.begin() + count) {
      log(format("  ERROR, ADDR: 0x%X, SPARE BYTE: 0x%X\r\n", address_,
                 static_cast<uint32_t>(spare.first - image.begin() - chunk)));
      log(format("    [Write: 0x%02X, Read: 0x%02X]\r\n", *spare.first, *spare.second));
      box("Verify ERROR");
      status_ = Failed;
      break;
    }
    address_ += chunk;
    done += chunk;
    remaining -= chunk;
    page_.showProgress(done, size, startTime_);
  }
  if (status_ != Running || !allCarried("Verify ERROR")) return;
  log("OK.\r\n");
  if (!passedOver_.empty()) logBlockList(page_, "BAD block num #", passedOver_);
  complete(kVerifyCompleteText);
}

void NandReadBack::erase() {
  if (settings_.count == 0) {
    box(kNothingToEraseText);
    return;
  }
  if (uint64_t{settings_.block} + settings_.count > blockCount()) {
    box(format("The range runs past the end of the device (%u blocks)", blockCount()));
    return;
  }
  const uint64_t total = uint64_t{settings_.count} * blockSize();
  page_.resetProgressBar();
  page_.showByteCount(0, static_cast<int64_t>(total));
  page_.showElapsed(0);
  log(format("  BASE: 0x%X, SIZE: 0x%llX\r\n", base_, static_cast<unsigned long long>(total)));
  page_.setStartButton("STOP", true);
  log("  Erasing ");
  std::vector<uint32_t> failed;
  int dots = 13;
  flash_.setChipEnable(cable_, '0');
  for (uint32_t i = 0; i < settings_.count; ++i) {
    if (stopSeen()) break;
    const uint32_t address = base_ + i * blockSize();
    bool bad = false;
    if (!testMarker(address, bad)) break;
    if (bad) {
      // Erasing would wipe the maker's marker, and the block would pass for a good one.
      passedOver_.push_back(address / blockSize());
    } else {
      const int result = flash_.eraseBlock(cable_, *target_, address);
      if (!linkHolds("ERASE ERROR.")) break;
      if (result == -1) {
        log(format("\r\n  ERROR. ADDR: 0x%X\r\n", address));
        box("ERASE ERROR.");
        status_ = Failed;
        break;
      }
      if (result == 1) failed.push_back(address / blockSize());
    }
    log(dots % 72 == 0 ? "\r\n    ." : ".");
    ++dots;
    page_.showProgress(int64_t{i + 1} * blockSize(), static_cast<int64_t>(total), startTime_);
  }
  if (status_ != Running || !allCarried("ERASE ERROR.")) return;
  log(" OK.\r\n");
  if (!passedOver_.empty()) logBlockList(page_, "BAD block num #", passedOver_);
  if (!failed.empty()) {
    logBlockList(page_, "Erase failed #", failed);
    box("ERASE ERROR.");
    status_ = Failed;
    return;
  }
  complete(kEraseCompleteText);
}

void NandReadBack::scan() {
  const uint32_t blocks = blockCount();
  page_.resetProgressBar();
  page_.showByteCount(0, flash_.totalSize);
  page_.showElapsed(0);
  page_.setStartButton("STOP", true);
  log("  Scanning... ");
  flash_.setChipEnable(cable_, '0');
  for (uint32_t b = 0; b < blocks; ++b) {
    if (stopSeen()) break;
    bool bad = false;
    if (!testMarker(b * blockSize(), bad)) break;
    if (bad) passedOver_.push_back(b);
    page_.showProgress(int64_t{b + 1} * blockSize(), flash_.totalSize, startTime_);
  }
  if (status_ != Running || !allCarried("Read ERROR")) return;
  log("OK.\r\n");
  if (!passedOver_.empty()) logBlockList(page_, "BAD block num #", passedOver_);
  log(format("  Bad blocks: %zu of %u\r\n", passedOver_.size(), blocks));
  complete(kScanCompleteText);
}

}  // namespace

int runNandReadJob(JobPage& page, JtagLink& port, const ReadSettings& settings) {
  port.watchStopFlag(&page.stopRequested);
  JobOutcome outcome = JobOutcome::Failed;
  {
    JtagCable cable(port);
    NandFlash flash;
    if (!cable.grantPortAccess()) {
      logLinkFailure(cable, page);
      page.messageBox("Couldn't access giveio device");
    }
    page.lockPage();
    const int64_t startTime = page.now();
    page.appendLog(headerLine(settings.mode));
    if (settings.mode == ReadMode::Read) page.appendLog(filePathLogLine("Output", settings.outputPath));
    if (settings.mode == ReadMode::Verify) page.appendLog(filePathLogLine("Image", settings.imagePath));
    NandReadBack job(page, cable, flash, settings, startTime);
    job.run();
    outcome = job.outcome();
    page.appendLog("\r\n");
    // The nTRST pulse hands the pins back to the chip; without a port there is nothing to pulse.
    if (cable.hasPort()) cable.pulseTrst();
  }
  port.watchStopFlag(nullptr);
  page.setOutcome(outcome);
  page.unlockPage();
  return 0;
}

}  // namespace zorv
