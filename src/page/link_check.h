#pragma once

#include "link/jtag_cable.h"
#include "page/job_page.h"

namespace zorv {

enum class LinkState { Holds, Lost, CutByStop };

// Where the cable's link stands for a job. A link that failed while the user's stop was pending
// counts as cut by the stop: the job then ends as stopped, not as failed.
inline LinkState linkState(const JtagCable& cable, const JobPage& page) {
  if (cable.linkFailure().empty()) return LinkState::Holds;
  return page.stopRequested.load() != 0 ? LinkState::CutByStop : LinkState::Lost;
}

// The one log line naming why the link failed, given once per job.
inline void logLinkFailure(JtagCable& cable, JobPage& page) {
  if (cable.linkFailure().empty() || cable.linkFailureLogged) return;
  cable.linkFailureLogged = true;
  page.appendLog("  Cable: " + cable.linkFailure() + "\r\n");
}

}  // namespace zorv
