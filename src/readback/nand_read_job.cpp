#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "link/jtag_cable.h"
#include "nand/nand_flash.h"
#include "nand/nand_identify.h"
#include "page/flash_report.h"
#include "page/image_file.h"
#include "page/job_frame.h"
#include "page/path_text.h"
#include "readback/output_file.h"
#include "readback/read_job.h"
#include "targets/nand_target.h"
#include "text/format.h"

namespace zorv {
namespace {

// A bad-block scan reads only markers, most of them unmarked: the device's ID is checked once per
// this many blocks (a marker read costs two page reads, an ID check about a third of one).
constexpr uint32_t kBlocksPerIdCheck = 64;


// One run of a NAND read-back job. The steps that end the job return early; the caller then takes
// the common end path.
class NandReadBack : JobBody {
 public:
  NandReadBack(JobContext& context, NandFlash& flash, const ReadSettings& settings)
      : JobBody(context), flash_(flash), settings_(settings) {}

  void run();

 private:
  bool identify();
  bool firstBlockOnDevice();
  // The wanted range fits the device from base_ (and whole pages with the spare areas).
  bool readRangeFits(uint64_t room);
  // The pages from base_ on into out, total bytes of them; returns the bytes written. The job ends
  // failed or stopped when a step does.
  uint64_t readPages(OutputFile& out, uint32_t total);
  // A block with a factory marker at address_, as erased flash reads, in its place in the file so
  // that the offsets stay as on the flash; false, with the job failed, when the file refuses it.
  bool writeErasedBlock(OutputFile& out, uint32_t span, uint64_t& written);
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
  // TDO stuck high reads every page erased and every marker unmarked, stuck low every page 0x00:
  // after such reads, the device must still give its ID before the job goes on past a block
  // boundary or ends. False, with the job failed on the cable's line, when it does not.
  bool answersAsItself(const char* failBox);
  void noteUniform(const uint8_t* bytes, uint32_t count) {
    uncheckedUniform_ = uncheckedUniform_ || readsLikeADeadCable(bytes, count);
  }
  // Before a closing box: the last scans may still wait in a buffering cable.
  bool allCarried(const char* failBox) {
    cable_.collectCaptures();
    return status_.linkHoldsElseFail(failBox);
  }

  uint32_t blockSize() const { return static_cast<uint32_t>(flash_.blockSize); }
  uint32_t pageSize() const { return static_cast<uint32_t>(flash_.pageSize); }
  // The identification gives it; a page read runs on from the main area into its spare area.
  uint32_t spareSize() const { return static_cast<uint32_t>(flash_.spareSize); }
  // Spare bytes that follow each page in the file: none without the spare-area option.
  uint32_t fileSpare() const { return settings_.oob ? spareSize() : 0; }
  uint32_t blockCount() const { return flash_.totalSize / blockSize(); }

  NandFlash& flash_;
  const ReadSettings& settings_;

  std::unique_ptr<NandTarget> target_;
  uint32_t base_ = 0;
  uint32_t address_ = 0;
  std::vector<uint8_t> pageBuffer_;
  std::vector<uint32_t> passedOver_;  // block numbers with a factory marker
  bool uncheckedUniform_ = false;     // a read since the last ID check gave only 0xFF or only 0x00
};

void NandReadBack::run() {
  target_ = settings_.board ? makeNandTarget(*settings_.board) : makeNandTarget(settings_.product);
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
  if (status_.stopped()) status_.stop("  STOP.\r\n");
  if (status_.failed()) log("Error.\r\n");
}

bool NandReadBack::identify() {
  switch (identifyNand(page_, cable_, job_.chain, *target_, flash_)) {
    case NandStart::Identified: return true;
    case NandStart::NoPort: status_.linkCutByStop(); break;
    case NandStart::NoIdCode:
      if (status_.linkHoldsElseFail("Cannot read JTAG ID")) box("Cannot read JTAG ID");
      break;
    case NandStart::NotSupported:
      if (status_.linkHoldsElseFail("Cannot Support NAND.")) box("Cannot Support NAND.");
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

bool NandReadBack::testMarker(uint32_t address, bool& bad) {
  const int marker = flash_.factoryMarker(cable_, *target_, address);
  // The cable's line starts a line of its own, after the dots or the "..." of the running step.
  if (!status_.linkHolds() && status_.failed()) log("\r\n");
  if (!status_.linkHoldsElseFail("Read ERROR")) return false;
  if (marker < 0) {
    log(format("\r\n  Read ERROR, ADDR: 0x%X\r\n", address));
    box("Read ERROR");
    status_.markFailed();
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
  status_.markFailed();
}

bool NandReadBack::readPage(uint32_t count) {
  const int result = flash_.readPage(cable_, *target_, address_, pageBuffer_.data(), count);
  if (!status_.linkHoldsElseFail("Read ERROR")) return false;
  if (result == 0) return true;
  log(format("\r\n  Read ERROR, ADDR: 0x%X\r\n", address_));
  box("Read ERROR");
  status_.markFailed();
  return false;
}

bool NandReadBack::answersAsItself(const char* failBox) {
  if (uncheckedUniform_ && cable_.linkFailure().empty()) {
    uncheckedUniform_ = false;
    if (!flash_.answersAsItself(cable_, *target_)) log("\r\n");
  }
  return status_.linkHoldsElseFail(failBox);
}

bool NandReadBack::readRangeFits(uint64_t room) {
  if (!settings_.toEnd && settings_.size > room) {
    box(format("The range runs past the end of the device (0x%X bytes from block %u)",
                   static_cast<uint32_t>(room), settings_.block));
    return false;
  }
  if (!settings_.toEnd && settings_.size == 0) {
    box(kNothingToReadText);
    return false;
  }
  if (settings_.oob && !settings_.toEnd && settings_.size % pageSize() != 0) {
    box(format("With the spare areas the size must be whole pages of 0x%X bytes", pageSize()));
    return false;
  }
  return true;
}

void NandReadBack::read() {
  const uint64_t room = uint64_t{flash_.totalSize} - base_;
  if (!readRangeFits(room)) return;
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
  const uint64_t written = readPages(out, total);
  if (!status_.running() || !answersAsItself("Read ERROR") || !allCarried("Read ERROR")) return;
  log("OK.\r\n");
  if (!passedOver_.empty()) logBlockList(page_, "BAD block num #", passedOver_);
  if (!out.commit()) {
    box("Cannot write " + settings_.outputPath);
    status_.markFailed();
    return;
  }
  log(format("  0x%llX bytes to %s\r\n", static_cast<unsigned long long>(written), settings_.outputPath.c_str()));
  status_.complete(kReadCompleteText);
}

uint64_t NandReadBack::readPages(OutputFile& out, uint32_t total) {
  pageBuffer_.assign(pageSize() + spareSize(), 0xFF);
  address_ = base_;
  uint32_t remaining = total;
  uint32_t done = 0;
  uint64_t written = 0;
  flash_.setChipEnable(cable_, '0');
  // Never past the device's end, whatever the count says: the address bytes would wrap to block 0.
  while (address_ < flash_.totalSize && (settings_.toEnd || remaining != 0)) {
    if (status_.stopSeen()) break;
    if (address_ % blockSize() == 0 && !answersAsItself("Read ERROR")) break;
    if (address_ % blockSize() == 0 && settings_.padBad && !settings_.raw) {
      bool bad = false;
      if (!testMarker(address_, bad)) break;
      if (bad) {
        const uint32_t span = settings_.toEnd ? blockSize() : std::min(blockSize(), remaining);
        if (!writeErasedBlock(out, span, written)) break;
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
    noteUniform(pageBuffer_.data(), count);
    if (!out.write(pageBuffer_.data(), count)) {
      box("Cannot write " + out.partPath());
      status_.markFailed();
      break;
    }
    written += count;
    address_ += chunk;
    done += chunk;
    remaining -= chunk;
    page_.showProgress(done, total, startTime_);
  }
  if (status_.running() && !settings_.toEnd && remaining != 0) outOfBlocks("Read ERROR");
  return written;
}

bool NandReadBack::writeErasedBlock(OutputFile& out, uint32_t span, uint64_t& written) {
  passedOver_.push_back(address_ / blockSize());
  const std::vector<uint8_t> erased(span / pageSize() * (pageSize() + fileSpare()) + span % pageSize(), 0xFF);
  if (!out.write(erased.data(), erased.size())) {
    box("Cannot write " + out.partPath());
    status_.markFailed();
    return false;
  }
  written += erased.size();
  address_ += span;
  return true;
}

void NandReadBack::verify() {
  uint64_t fileSize = 0;
  ImageFile file = openImageToVerify(page_, settings_.imagePath, fileSize);
  if (!file) return;
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
    if (status_.stopSeen()) break;
    // Placed as the download places it: a block with a factory marker takes no data.
    if (address_ % blockSize() == 0) {
      if (!answersAsItself("Verify ERROR")) break;
      const Found found = nextGoodBlock();
      if (found == Found::End) outOfBlocks("Verify ERROR");
      if (found != Found::Good) break;
    }
    const uint32_t chunk = std::min(pageSize(), remaining);
    const uint32_t count = chunk + fileSpare();
    if (std::fread(image.data(), 1, count, file.get()) != count) {
      box("Cannot read " + settings_.imagePath);
      status_.markFailed();
      break;
    }
    if (!readPage(count)) break;
    noteUniform(pageBuffer_.data(), count);
    // A dead cable reads all ones or all zeros: a difference is the flash's only while it is itself
    // (the cable's fault fails the job below, as a lost link does).
    if (!std::equal(image.begin(), image.begin() + count, pageBuffer_.begin()) &&
        !flash_.answersAsItself(cable_, *target_)) {
      log("\r\n");
      break;
    }
    if (!compareWithImage(page_, address_, image.data(), pageBuffer_.data(), count, chunk)) {
      status_.markFailed();
      break;
    }
    address_ += chunk;
    done += chunk;
    remaining -= chunk;
    page_.showProgress(done, size, startTime_);
  }
  if (!status_.running() || !answersAsItself("Verify ERROR") || !allCarried("Verify ERROR")) return;
  log("OK.\r\n");
  if (!passedOver_.empty()) logBlockList(page_, "BAD block num #", passedOver_);
  status_.complete(kVerifyCompleteText);
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
  uint8_t status = 0;
  const int protect = flash_.writeProtected(cable_, *target_, status);
  if (!status_.linkHolds() && status_.failed()) log("\r\n");
  if (!status_.linkHoldsElseFail("ERASE ERROR.")) return;
  if (protect == 1) {
    log(format("\r\n  %s (its status reads 0x%02X, I/O7 low): nothing was erased\r\n", kNandWriteProtectedText,
               status));
    box(kNandWriteProtectedText);
    status_.markFailed();
    return;
  }
  for (uint32_t i = 0; i < settings_.count; ++i) {
    if (status_.stopSeen()) break;
    const uint32_t address = base_ + i * blockSize();
    bool bad = false;
    if (!testMarker(address, bad)) break;
    if (bad) {
      // Erasing would wipe the maker's marker, and the block would pass for a good one.
      passedOver_.push_back(address / blockSize());
    } else {
      const int result = flash_.eraseBlock(cable_, *target_, address);
      if (!status_.linkHolds() && status_.failed()) log("\r\n");
      if (!status_.linkHoldsElseFail("ERASE ERROR.")) break;
      if (result == -1) {
        log(format("\r\n  ERROR. ADDR: 0x%X\r\n", address));
        box("ERASE ERROR.");
        status_.markFailed();
        break;
      }
      if (result == 1) failed.push_back(address / blockSize());
    }
    log(dots % 72 == 0 ? "\r\n    ." : ".");
    ++dots;
    page_.showProgress(int64_t{i + 1} * blockSize(), static_cast<int64_t>(total), startTime_);
  }
  if (!status_.running() || !allCarried("ERASE ERROR.")) return;
  log(" OK.\r\n");
  if (!passedOver_.empty()) logBlockList(page_, "BAD block num #", passedOver_);
  if (!failed.empty()) {
    logBlockList(page_, "Erase failed #", failed);
    box("ERASE ERROR.");
    status_.markFailed();
    return;
  }
  status_.complete(kEraseCompleteText);
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
    if (status_.stopSeen()) break;
    if (b % kBlocksPerIdCheck == 0 && !answersAsItself("Read ERROR")) break;
    bool bad = false;
    if (!testMarker(b * blockSize(), bad)) break;
    if (bad) passedOver_.push_back(b);
    // An unmarked block is what a TDO stuck high reads too.
    uncheckedUniform_ = uncheckedUniform_ || !bad;
    page_.showProgress(int64_t{b + 1} * blockSize(), flash_.totalSize, startTime_);
  }
  if (!status_.running() || !answersAsItself("Read ERROR") || !allCarried("Read ERROR")) return;
  log("OK.\r\n");
  if (!passedOver_.empty()) logBlockList(page_, "BAD block num #", passedOver_);
  log(format("  Bad blocks: %zu of %u\r\n", passedOver_.size(), blocks));
  status_.complete(kScanCompleteText);
}

}  // namespace

int runNandReadJob(JobPage& page, JtagLink& link, const ReadSettings& settings) {
  return runJobFrame(page, link, settings.chain, readJobHeader(ReadFlash::Nand, settings.mode), TrstPulse::AfterEmptyLine, [&](JobContext& context) {
    NandFlash flash;
    if (settings.mode == ReadMode::Read) page.appendLog(filePathLogLine("Output", settings.outputPath));
    if (settings.mode == ReadMode::Verify) page.appendLog(filePathLogLine("Image", settings.imagePath));
    NandReadBack job(context, flash, settings);
    job.run();
  });
}

}  // namespace zorv
