#include "extra/extra_job.h"

#include <memory>
#include <string>

#include "link/jtag_cable.h"
#include "page/link_check.h"
#include "targets/toggle_target.h"

namespace zorv {
namespace {

constexpr int kHalfPeriodMs = 100;

// Everything between locking and clean-up; returning is the way to the clean-up.
JobOutcome readOrToggle(JobPage& page, JtagCable& cable, PinToggler& toggler, ToggleTarget* target,
                        const ExtraSettings& settings) {
  if (target == nullptr) return JobOutcome::Failed;
  std::string message;
  if (settings.extraMode == ReadJtagId) {
    message = "[READ JTAG ID]\r\n";
  } else if (settings.extraMode == PinToggling) {
    message = "[Toggling All Boundary]\r\n";
  } else {
    return JobOutcome::Failed;
  }
  page.appendLog(message);

  if (cable.detectPort() != 0) {
    logLinkFailure(cable, page);
    page.messageBox("Cannot get LPT Base.");
    return JobOutcome::Failed;
  }
  cable.pulseTrst();
  cable.resetTap();
  char productName[8];
  toggler.bind(cable, *target, productName);
  // An identification read over a link that failed meanwhile proves nothing, whatever it holds.
  if (cable.readIdCode(message) == 0 || linkState(cable, page) != LinkState::Holds) {
    if (linkState(cable, page) == LinkState::CutByStop) return JobOutcome::Stopped;
    logLinkFailure(cable, page);
    page.messageBox("Cannot read JTAG ID");
    return JobOutcome::Failed;
  }
  page.appendLog(message);
  if (settings.extraMode == ReadJtagId) return JobOutcome::Succeeded;

  cable.loadExtest();
  page.setStartButton("STOP", true);
  page.appendLog("  Start toggling ... ");
  const int toggleCs = settings.toggleCs;  // fixed for the whole run
  toggler.prepareOutputs(cable, *target);
  // The flag is looked at only before a high phase, so a started cycle always completes and the
  // pins are left in a low phase.
  // A port that batches its writes (a remote cable) must put each phase on the pins before its
  // wait, or the pins would change in bursts instead of every half period.
  while (page.stopRequested.load() == 0) {
    toggler.driveHigh(cable, *target);
    cable.collectCaptures();
    toggler.waitMs(kHalfPeriodMs);
    toggler.driveLow(cable, *target, toggleCs);
    cable.collectCaptures();
    toggler.waitMs(kHalfPeriodMs);
    if (linkState(cable, page) == LinkState::Lost) {
      // Toggling has no failure of its own: the cause is the whole message.
      page.appendLog("\r\n");
      logLinkFailure(cable, page);
      page.messageBox("Cable: " + cable.linkFailure());
      page.setStartButton("STOP", false);
      return JobOutcome::Failed;
    }
  }
  page.appendLog("STOP.\r\n");
  page.stopRequested.store(0);
  page.setStartButton("STOP", false);
  return JobOutcome::Stopped;
}

}  // namespace

int runExtraJob(JobPage& page, JtagLink& port, const ExtraSettings& settings) {
  return runExtraJob(page, port, settings, steadyMilliseconds);
}

int runExtraJob(JobPage& page, JtagLink& port, const ExtraSettings& settings, const TickSource& ticks) {
  JtagCable cable(port);
  PinToggler toggler(ticks);
  // Refused access leaves the port answering as absent, so the job goes on and reports that no
  // port answers.
  if (!cable.grantPortAccess()) {
    logLinkFailure(cable, page);
    page.messageBox("Couldn't access giveio device");
  }
  port.watchStopFlag(&page.stopRequested);
  page.lockPage();
  std::unique_ptr<ToggleTarget> target = makeToggleTarget(settings.product);

  const JobOutcome outcome = readOrToggle(page, cable, toggler, target.get(), settings);

  page.appendLog("\r\n");
  // Hands the pins back to the chip.
  if (cable.hasPort()) cable.pulseTrst();
  cable.collectCaptures();
  port.watchStopFlag(nullptr);
  target.reset();
  page.setOutcome(outcome);
  page.unlockPage();
  return 0;
}

}  // namespace zorv
