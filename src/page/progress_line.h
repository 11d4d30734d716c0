#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zorv {

// The terminal's one-line view of a running job: percent, bytes done / total, rate, elapsed time and
// ETA, e.g. "  42%  430 KiB / 1.0 MiB  1.8 KiB/s  elapsed 3:58  ETA 5:29". Erasing, programming
// and verifying run at very different rates, so the rate (and the ETA from it) is measured within
// the current phase only: a phase ends when the byte count starts again from below or the total
// changes.
class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  // At most five redraws a second: a terminal over a slow link must not hold up the job.
  static constexpr Clock::duration kRedrawInterval = std::chrono::milliseconds(200);

  void startPhase();
  void count(int64_t done, int64_t total, Clock::time_point now);
  void setElapsed(int64_t seconds) { elapsed_ = seconds; }
  void setPercent(int percent) { percent_ = percent; }

  // True when enough time has passed since the last drawing; marks the line as drawn at now.
  bool dueForRedraw(Clock::time_point now);
  // The line in at most width characters where it can be: the elapsed time goes first, then the
  // rate, then the byte counts; the percentage and the ETA stay.
  std::string text(size_t width = std::string::npos) const;

 private:
  bool phaseStarted_ = false;  // an anchor is set for this phase
  int64_t anchorDone_ = 0;
  Clock::time_point anchorTime_{};
  int64_t done_ = 0;
  int64_t total_ = 0;
  Clock::time_point lastCount_{};
  int64_t elapsed_ = 0;
  int percent_ = 0;
  bool drawn_ = false;
  Clock::time_point lastDraw_{};
};

// "512 B", "430 KiB", "1.0 MiB": one decimal below ten units, whole units above.
std::string formatBytes(double bytes);
// "3:58", "1:02:05".
std::string formatDuration(int64_t seconds);

}  // namespace zorv
