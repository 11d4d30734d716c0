#pragma once

#include <string>

#include "link/jtag_cable.h"
#include "page/job_page.h"

namespace zorv {

// The one log line naming why the cable's link failed (none while it holds), given once per job.
void logLinkFailure(JtagCable& cable, JobPage& page);
// The cable's link failed while the user's stop was pending: the stop cut its wait short (say, for a
// server's greeting), so there is no missing cable to report.
bool linkCutByStop(JtagCable& cable, const JobPage& page);

// Where a job stands: running until the user's stop cuts it short or a step fails. It is the one
// place that decides how a lost cable link ends a job: a link that failed while the user's stop
// was pending counts as cut by the stop (the job then ends as stopped, not as failed), and the
// cable's cause is logged once per job.
class JobStatus {
 public:
  JobStatus(JobPage& page, JtagCable& cable) : page_(page), cable_(cable) {}

  bool running() const { return state_ == State::Running; }
  bool stopped() const { return state_ == State::Stopped; }
  bool failed() const { return state_ == State::Failed; }

  // After a step on the device: false when the cable's link is gone; the job is then stopped
  // (the user's stop cut a wait short) or failed, with nothing shown yet.
  bool linkHolds();
  // The same, and a lost link fails the job at once: the cable's cause, then failBox (none when
  // null).
  bool linkHoldsElseFail(const char* failBox);
  // The same, and a stop that cut a wait short logs stopLine and clears the stop request.
  bool linkHoldsElseStop(const char* stopLine);

  // True when the user asked to stop; the job is then stopped.
  bool stopSeen();
  // The same, logging line and clearing the stop request.
  bool stopSeen(const char* line);
  // True when the user's stop cut the cable's link (see linkCutByStop); the job is then stopped,
  // with nothing shown.
  bool linkCutByStop() { return zorv::linkCutByStop(cable_, page_) && stopSeen(); }
  // The job is stopped: line logged (none when null) and the stop request cleared.
  void stop(const char* line = nullptr);

  // A step failed: the cable's cause when its link is what failed, then the box (none for an
  // empty text); nothing at all when the user's stop cut a wait short.
  void fail(const std::string& boxText = {});
  // A step failed whatever the stop flag says: the cable's cause, then the box (none when empty).
  void failNow(const std::string& boxText = {});
  // A step failed and has shown what it had to: the job only ends as failed.
  void markFailed() { state_ = State::Failed; }
  // The job's closing box (none for an empty text): the one way it succeeds.
  void complete(const std::string& boxText);

  // Stopped whenever the user's stop cut the job short; succeeded only when it completed.
  JobOutcome outcome() const;

  // The one log line naming why the link failed, given once per job.
  void logLinkFailure() { zorv::logLinkFailure(cable_, page_); }

 private:
  enum class State { Running, Stopped, Failed };

  JobPage& page_;
  JtagCable& cable_;
  State state_ = State::Running;
  bool completed_ = false;
};

}  // namespace zorv
