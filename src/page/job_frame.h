#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "chain/chain_description.h"
#include "link/jtag_cable.h"
#include "link/jtag_link.h"
#include "page/job_page.h"
#include "page/job_status.h"

namespace zorv {

// Where a job's closing nTRST pulse stands against its closing empty log line.
enum class TrstPulse { AfterEmptyLine, BeforeEmptyLine };

// What a job's body gets from its frame.
struct JobContext {
  JobPage& page;
  JtagCable& cable;
  const ChainDescription& chain;  // the devices on the cable around the target
  JobStatus& status;
  int64_t startTime;  // the job clock's start, whole seconds
};

// What every job body keeps of its frame, and the two page operations it uses most.
class JobBody {
 protected:
  explicit JobBody(JobContext& context)
      : job_(context), page_(context.page), cable_(context.cable), status_(context.status),
        startTime_(context.startTime) {}

  void log(const std::string& text) { page_.appendLog(text); }
  void box(const std::string& text) { page_.messageBox(text); }

  JobContext& job_;
  JobPage& page_;
  JtagCable& cable_;
  JobStatus& status_;
  const int64_t startTime_;
};

// The frame every job shares, on the link the job was given: the access grant (its refusal box,
// after which the job goes on and finds no cable), the stop-flag watch, the page lock, the job
// clock and the header line (none when empty); then the body; then the empty line and the nTRST
// pulse that hands the pins back to the chip (only when a cable was found), the cable given back
// (JtagLink::release), the outcome and the unlock. Returns 0, as a thread body does.
int runJobFrame(JobPage& page, JtagLink& link, const ChainDescription& chain, const std::string& header, TrstPulse pulse,
                const std::function<void(JobContext&)>& body);

}  // namespace zorv
