#include "chain/chip_identity.h"

#include "chain/chain_scan.h"
#include "targets/catalogue.h"
#include "text/format.h"

namespace zorv {
namespace {

std::string idMismatchLine(const JtagCable& cable) {
  const uint32_t read = cable.idRead;
  if (read == 0xFFFFFFFFu) return "  Cable: TDO stays high: no chip answers (JTAG ID read 0xFFFFFFFF)\r\n";
  if (read == 0) return "  Cable: TDO stays low: no chip answers (JTAG ID read 0x00000000)\r\n";
  const std::string known = productsAnswering(read);
  return format("  JTAG ID: read 0x%08X%s, expected 0x%08X (mask 0x%08X)\r\n", read,
                known.empty() ? "" : (" (" + known + ")").c_str(), cable.expectedIdCode(), cable.idMask);
}

}  // namespace

ChipIdentity identifyChip(JtagCable& cable, const ChainDescription& chain, const ChipToIdentify& chip) {
  ChipIdentity identity;
  const auto linkLost = [&] { return !cable.linkFailure().empty(); };
  if (chain.given()) {
    const FoundChain found = findChain(cable);
    if (linkLost()) return identity;
    if (!found.cableFault.empty()) {
      identity.causeLine = "  Cable: " + found.cableFault + "\r\n";
      return identity;
    }
    if (const std::string mismatch = chainMismatch(found, chain, cable.instructionLength); !mismatch.empty()) {
      identity.causeLine = "  Chain: " + mismatch + "\r\n";
      return identity;
    }
  }
  cable.padding = chainPadding(chain);
  std::string idLine;
  const uint32_t code = cable.readIdCode(idLine);
  if (linkLost()) return identity;
  if (code == 0) {
    identity.causeLine = idMismatchLine(cable);
    return identity;
  }
  identity.idLine = idLine;
  // Under SAMPLE/PRELOAD where the target names it: the pins stay with the chip's own logic, and
  // the update only preloads the latches. The built-in products name none, so theirs is counted
  // under EXTEST, the least harm left: loading it puts the update latches on the pins at once (as
  // the job's own EXTEST does a moment later); the count itself drives nothing, and a wrong chip's
  // register is updated with what its cells captured, while the right chip's waits for the job's
  // first scan. What that cannot promise: a cell whose capture is not the level it drives (a control
  // cell that captures the core's value, say) takes the captured level; and a register longer than
  // the count leaves nothing to give back, so only nTRST (where the board wires it) spares it an
  // update.
  if (chip.drivesPins && cable.idCodeShared) {
    const int length = cable.sampleInstruction[0] != '\0' ? cable.measureBoundaryLength(cable.sampleInstruction)
                                                           : cable.proveBoundaryLength();
    if (linkLost()) return identity;
    if (length != cable.bsrLength) {
      if (length > 0) {
        identity.causeLine = format("  Boundary register: %d cells, %s has %d\r\n", length, chip.name, cable.bsrLength);
      } else if (length == 0) {
        identity.causeLine = "  Cable: TDO stays high: the boundary register cannot be measured\r\n";
      } else {
        identity.causeLine = format("  Boundary register: no end within %d cells, %s has %d\r\n",
                                    JtagCable::kMaxBoundaryLength, chip.name, cable.bsrLength);
      }
      return identity;
    }
  }
  identity.identified = true;
  if (chip.drivesPins && !cable.designWarning.empty()) identity.warningLine = "  Design warning: " + cable.designWarning + "\r\n";
  return identity;
}

}  // namespace zorv
