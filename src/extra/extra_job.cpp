#include "extra/extra_job.h"

#include <memory>
#include <string>

#include "chain/chip_identity.h"
#include "link/jtag_cable.h"
#include "page/job_frame.h"
#include "targets/target_product.h"
#include "targets/toggle_target.h"

namespace zorv {
namespace {

constexpr int kHalfPeriodMs = 100;

// The header of the job the settings ask for; empty when there is none.
const char* headerLine(const ExtraSettings& settings) {
  if (!isKnownProduct(settings.product) && !settings.board) return "";
  if (settings.extraMode == ReadJtagId) return "[READ JTAG ID]\r\n";
  if (settings.extraMode == PinToggling) return "[Toggling All Boundary]\r\n";
  return "";
}

// The chip's JTAG ID line; false, with the job ended, when it does not come back.
bool readId(JobContext& job, PinToggler& toggler, ToggleTarget& target, bool drivesPins) {
  JtagCable& cable = job.cable;
  if (cable.detectPort() != 0) {
    if (job.status.linkCutByStop()) return false;
    job.status.logLinkFailure();
    job.page.messageBox("Cannot get LPT Base.");
    return false;
  }
  cable.pulseTrst();
  cable.resetTap();
  char productName[8];
  toggler.bind(cable, target, productName);
  const ChipIdentity identity = identifyChip(cable, job.chain, {productName, drivesPins});
  // An identification read over a link that failed meanwhile proves nothing, whatever it holds.
  if (!job.status.linkHolds()) {
    job.status.fail("Cannot read JTAG ID");
    return false;
  }
  if (!identity.idLine.empty()) job.page.appendLog(identity.idLine);
  if (!identity.warningLine.empty()) job.page.appendLog(identity.warningLine);
  if (!identity.identified) {
    if (!identity.causeLine.empty()) job.page.appendLog(identity.causeLine);
    job.status.fail("Cannot read JTAG ID");
    return false;
  }
  return true;
}

// Toggles until the page asks to stop or the link fails.
void toggle(JobContext& job, PinToggler& toggler, ToggleTarget& target, const ExtraSettings& settings) {
  JobPage& page = job.page;
  JtagCable& cable = job.cable;

  cable.loadExtest();
  page.setStartButton("STOP", true);
  page.appendLog("  Start toggling ... ");
  const int toggleCs = settings.toggleCs;  // fixed for the whole run
  toggler.prepareOutputs(cable, target);
  // The flag is looked at only before a high phase, so a started cycle always completes and the
  // pins are left in a low phase.
  // A port that batches its writes (a remote cable) must put each phase on the pins before its
  // wait, or the pins would change in bursts instead of every half period.
  while (page.stopRequested.load() == 0) {
    toggler.driveHigh(cable, target);
    cable.collectCaptures();
    toggler.waitMs(kHalfPeriodMs);
    toggler.driveLow(cable, target, toggleCs);
    cable.collectCaptures();
    toggler.waitMs(kHalfPeriodMs);
    if (!job.status.linkHolds() && job.status.failed()) {
      // Toggling has no failure of its own: the cause is the whole message.
      page.appendLog("\r\n");
      job.status.failNow("Cable: " + cable.linkFailure());
      page.setStartButton("STOP", false);
      return;
    }
  }
  job.status.stop("STOP.\r\n");
  page.setStartButton("STOP", false);
}

}  // namespace

int runExtraJob(JobPage& page, JtagLink& link, const ExtraSettings& settings) {
  return runExtraJob(page, link, settings, steadyMilliseconds);
}

int runExtraJob(JobPage& page, JtagLink& link, const ExtraSettings& settings, const TickSource& ticks) {
  return runJobFrame(page, link, settings.chain, headerLine(settings), TrstPulse::AfterEmptyLine, [&](JobContext& job) {
    std::unique_ptr<ToggleTarget> target =
        settings.board ? makeToggleTarget(*settings.board) : makeToggleTarget(settings.product);
    PinToggler toggler(ticks);
    if (!target || headerLine(settings)[0] == '\0' || !readId(job, toggler, *target, settings.extraMode == PinToggling)) return;
    if (settings.extraMode == ReadJtagId) {
      job.status.complete("");
      return;
    }
    toggle(job, toggler, *target, settings);
  });
}

}  // namespace zorv
