#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "page/job_page.h"

namespace zorv {

// The one worker thread of a page. A page never runs two jobs at once, and two jobs never drive the
// cable at once, whichever pages or front ends start them: the cable is held process-wide from the
// moment a job is started until its thread body has returned.
class JobSlot {
 public:
  JobSlot() = default;
  JobSlot(const JobSlot&) = delete;
  JobSlot& operator=(const JobSlot&) = delete;
  ~JobSlot();  // joins a job that is still running

  // Runs work on a new thread. Returns the reason when the start is refused (nothing is started).
  std::optional<std::string> start(std::function<void()> work);
  bool busy() const { return running_.load(); }
  // Waits for the job's thread. Must not be called from a thread the job waits on.
  void join();

 private:
  std::atomic<bool> running_{false};
  std::thread thread_;
};

// What a press of the start button (or the Enter key) does, given the button's caption: "STOP"
// only asks the running job to stop; anything else starts the job unless that is refused, and
// clears a stop request left over from an earlier job. A refused start changes nothing; the caller
// shows *refusal in a message box (on the UI thread, so not through the job's blocking requests).
enum class StartOutcome { StopRequested, Started, Refused };
StartOutcome startOrStopJob(JobPage& page, JobSlot& slot, const std::string& caption,
                            std::function<void()> work, std::string* refusal);

inline constexpr const char* kPageBusyText = "A job is already running on this page.";
inline constexpr const char* kCableBusyText = "Another job is using the cable. Start this one when it has ended.";

// Process-wide ownership of the cable.
bool tryAcquireCable();
void releaseCable();

}  // namespace zorv
