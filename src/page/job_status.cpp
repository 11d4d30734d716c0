#include "page/job_status.h"

namespace zorv {

bool JobStatus::linkHolds() {
  if (cable_.linkFailure().empty()) return true;
  state_ = page_.stopRequested.load() != 0 ? State::Stopped : State::Failed;
  return false;
}

bool JobStatus::linkHoldsElseFail(const char* failBox) {
  if (linkHolds()) return true;
  if (failed()) failNow(failBox == nullptr ? std::string() : std::string(failBox));
  return false;
}

bool JobStatus::linkHoldsElseStop(const char* stopLine) {
  if (linkHolds()) return true;
  if (stopped()) stop(stopLine);
  return false;
}

bool JobStatus::stopSeen() {
  if (page_.stopRequested.load() == 0) return false;
  state_ = State::Stopped;
  return true;
}

bool JobStatus::stopSeen(const char* line) {
  if (!stopSeen()) return false;
  stop(line);
  return true;
}

void JobStatus::stop(const char* line) {
  state_ = State::Stopped;
  page_.stopRequested.store(0);
  if (line != nullptr) page_.appendLog(line);
}

void JobStatus::fail(const std::string& boxText) {
  if (!linkHolds() && stopped()) return;
  failNow(boxText);
}

void JobStatus::failNow(const std::string& boxText) {
  state_ = State::Failed;
  logLinkFailure();
  if (!boxText.empty()) page_.messageBox(boxText);
}

void JobStatus::complete(const std::string& boxText) {
  completed_ = true;
  if (!boxText.empty()) page_.successBox(boxText);
}

JobOutcome JobStatus::outcome() const {
  if (stopped()) return JobOutcome::Stopped;
  return completed_ && running() ? JobOutcome::Succeeded : JobOutcome::Failed;
}

bool linkCutByStop(JtagCable& cable, const JobPage& page) {
  return !cable.linkFailure().empty() && page.stopRequested.load() != 0;
}

void logLinkFailure(JtagCable& cable, JobPage& page) {
  if (cable.linkFailure().empty() || cable.linkFailureLogged) return;
  cable.linkFailureLogged = true;
  page.appendLog("  Cable: " + cable.linkFailure() + "\r\n");
}

}  // namespace zorv
