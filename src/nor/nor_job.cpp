#include "nor/nor_job.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/jtag_cable.h"
#include "nor/flash_types.h"
#include "nor/nor_flash.h"
#include "nor/number_text.h"
#include "nor/unchanged_sectors.h"
#include "page/image_file.h"
#include "page/link_check.h"
#include "page/path_text.h"
#include "targets/nor_target.h"
#include "targets/target_product.h"
#include "targets/veskar_nor_target.h"
#include "text/format.h"

namespace zorv {
namespace {

constexpr uint32_t kChunkBytes = 0x40000;
constexpr uint32_t kBufferBytes = 32;

// The hexadecimal digits the page reads from a base text, for naming the base in a box.
std::string hexDigitsOf(const std::string& text) {
  size_t i = text.find_first_not_of(" \t\r\n\v\f");
  if (i == std::string::npos) return {};
  if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) i += 2;
  size_t end = i;
  while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
  return text.substr(i, end - i);
}

// One run of the job; run() is the straight line from the port test to the last programmed unit,
// and every way out of it ends in the common end path of runNorJob.
class NorJob {
 public:
  NorJob(JobPage& page, JtagLink& port, const NorSettings& settings)
      : page_(page), settings_(settings), cable_(port), flash_(std::make_unique<NorFlash>()) {}

  void start() {
    if (!cable_.grantPortAccess()) {
      logLinkFailure(cable_, page_);
      page_.messageBox("Couldn't access giveio device");
    }
    page_.lockPage();
    startTime_ = page_.now();
    page_.appendLog("[Download to NOR]\r\n");
    page_.appendLog(filePathLogLine("Image", settings_.imagePath));
    target_ = makeNorTarget(settings_.product);
    if (target_) {
      run();
      if (commandSetLoaded_) flash_->resetDevice(cable_, *target_);
    }
    // Without a port found there is nobody to hand the pins back to.
    if (cable_.hasPort()) cable_.pulseTrst();
    logSkipped();
    page_.appendLog("\r\n");
    file_.reset();
    buffer_.clear();
    target_.reset();
    flash_.reset();
    page_.setOutcome(outcome());
    page_.unlockPage();
  }

 private:
  void run();
  bool openImage();
  void programInBuffers();
  void programInUnits();
  // The timed programs not yet read back: 0 when each took (or none waits), else the first that
  // did not, for the failure lines that a failed poll writes.
  int checkTimed(uint32_t& failAddress, uint32_t* wanted, uint32_t* got);
  void bufferFailed(uint32_t address);
  void unitFailed(uint32_t address, uint32_t wanted, uint32_t got);
  // Reads the next chunk of the image into the buffer, with the erased value after it so that an
  // odd last byte is padded with a byte that leaves the flash as it is; false on a short read.
  bool readChunk(uint32_t chunk);
  void refresh(uint32_t written, uint32_t& since, bool force);
  bool stopSeen(const char* line);
  // Stopped whenever the user's stop cut the job short (result_ 1), wherever that was; succeeded
  // only when run() reached its completion box.
  JobOutcome outcome() const {
    if (result_ == 1) return JobOutcome::Stopped;
    return completed_ ? JobOutcome::Succeeded : JobOutcome::Failed;
  }
  // After a wait on the device: false when the cable's link is gone. A stop that cut the wait
  // short ends the job as stopped (with line in the log); a lost link leaves result_ -1 for the
  // caller's failure texts.
  bool linkHolds(const char* stopLine);
  // The failure's box (none for an empty text) after the cable's cause, when the link failed.
  void failBox(const std::string& text);
  // With the skip options, after the job's other lines: what was left as it stood.
  void logSkipped();

  JobPage& page_;
  const NorSettings& settings_;
  JtagCable cable_;
  std::unique_ptr<NorFlash> flash_;
  std::unique_ptr<NorTarget> target_;
  ImageFile file_;
  std::vector<uint8_t> buffer_;
  char productName_[8] = {};
  bool commandSetLoaded_ = false;
  int64_t startTime_ = 0;
  int64_t elapsed_ = 0;
  bool completed_ = false;  // run() reached its completion box
  uint32_t fileSize_ = 0;
  uint32_t address_ = 0;
  uint32_t step_ = 0;
  int result_ = 0;
  bool programmingRan_ = false;
  uint32_t skippedBlank_ = 0;  // units, or write buffers
  UnchangedSectors unchanged_;
};

void NorJob::run() {
  const bool veskar = settings_.product == Veskar;
  if (cable_.detectPort() != 0) {
    logLinkFailure(cable_, page_);
    page_.messageBox("Cannot find LPT PORT");
    return;
  }
  cable_.pulseTrst();
  cable_.resetTap();
  NorFlash& flash = *flash_;
  NorTarget& target = *target_;
  if (!veskar) flash.deviceIndex = settings_.flashType;

  const int interleaveSelection = settings_.interleaveSelection;
  const int widthSelection = settings_.widthSelection;
  const int interleave = interleaveSelection >= 0 && interleaveSelection < 8 ? 1 << interleaveSelection : 0;
  const int width = widthSelection >= 0 && widthSelection < 8 ? 8 << widthSelection : 0;
  if (!veskar) {
    page_.appendLog(format("  Type: %s, Interleave: %d, Width: %d\r\n",
                           std::string(flashTypeLogName(flash.deviceIndex)).c_str(), interleave, width));
  }
  const std::optional<uint32_t> baseRead = readHexText(settings_.baseText);
  if (!baseRead) {
    page_.messageBox("Base address 0x" + hexDigitsOf(settings_.baseText) + " does not fit in 32 bits");
    return;
  }
  const uint32_t base = *baseRead;
  // A block number past 32 bits lies past every sector table, and the erase refuses it as such.
  const uint32_t blockNumber = readDecimalText(settings_.blockText).value_or(UINT32_MAX);
  flash.base = base;
  flash.chooseChipSelect(base, target);
  flash.bindTarget(cable_, target, productName_);
  if (flash.csCell < 0) {
    page_.messageBox(format("No chip select serves the base address 0x%08X", base));
    return;
  }
  page_.resetProgressBar();

  std::string idLine;
  if (cable_.readIdCode(idLine) == 0) {
    if (linkHolds("  STOP.\r\n") || result_ != 1) failBox(format("Cannot read %s JTAG ID", productName_));
    return;
  }
  page_.appendLog(idLine);
  if (!openImage()) return;
  page_.showByteCount(0, fileSize_);
  page_.showElapsed(0);

  if (veskar) {
    flash.applyFixedSetting(width, interleave);
    cable_.loadDebug();
  } else {
    if (flash.applySetting(width, interleave) != 0) {
      page_.messageBox("Cannot support for your flash setting.");
      return;
    }
    cable_.loadExtest();
  }
  commandSetLoaded_ = true;

  if (const int refusal = flash.readIds(cable_, target); refusal != BusReady) {
    failBox(busRefusalText(refusal));
    return;
  }
  if (!linkHolds("  STOP.\r\n")) {
    if (result_ == -1) failBox("Unknown FLASH ID");
    return;
  }
  if (veskar) flash.recogniseVeskarDevice();
  page_.appendLog(format("  Maker: 0x%04X, Device: 0x%04X (%s)\r\n", flash.makerId, flash.deviceId,
                         std::string(flashTypeLogName(flash.deviceIndex)).c_str()));
  if (veskar) {
    page_.appendLog(format("  VESKAR BANK0 REG: 0x%09X,\r\n  CONFIG Value: 0x%08X\r\n", kVeskarBank0Register,
                           kVeskarBank0Config));
  }
  if (flash.checkId(flash.deviceIndex) != 0) {
    page_.messageBox("Unknown FLASH ID");
    return;
  }
  const int geometry = flash.loadGeometry(cable_, target);
  if (!linkHolds("  STOP.\r\n")) {
    if (result_ == -1) failBox("Cannot get flash Qeury INFO.");
    return;
  }
  if (geometry != 0) {
    page_.messageBox("Cannot get flash Qeury INFO.");
    return;
  }

  // Nothing is erased yet, so a stop while reading leaves the flash as it was.
  if (settings_.skipUnchanged &&
      !unchanged_.find(flash, cable_, target, blockNumber, file_.get(), fileSize_, page_.stopRequested,
                       [this](uint32_t compared) { page_.showProgress(compared, fileSize_, startTime_); })) {
    stopSeen("  STOP.\r\n");
    return;
  }
  // A link lost while reading makes every sector look changed; it must not go on to the erase.
  if (!linkHolds("  STOP.\r\n")) {
    if (result_ == -1) failBox("Cable: " + cable_.linkFailure());
    return;
  }
  uint32_t failAddress = 0;
  const int erased = flash.eraseRange(page_, cable_, target, blockNumber, fileSize_, failAddress,
                                      settings_.skipUnchanged ? &unchanged_.marks() : nullptr);
  if (!linkHolds("\r\n  STOP.\r\n") && result_ == 1) return;
  if (erased != 0 || result_ == -1) {
    page_.appendLog(format("\r\n  ERROR. ADDR: 0x%X", failAddress));
    if (result_ == -1) {
      page_.appendLog("\r\n");
      failBox("ERASE ERROR.");
    }
    return;
  }
  page_.appendLog(" OK.\r\n");
  flash.resetDevice(cable_, target);
  page_.setStartButton("STOP", true);

  address_ = flash.startAddress(blockNumber);
  const uint32_t unit = static_cast<uint32_t>(flash.busWidth) / 8;
  step_ = fileSize_ / 100;
  if (unit == 2) step_ = (step_ + 1) & ~1u;
  const std::string waitLine = flash.chooseProgramWait(cable_, target);
  // A parallel port is always polled: only a link says which way it went.
  if (cable_.answersLate()) page_.appendLog(waitLine);
  page_.appendLog(format("  Programming and Verifying to 0x%X ... ", address_));
  flash.selectChip(cable_, target);
  programmingRan_ = true;
  if (fileSize_ != 0) {
    if (usesWriteBuffer(flash.deviceIndex)) {
      programInBuffers();
    } else {
      programInUnits();
    }
  }
  flash.deselectChip(cable_, target);
  // The last cycles may still wait in a buffering cable: the link must have carried them too.
  cable_.collectCaptures();
  if (result_ == 0 && !linkHolds("  STOP.\r\n") && result_ == -1) failBox("WRITE ERROR.");
  page_.setStartButton("STOP", false);
  if (result_ == 0) page_.appendLog("OK.\r\n");
  page_.appendLog(format("  Download Time: %d [sec]\r\n", static_cast<int>(elapsed_)));
  if (result_ == 0) page_.messageBox("Download Complete.");
  completed_ = result_ == 0;
}

bool NorJob::openImage() {
  if (settings_.imagePath.empty()) {
    page_.messageBox("No image file");
    return false;
  }
  uint64_t size = 0;
  file_ = openImageFile(settings_.imagePath, size);
  if (!file_) {
    page_.messageBox("Cannot open file");
    return false;
  }
  // No NOR device comes near 4 GB; a larger file is refused as too large for the device.
  fileSize_ = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
  buffer_.assign(kChunkBytes + 1, 0xFF);
  return true;
}

bool NorJob::readChunk(uint32_t chunk) {
  const size_t got = std::fread(buffer_.data(), 1, chunk, file_.get());
  buffer_[chunk] = 0xFF;
  if (got == chunk) return true;
  page_.messageBox("Cannot read file");
  result_ = -1;
  return false;
}

void NorJob::refresh(uint32_t written, uint32_t& since, bool force) {
  if (since < step_ && !force) return;
  page_.showProgress(written, fileSize_, startTime_);
  elapsed_ = page_.now() - startTime_;
  since = 0;
}

bool NorJob::linkHolds(const char* stopLine) {
  switch (linkState(cable_, page_)) {
    case LinkState::Holds: return true;
    case LinkState::CutByStop:
      page_.appendLog(stopLine);
      page_.stopRequested.store(0);
      result_ = 1;
      return false;
    case LinkState::Lost: result_ = -1; return false;
  }
  return false;
}

void NorJob::failBox(const std::string& text) {
  result_ = -1;
  logLinkFailure(cable_, page_);
  if (!text.empty()) page_.messageBox(text);
}

bool NorJob::stopSeen(const char* line) {
  if (page_.stopRequested.load() == 0) return false;
  page_.appendLog(line);
  page_.stopRequested.store(0);
  result_ = 1;
  return true;
}

void NorJob::programInBuffers() {
  uint32_t remaining = fileSize_;
  uint32_t written = 0;
  uint32_t since = 0;
  std::array<uint16_t, kBufferBytes / 2> words{};
  while (remaining != 0) {
    if (stopSeen("  STOP.\r\n")) return;
    const uint32_t chunk = remaining < kChunkBytes ? remaining : kChunkBytes;
    if (!readChunk(chunk)) return;
    const uint8_t* p = buffer_.data();
    uint32_t left = chunk;
    while (left != 0) {
      const uint32_t n = left < kBufferBytes ? left : kBufferBytes;
      const uint32_t m = (n + 1) & ~1u;
      if (stopSeen("  Stop.\r\n")) return;
      for (uint32_t w = 0; w < m / 2; ++w) words[w] = static_cast<uint16_t>(p[2 * w] | (p[2 * w + 1] << 8));
      // An erased buffer already holds a buffer of only 0xFF.
      const bool blank =
          settings_.skipBlank && std::all_of(words.begin(), words.begin() + m / 2, [](uint16_t w) { return w == 0xFFFF; });
      int programmed = 0;
      if (unchanged_.covers(*flash_, address_)) {
        // The sector already holds these bytes.
      } else if (blank) {
        ++skippedBlank_;
      } else if (flash_->timedBuffers()) {
        flash_->startBuffer(cable_, *target_, address_, words.data(), m);
      } else {
        programmed = flash_->programBuffer(cable_, *target_, address_, words.data(), m);
      }
      uint32_t failAt = address_;
      if (programmed == 0 && flash_->checkDue(address_ + m)) programmed = checkTimed(failAt, nullptr, nullptr);
      if (!linkHolds("  Stop.\r\n") && result_ == 1) return;
      if (programmed != 0 || result_ == -1) {
        bufferFailed(failAt);
        return;
      }
      written += m;
      address_ += m;
      since += m;
      p += m;
      refresh(written, since, written >= fileSize_);
      left -= n;
    }
    remaining -= chunk;
  }
  uint32_t failAt = 0;
  if (checkTimed(failAt, nullptr, nullptr) != 0) bufferFailed(failAt);
}

void NorJob::bufferFailed(uint32_t address) {
  page_.appendLog(format("  Write ERROR, ADDR: 0x%X\r\n", address));
  failBox("WRITE ERROR.");
}

void NorJob::unitFailed(uint32_t address, uint32_t wanted, uint32_t got) {
  page_.appendLog(format("\r\n  Write to 0x%X failed\r\n", address));
  page_.appendLog(format("  Data: 0x%X, Read: 0x%X\r\n", wanted, got));
  failBox("");
}

int NorJob::checkTimed(uint32_t& failAddress, uint32_t* wanted, uint32_t* got) {
  uint32_t w = 0, g = 0;
  const int held = flash_->checkPrograms(cable_, *target_, failAddress, w, g);
  if (wanted != nullptr) *wanted = w;
  if (got != nullptr) *got = g;
  return held;
}

void NorJob::programInUnits() {
  const uint32_t unit = static_cast<uint32_t>(flash_->busWidth) / 8;
  uint32_t remaining = fileSize_;
  uint32_t written = 0;
  uint32_t since = 0;
  while (remaining != 0) {
    const uint32_t chunk = remaining < kChunkBytes ? remaining : kChunkBytes;
    if (!readChunk(chunk)) return;
    for (uint32_t at = 0; at < chunk; at += unit) {
      if (stopSeen("  Stop.\r\n")) return;
      const uint32_t value = unit == 1 ? buffer_[at] : static_cast<uint32_t>(buffer_[at] | (buffer_[at + 1] << 8));
      uint32_t lastRead = 0;
      int programmed = 0;
      if (unchanged_.covers(*flash_, address_)) {
        // The sector already holds this unit.
      } else if (settings_.skipBlank && value == (unit == 1 ? 0xFFu : 0xFFFFu)) {
        ++skippedBlank_;
      } else if (flash_->timedUnits()) {
        flash_->startUnit(cable_, *target_, address_, value);
      } else {
        programmed = flash_->programUnit(cable_, *target_, address_, value, lastRead);
      }
      uint32_t failAt = address_;
      uint32_t wanted = value;
      if (programmed == 0 && flash_->checkDue(address_ + unit)) programmed = checkTimed(failAt, &wanted, &lastRead);
      if (!linkHolds("  Stop.\r\n") && result_ == 1) return;
      if (programmed != 0 || result_ == -1) {
        unitFailed(failAt, wanted, lastRead);
        return;
      }
      address_ += unit;
      written += unit;
      since += unit;
      refresh(written, since, written >= fileSize_);
    }
    remaining -= chunk;
  }
  uint32_t failAt = 0, wanted = 0, got = 0;
  if (checkTimed(failAt, &wanted, &got) != 0) unitFailed(failAt, wanted, got);
}

void NorJob::logSkipped() {
  if (!programmingRan_) return;
  if (settings_.skipUnchanged) page_.appendLog(format("  Unchanged sectors skipped: %u\r\n", unchanged_.count()));
  if (!settings_.skipBlank) return;
  const bool buffers = usesWriteBuffer(flash_->deviceIndex);
  page_.appendLog(format(buffers ? "  Blank write buffers skipped: %u\r\n" : "  Blank units skipped: %u\r\n", skippedBlank_));
}

}  // namespace

const char* busRefusalText(int refusal) {
  switch (refusal) {
    case DebugModeRefused: return "Cannot run debug mode on VESKAR";
    case FlashConfigRefused: return "Cannot set flash config register of VESKAR";
    default: return "";
  }
}

int runNorJob(JobPage& page, JtagLink& port, const NorSettings& settings) {
  port.watchStopFlag(&page.stopRequested);
  {
    NorJob job(page, port, settings);
    job.start();
  }
  port.watchStopFlag(nullptr);
  return 0;
}

}  // namespace zorv
