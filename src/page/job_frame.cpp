#include "page/job_frame.h"

namespace zorv {

int runJobFrame(JobPage& page, JtagLink& link, const ChainDescription& chain, const std::string& header, TrstPulse pulse,
                const std::function<void(JobContext&)>& body) {
  JobOutcome outcome = JobOutcome::Failed;
  link.watchStopFlag(&page.stopRequested);
  {
    JtagCable cable(link);
    JobStatus status(page, cable);
    // Refused access leaves the port answering as absent, so the job goes on and reports that no
    // port answers.
    if (!cable.grantPortAccess()) {
      status.logLinkFailure();
      page.messageBox("Couldn't access giveio device");
    }
    page.lockPage();
    JobContext context{page, cable, chain, status, page.now()};
    if (!header.empty()) page.appendLog(header);
    body(context);
    outcome = status.outcome();
    // Without a port found there is nobody to hand the pins back to.
    if (pulse == TrstPulse::BeforeEmptyLine && cable.hasPort()) cable.pulseTrst();
    page.appendLog("\r\n");
    if (pulse == TrstPulse::AfterEmptyLine && cable.hasPort()) cable.pulseTrst();
    // A cable that batches its writes must carry the pulse before the next job takes the port.
    cable.collectCaptures();
  }
  // Every job takes the cable at its start and gives it back here, whichever front end ran it.
  link.release();
  link.watchStopFlag(nullptr);
  page.setOutcome(outcome);
  page.unlockPage();
  return 0;
}

}  // namespace zorv
