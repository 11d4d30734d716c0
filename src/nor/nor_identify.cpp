#include "nor/nor_identify.h"

#include <string>

#include "chain/chip_identity.h"
#include "nor/flash_types.h"
#include "targets/catalogue.h"
#include "text/format.h"

namespace zorv {
namespace {

std::string typeName(int index) { return std::string(flashTypeLogName(index)); }

// Up to the chip's JTAG ID line.
bool findChip(JobContext& job, NorTarget& target, NorFlash& flash, const NorBusChoice& bus) {
  const NorAbilities& abilities = norAbilitiesOf(bus.product, bus.board);
  if (job.cable.detectPort() != 0) {
    if (job.status.linkCutByStop()) return false;
    job.status.logLinkFailure();
    job.page.messageBox("Cannot find LPT PORT");
    return false;
  }
  job.cable.pulseTrst();
  job.cable.resetTap();
  if (!abilities.findsByDeviceCode) {
    flash.deviceIndex = bus.flashType;
    job.page.appendLog(format("  Type: %s, Interleave: %d, Width: %d\r\n", typeName(flash.deviceIndex).c_str(),
                              bus.interleave, bus.width));
  }
  if (bus.base > UINT32_MAX) {
    job.page.messageBox(format("Base address 0x%llX does not fit in 32 bits", static_cast<unsigned long long>(bus.base)));
    return false;
  }
  flash.base = abilities.fixedBus ? 0 : static_cast<uint32_t>(bus.base);
  flash.chooseChipSelect(flash.base, target);
  char productName[8] = {};
  flash.bindTarget(job.cable, target, productName);
  if (flash.csCell < 0) {
    job.page.messageBox(format("No chip select serves the base address 0x%08X", flash.base));
    return false;
  }
  job.page.resetProgressBar();
  const ChipIdentity identity =
      identifyChip(job.cable, job.chain, {productName, !abilities.throughDebugPath});
  if (!identity.idLine.empty()) job.page.appendLog(identity.idLine);
  if (!identity.warningLine.empty()) job.page.appendLog(identity.warningLine);
  if (!identity.identified) {
    if (!identity.causeLine.empty()) job.page.appendLog(identity.causeLine);
    const std::string text = format("Cannot read %s JTAG ID", productName);
    if (job.status.linkHoldsElseFail(text.c_str())) job.page.messageBox(text);
    return false;
  }
  return true;
}

// From the bus setting to the flash's geometry.
bool findFlash(JobContext& job, NorTarget& target, NorFlash& flash, const NorBusChoice& bus,
               const NorIdentifySteps& steps, bool& commandSetLoaded) {
  const NorAbilities& abilities = norAbilitiesOf(bus.product, bus.board);
  if (abilities.fixedBus) {
    flash.applyFixedSetting(bus.width, bus.interleave);
  } else if (flash.applySetting(bus.width, bus.interleave) != 0) {
    job.page.messageBox("Cannot support for your flash setting.");
    return false;
  }
  if (abilities.throughDebugPath) {
    job.cable.loadDebug();
  } else {
    job.cable.loadExtest();
  }
  commandSetLoaded = true;
  const int refusal = flash.readIds(job.cable, target);
  if (!job.status.linkHoldsElseFail(refusal == BusReady ? "Unknown FLASH ID" : busRefusalText(refusal))) return false;
  if (refusal != BusReady) {
    job.page.messageBox(busRefusalText(refusal));
    return false;
  }
  if (abilities.findsByDeviceCode) flash.recogniseDeviceByCode();
  job.page.appendLog(format("  Maker: 0x%04X, Device: 0x%04X (%s)\r\n", flash.makerId, flash.deviceId,
                            typeName(flash.deviceIndex).c_str()));
  if (const std::string lines = target.preparedLines(); !lines.empty()) job.page.appendLog(lines);
  if (flash.checkId(flash.deviceIndex) != 0) {
    if (steps.unknownDevice) return steps.unknownDevice();
    job.page.messageBox("Unknown FLASH ID");
    return false;
  }
  const int geometry = flash.loadGeometry(job.cable, target);
  if (!job.status.linkHoldsElseFail("Cannot get flash Qeury INFO.")) return false;
  if (geometry != 0) {
    job.page.messageBox("Cannot get flash Qeury INFO.");
    return false;
  }
  return true;
}

}  // namespace

bool identifyNor(JobContext& job, NorTarget& target, NorFlash& flash, const NorBusChoice& bus,
                 const NorIdentifySteps& steps, bool& commandSetLoaded) {
  commandSetLoaded = false;
  if (!findChip(job, target, flash, bus)) return false;
  if (steps.beforeBus && !steps.beforeBus()) return false;
  return findFlash(job, target, flash, bus, steps, commandSetLoaded);
}

const char* busRefusalText(int refusal) {
  switch (refusal) {
    case DebugModeRefused: return "Cannot run debug mode on VESKAR";
    case FlashConfigRefused: return "Cannot set flash config register of VESKAR";
    default: return "";
  }
}

}  // namespace zorv
