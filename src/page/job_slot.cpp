#include "page/job_slot.h"

namespace zorv {
namespace {
std::atomic<bool> cableHeld{false};
}  // namespace

bool tryAcquireCable() {
  bool expected = false;
  return cableHeld.compare_exchange_strong(expected, true);
}

void releaseCable() { cableHeld.store(false); }

JobSlot::~JobSlot() { join(); }

void JobSlot::join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

std::optional<std::string> JobSlot::start(std::function<void()> work) {
  if (running_.load()) return std::string(kPageBusyText);
  if (!tryAcquireCable()) return std::string(kCableBusyText);
  join();  // the previous job's thread has finished its body; collect it
  running_.store(true);
  try {
    thread_ = std::thread([this, work = std::move(work)] {
      work();
      releaseCable();
      running_.store(false);
    });
  } catch (...) {
    // No thread, no job: the cable and the page must not stay held by it.
    running_.store(false);
    releaseCable();
    throw;
  }
  return std::nullopt;
}

StartOutcome startOrStopJob(JobPage& page, JobSlot& slot, const std::string& caption, std::function<void()> work,
                            std::string* refusal) {
  if (caption == "STOP") {
    page.stopRequested.store(1);
    return StartOutcome::StopRequested;
  }
  // Refuse a busy page before touching its flag: its own job may be the one clearing it.
  if (slot.busy()) {
    if (refusal) *refusal = kPageBusyText;
    return StartOutcome::Refused;
  }
  const int pendingStop = page.stopRequested.exchange(0);
  if (auto reason = slot.start(std::move(work))) {
    page.stopRequested.store(pendingStop);
    if (refusal) *refusal = *reason;
    return StartOutcome::Refused;
  }
  return StartOutcome::Started;
}

}  // namespace zorv
