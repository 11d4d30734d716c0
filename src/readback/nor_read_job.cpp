#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "link/jtag_cable.h"
#include "nor/flash_types.h"
#include "nor/nor_flash.h"
#include "nor/nor_identify.h"
#include "page/flash_report.h"
#include "page/image_file.h"
#include "page/job_frame.h"
#include "page/path_text.h"
#include "readback/output_file.h"
#include "readback/read_job.h"
#include "targets/catalogue.h"
#include "targets/nor_target.h"
#include "text/format.h"

namespace zorv {
namespace {

constexpr uint32_t kChunkBytes = 0x40000;

// One run of a NOR read-back job: identification as the download does it, then the mode's work.
// The steps that end the job return early; the caller then takes the common end path.
class NorReadBack : JobBody {
 public:
  NorReadBack(JobContext& context, const ReadSettings& settings)
      : JobBody(context), settings_(settings), flash_(std::make_unique<NorFlash>()) {}

  void run();

 private:
  bool identify();
  // A device code that is not the type's: read and verify run over the CFI size where the device
  // answers the query for this bus, else on the bus as it answers only when the user asked for
  // that (raw); otherwise the part is refused with its codes. Never an erase.
  bool identifyUnknown();
  // The range's start on a 16-bit bus must be a whole unit.
  bool startsOnAUnit(uint32_t start);
  // From the chosen sector's start, wanted bytes (or all to the device's end): false, reported,
  // when the sector or the range lies past the device's end.
  bool range(uint64_t wanted, bool toEnd, uint32_t& start, uint32_t& length);
  void read();
  void verify();
  void erase();
  // Reads length bytes of the flash from address in bus units, calling sink with each chunk.
  template <typename Sink>
  void readRange(uint32_t address, uint32_t length, Sink sink);
  // Before a closing box: the last scans may still wait in a buffering cable.
  bool allCarried(const char* failBox) {
    cable_.collectCaptures();
    return status_.linkHoldsElseFail(failBox);
  }

  // Wide: a device at the top of the address space ends at 2^32.
  uint64_t deviceEnd() const { return uint64_t{flash_->sectorStart[0]} + flash_->deviceSize; }

  const ReadSettings& settings_;
  std::unique_ptr<NorFlash> flash_;
  std::unique_ptr<NorTarget> target_;
  bool commandSetLoaded_ = false;
  bool busOnly_ = false;  // an unknown device without CFI: no sectors, only the bus from base
};

void NorReadBack::run() {
  target_ = settings_.board ? makeNorTarget(*settings_.board) : makeNorTarget(settings_.product);
  if (!target_) return;
  if (identify()) {
    switch (settings_.mode) {
      case ReadMode::Read: read(); break;
      case ReadMode::Verify: verify(); break;
      case ReadMode::Erase: erase(); break;
      case ReadMode::BadScan: box("NOR flash has no bad blocks to scan"); break;
    }
  }
  if (status_.stopped()) status_.stop("  STOP.\r\n");
  if (status_.failed()) log("Error.\r\n");
  if (commandSetLoaded_) flash_->resetDevice(cable_, *target_);
}

bool NorReadBack::identify() {
  const NorBusChoice bus{settings_.product, settings_.flashType, settings_.width, settings_.interleave, settings_.base,
                         settings_.board.get()};
  return identifyNor(job_, *target_, *flash_, bus, {nullptr, [this] { return identifyUnknown(); }},
                     commandSetLoaded_);
}

bool NorReadBack::identifyUnknown() {
  if (settings_.mode != ReadMode::Read && settings_.mode != ReadMode::Verify) {
    box("Unknown FLASH ID");
    return false;
  }
  NorFlash& flash = *flash_;
  const int cfi = flash.loadCfiGeometry(cable_, *target_);
  if (!status_.linkHoldsElseFail(settings_.mode == ReadMode::Verify ? "Verify ERROR" : "Read ERROR")) return false;
  if (cfi == 0 && flash.cfiConfirmsBusWidth()) {
    log(format("  Unknown device; CFI size: 0x%X\r\n", flash.deviceSize));
    return true;
  }
  if (!settings_.raw) {
    const std::string type = isFlashType(settings_.flashType) && !norAbilitiesOf(settings_.product, settings_.board.get()).findsByDeviceCode
                                 ? std::string(flashTypeListText(settings_.flashType))
                                 : std::string("a known type");
    box(format("Unknown FLASH ID (Maker: 0x%04X, Device: 0x%04X): not %s. Raw (--raw) reads the bus as it is",
               flash.makerId, flash.deviceId, type.c_str()));
    return false;
  }
  log(cfi == 0 ? "  Unknown device, its CFI not for this bus: the bus is read as it is\r\n"
               : "  Unknown device, no CFI: the bus is read as it is\r\n");
  busOnly_ = true;
  return true;
}

bool NorReadBack::startsOnAUnit(uint32_t start) {
  if (flash_->busWidth != 16 || (start & 1u) == 0) return true;
  box(format("Base 0x%X is odd: a 16-bit bus reads whole words, from an even address", settings_.base));
  return false;
}

bool NorReadBack::range(uint64_t wanted, bool toEnd, uint32_t& start, uint32_t& length) {
  const NorFlash& flash = *flash_;
  if (busOnly_) {
    if (toEnd) {
      box("Unknown FLASH ID: give the size to read");
      return false;
    }
    if (settings_.block != 0) {
      box(format("Sector %u: an unknown device has no sectors, read from sector 0", settings_.block));
      return false;
    }
    if (wanted > 0xFFFFFFFFu || flash.base > uint64_t{0xFFFFFFFFu} - wanted + 1) {
      box("The range runs past the end of the address space");
      return false;
    }
    start = flash.base;
    length = static_cast<uint32_t>(wanted);
    return startsOnAUnit(start);
  }
  if (settings_.block >= static_cast<uint32_t>(flash.sectorCount)) {
    box(format("Sector %u is past the end of the device (%d sectors)", settings_.block, flash.sectorCount));
    return false;
  }
  start = flash.startAddress(settings_.block);
  // A base beyond the device size moves the start off the device (as the download finds it).
  if (start < flash.sectorStart[0] || start >= deviceEnd()) {
    box("Writing address is not on sector boundary");
    return false;
  }
  if (!startsOnAUnit(start)) return false;
  const uint64_t room = deviceEnd() - start;
  if (toEnd) wanted = room;
  if (wanted > room) {
    box(format("The range runs past the end of the device (0x%X bytes from sector %u)",
                   static_cast<uint32_t>(room), settings_.block));
    return false;
  }
  length = static_cast<uint32_t>(wanted);
  return true;
}

template <typename Sink>
void NorReadBack::readRange(uint32_t address, uint32_t length, Sink sink) {
  NorFlash& flash = *flash_;
  const uint32_t unit = static_cast<uint32_t>(flash.busWidth) / 8;
  std::vector<uint8_t> chunkBuffer(kChunkBytes + 1);
  uint32_t done = 0;
  flash.selectChip(cable_, *target_);
  while (done < length) {
    const uint32_t chunk = std::min(kChunkBytes, length - done);
    // A run of reads waits once on a cable that answers late; stops and a lost link are seen
    // between runs. A parallel port reads unit by unit, so that a stop is seen at once.
    const uint32_t run = cable_.answersLate() ? kReadRunBytes : unit;
    for (uint32_t at = 0; at < chunk; at += run) {
      if (status_.stopSeen()) break;
      const uint32_t bytes = std::min(run, chunk - at);
      // 16-bit units are little-endian in the file, as the download takes them.
      flash.readUnits(cable_, *target_, address + done + at, (bytes + unit - 1) / unit, chunkBuffer.data() + at);
      if (!status_.linkHoldsElseFail(settings_.mode == ReadMode::Verify ? "Verify ERROR" : "Read ERROR")) break;
      if (at % 1024 == 0) page_.showProgress(done + at, length, startTime_);
    }
    if (!status_.running()) break;
    if (!sink(address + done, chunkBuffer.data(), chunk)) break;
    done += chunk;
    page_.showProgress(done, length, startTime_);
  }
  flash.deselectChip(cable_, *target_);
}

void NorReadBack::read() {
  if (!settings_.toEnd && settings_.size == 0) {
    box(kNothingToReadText);
    return;
  }
  uint32_t start = 0, length = 0;
  if (!range(settings_.size, settings_.toEnd, start, length)) return;
  OutputFile out(settings_.outputPath);
  if (!out.open()) {
    box(out.refusal());
    return;
  }
  page_.showByteCount(0, length);
  page_.showElapsed(0);
  log(format("  BASE: 0x%X, SIZE: 0x%X\r\n", start, length));
  page_.setStartButton("STOP", true);
  log(format("  Reading from 0x%X ... ", start));
  readRange(start, length, [&](uint32_t, const uint8_t* bytes, uint32_t count) {
    if (out.write(bytes, count)) return true;
    box("Cannot write " + out.partPath());
    status_.markFailed();
    return false;
  });
  page_.setStartButton("STOP", false);
  if (!status_.running() || !allCarried("Read ERROR")) return;
  log("OK.\r\n");
  if (!out.commit()) {
    box("Cannot write " + settings_.outputPath);
    status_.markFailed();
    return;
  }
  log(format("  0x%X bytes to %s\r\n", length, settings_.outputPath.c_str()));
  status_.complete(kReadCompleteText);
}

void NorReadBack::verify() {
  uint64_t fileSize = 0;
  ImageFile file = openImageToVerify(page_, settings_.imagePath, fileSize);
  if (!file) return;
  uint32_t start = 0, length = 0;
  if (!range(fileSize, false, start, length)) return;
  page_.showByteCount(0, length);
  page_.showElapsed(0);
  log(format("  BASE: 0x%X, SIZE: 0x%X\r\n", start, length));
  page_.setStartButton("STOP", true);
  log("  Verifying... ");
  std::vector<uint8_t> image(kChunkBytes);
  readRange(start, length, [&](uint32_t address, const uint8_t* bytes, uint32_t count) {
    if (std::fread(image.data(), 1, count, file.get()) != count) {
      box("Cannot read " + settings_.imagePath);
      status_.markFailed();
      return false;
    }
    if (compareWithImage(page_, address, image.data(), bytes, count)) return true;
    status_.markFailed();
    return false;
  });
  page_.setStartButton("STOP", false);
  if (!status_.running() || !allCarried("Verify ERROR")) return;
  log("OK.\r\n");
  status_.complete(kVerifyCompleteText);
}

void NorReadBack::erase() {
  if (settings_.count == 0) {
    box(kNothingToEraseText);
    return;
  }
  NorFlash& flash = *flash_;
  if (uint64_t{settings_.block} + settings_.count > static_cast<uint64_t>(flash.sectorCount)) {
    box(format("The range runs past the end of the device (%d sectors)", flash.sectorCount));
    return;
  }
  // The sectors' own extent, from the chosen one's start as the download computes it.
  const uint32_t length =
      flash.sectorStart[settings_.block + settings_.count] - flash.sectorStart[settings_.block];
  log(format("  Sectors: %u from %u\r\n", settings_.count, settings_.block));
  uint32_t failAddress = 0;
  const int result = flash.eraseRange(page_, cable_, *target_, settings_.block, length, failAddress);
  // A failed erase has shown its box already.
  if (!allCarried(result == 0 ? "ERASE ERROR." : nullptr)) return;
  if (result != 0) {
    log(format("\r\n  ERROR. ADDR: 0x%X\r\n", failAddress));
    status_.markFailed();
    return;
  }
  log(" OK.\r\n");
  status_.complete(kEraseCompleteText);
}

}  // namespace

int runNorReadJob(JobPage& page, JtagLink& link, const ReadSettings& settings) {
  return runJobFrame(page, link, settings.chain, readJobHeader(ReadFlash::Nor, settings.mode), TrstPulse::BeforeEmptyLine, [&](JobContext& context) {
    if (settings.mode == ReadMode::Read) page.appendLog(filePathLogLine("Output", settings.outputPath));
    if (settings.mode == ReadMode::Verify) page.appendLog(filePathLogLine("Image", settings.imagePath));
    NorReadBack job(context, settings);
    job.run();
  });
}

}  // namespace zorv
