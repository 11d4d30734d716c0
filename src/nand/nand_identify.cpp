#include "nand/nand_identify.h"

#include <cstdint>
#include <string>

#include "chain/chip_identity.h"
#include "page/job_status.h"
#include "text/format.h"

namespace zorv {

NandStart identifyNand(JobPage& page, JtagCable& cable, const ChainDescription& chain, NandTarget& target,
                       NandFlash& flash) {
  if (cable.detectPort() != 0) {
    if (linkCutByStop(cable, page)) return NandStart::NoPort;
    logLinkFailure(cable, page);
    page.messageBox("Cannot get LPT Base.");
    return NandStart::NoPort;
  }
  cable.pulseTrst();
  cable.resetTap();
  char productName[8] = {};
  flash.bind(cable, target, productName);
  const ChipIdentity identity = identifyChip(cable, chain, {productName, true});
  if (!identity.idLine.empty()) page.appendLog(identity.idLine);
  if (!identity.warningLine.empty()) page.appendLog(identity.warningLine);
  if (!identity.identified) {
    if (!identity.causeLine.empty()) page.appendLog(identity.causeLine);
    return NandStart::NoIdCode;
  }
  cable.loadExtest();
  flash.readId(cable, target);
  if (!cable.linkFailure().empty() || flash.lookupSize() != 0) return NandStart::NotSupported;
  uint8_t maker = 0, device = 0;
  char label[sizeof flash.sizeLabel] = {};
  flash.getId(maker, device, label);
  page.appendLog(format("  Maker: 0x%X, Dev: 0x%X (%s)\r\n", maker, device, label));
  return NandStart::Identified;
}

}  // namespace zorv
