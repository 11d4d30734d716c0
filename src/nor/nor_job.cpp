#include "nor/nor_job.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/jtag_cable.h"
#include "nor/flash_types.h"
#include "nor/nor_flash.h"
#include "nor/nor_identify.h"
#include "nor/unchanged_sectors.h"
#include "page/image_file.h"
#include "page/job_frame.h"
#include "page/path_text.h"
#include "targets/nor_target.h"
#include "text/format.h"

namespace zorv {
namespace {

constexpr uint32_t kChunkBytes = 0x40000;
constexpr uint32_t kBufferBytes = 32;

// One run of the job; run() is the straight line from the port test to the last programmed unit,
// and every way out of it ends in the common end path of runNorJob.
class NorJob : JobBody {
 public:
  NorJob(JobContext& context, const NorSettings& settings)
      : JobBody(context), settings_(settings), flash_(std::make_unique<NorFlash>()) {}

  void start() {
    target_ = settings_.board ? makeNorTarget(*settings_.board) : makeNorTarget(settings_.product);
    if (target_) {
      run();
      if (commandSetLoaded_) flash_->resetDevice(cable_, *target_);
    }
    logSkipped();
  }

 private:
  void run();
  bool identify();
  bool eraseCovered();
  void program();
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
  // With the skip options, after the job's other lines: what was left as it stood.
  void logSkipped();

  const NorSettings& settings_;
  std::unique_ptr<NorFlash> flash_;
  std::unique_ptr<NorTarget> target_;
  ImageFile file_;
  std::vector<uint8_t> buffer_;
  bool commandSetLoaded_ = false;
  int64_t elapsed_ = 0;
  uint32_t fileSize_ = 0;
  uint32_t address_ = 0;
  uint32_t step_ = 0;
  bool programmingRan_ = false;
  uint32_t skippedBlank_ = 0;  // units, or write buffers
  UnchangedSectors unchanged_;
};

void NorJob::run() {
  if (!identify()) return;
  // Nothing is erased yet, so a stop while reading leaves the flash as it was.
  if (settings_.skipUnchanged &&
      !unchanged_.find(*flash_, cable_, *target_, settings_.block, file_.get(), fileSize_, page_.stopRequested,
                       [this](uint32_t compared) { page_.showProgress(compared, fileSize_, startTime_); })) {
    status_.stopSeen("  STOP.\r\n");
    return;
  }
  // A link lost while reading makes every sector look changed; it must not go on to the erase.
  if (!status_.linkHoldsElseStop("  STOP.\r\n")) {
    if (status_.failed()) status_.failNow("Cable: " + cable_.linkFailure());
    return;
  }
  if (!eraseCovered()) return;
  program();
}

bool NorJob::identify() {
  const NorBusChoice bus{settings_.product, settings_.flashType, settings_.width, settings_.interleave, settings_.base,
                         settings_.board.get()};
  const auto openAndShow = [this] {
    if (!openImage()) return false;
    page_.showByteCount(0, fileSize_);
    page_.showElapsed(0);
    return true;
  };
  if (identifyNor(job_, *target_, *flash_, bus, {openAndShow, nullptr}, commandSetLoaded_)) return true;
  if (status_.stopped()) status_.stop("  STOP.\r\n");
  return false;
}

bool NorJob::eraseCovered() {
  uint32_t failAddress = 0;
  const int erased = flash_->eraseRange(page_, cable_, *target_, settings_.block, fileSize_, failAddress,
                                        settings_.skipUnchanged ? &unchanged_.marks() : nullptr);
  if (!status_.linkHoldsElseStop("\r\n  STOP.\r\n") && status_.stopped()) return false;
  if (erased != 0 || status_.failed()) {
    page_.appendLog(format("\r\n  ERROR. ADDR: 0x%X", failAddress));
    if (status_.failed()) {
      page_.appendLog("\r\n");
      status_.failNow("ERASE ERROR.");
    }
    return false;
  }
  page_.appendLog(" OK.\r\n");
  flash_->resetDevice(cable_, *target_);
  return true;
}

void NorJob::program() {
  NorFlash& flash = *flash_;
  page_.setStartButton("STOP", true);
  address_ = flash.startAddress(settings_.block);
  const uint32_t unit = static_cast<uint32_t>(flash.busWidth) / 8;
  step_ = fileSize_ / 100;
  if (unit == 2) step_ = (step_ + 1) & ~1u;
  const std::string waitLine = flash.chooseProgramWait(cable_, *target_);
  // A parallel port is always polled: only a link says which way it went.
  if (cable_.answersLate()) page_.appendLog(waitLine);
  page_.appendLog(format("  Programming and Verifying to 0x%X ... ", address_));
  flash.selectChip(cable_, *target_);
  programmingRan_ = true;
  if (fileSize_ != 0) {
    if (usesWriteBuffer(flash.deviceIndex)) {
      programInBuffers();
    } else {
      programInUnits();
    }
  }
  flash.deselectChip(cable_, *target_);
  // The last cycles may still wait in a buffering cable: the link must have carried them too.
  cable_.collectCaptures();
  if (status_.running() && !status_.linkHoldsElseStop("  STOP.\r\n") && status_.failed()) status_.failNow("WRITE ERROR.");
  page_.setStartButton("STOP", false);
  if (status_.running()) page_.appendLog("OK.\r\n");
  page_.appendLog(format("  Download Time: %d [sec]\r\n", static_cast<int>(elapsed_)));
  if (status_.running()) status_.complete("Download Complete.");
}

bool NorJob::openImage() {
  uint64_t size = 0;
  file_ = openJobImage(page_, settings_.imagePath, size, "Cannot open file");
  if (!file_) return false;
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
  status_.markFailed();
  return false;
}

void NorJob::refresh(uint32_t written, uint32_t& since, bool force) {
  if (since < step_ && !force) return;
  page_.showProgress(written, fileSize_, startTime_);
  elapsed_ = page_.now() - startTime_;
  since = 0;
}

void NorJob::programInBuffers() {
  uint32_t remaining = fileSize_;
  uint32_t written = 0;
  uint32_t since = 0;
  std::array<uint16_t, kBufferBytes / 2> words{};
  while (remaining != 0) {
    if (status_.stopSeen("  STOP.\r\n")) return;
    const uint32_t chunk = remaining < kChunkBytes ? remaining : kChunkBytes;
    if (!readChunk(chunk)) return;
    const uint8_t* p = buffer_.data();
    uint32_t left = chunk;
    while (left != 0) {
      const uint32_t n = left < kBufferBytes ? left : kBufferBytes;
      const uint32_t m = (n + 1) & ~1u;
      if (status_.stopSeen("  Stop.\r\n")) return;
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
      if (!status_.linkHoldsElseStop("  Stop.\r\n") && status_.stopped()) return;
      if (programmed != 0 || status_.failed()) {
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
  status_.failNow("WRITE ERROR.");
}

void NorJob::unitFailed(uint32_t address, uint32_t wanted, uint32_t got) {
  page_.appendLog(format("\r\n  Write to 0x%X failed\r\n", address));
  page_.appendLog(format("  Data: 0x%X, Read: 0x%X\r\n", wanted, got));
  status_.failNow();
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
      if (status_.stopSeen("  Stop.\r\n")) return;
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
      if (!status_.linkHoldsElseStop("  Stop.\r\n") && status_.stopped()) return;
      if (programmed != 0 || status_.failed()) {
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

int runNorJob(JobPage& page, JtagLink& link, const NorSettings& settings) {
  return runJobFrame(page, link, settings.chain, "[Download to NOR]\r\n", TrstPulse::BeforeEmptyLine, [&](JobContext& context) {
    page.appendLog(filePathLogLine("Image", settings.imagePath));
    NorJob job(context, settings);
    job.start();
  });
}

}  // namespace zorv
