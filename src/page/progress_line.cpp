#include "page/progress_line.h"

#include <cmath>
#include <cstdio>

namespace zorv {

void ProgressLine::startPhase() {
  phaseStarted_ = false;
  done_ = 0;
  percent_ = 0;
}

void ProgressLine::count(int64_t done, int64_t total, Clock::time_point now) {
  if (done < done_ || total != total_) phaseStarted_ = false;
  done_ = done;
  total_ = total;
  lastCount_ = now;
  // The first count of a phase with bytes done anchors the rate: what came before it (an erase
  // before the first programmed page) belongs to another phase.
  if (!phaseStarted_ && done > 0) {
    phaseStarted_ = true;
    anchorDone_ = done;
    anchorTime_ = now;
  }
}

bool ProgressLine::dueForRedraw(Clock::time_point now) {
  if (drawn_ && now - lastDraw_ < kRedrawInterval) return false;
  drawn_ = true;
  lastDraw_ = now;
  return true;
}

std::string ProgressLine::text() const {
  std::string line = "  " + std::to_string(percent_) + "%  " + formatBytes(static_cast<double>(done_)) + " / " +
                     formatBytes(static_cast<double>(total_));
  const double seconds = std::chrono::duration<double>(lastCount_ - anchorTime_).count();
  const double rate = phaseStarted_ && seconds > 0 ? static_cast<double>(done_ - anchorDone_) / seconds : 0;
  if (rate > 0) line += "  " + formatBytes(rate) + "/s";
  line += "  elapsed " + formatDuration(elapsed_);
  if (rate > 0 && total_ >= done_) {
    line += "  ETA " + formatDuration(std::llround(static_cast<double>(total_ - done_) / rate));
  }
  return line;
}

std::string formatBytes(double bytes) {
  const char* unit = "B";
  if (bytes >= 1024.0 * 1024.0) {
    bytes /= 1024.0 * 1024.0;
    unit = "MiB";
  } else if (bytes >= 1024.0) {
    bytes /= 1024.0;
    unit = "KiB";
  } else {
    char whole[48];
    std::snprintf(whole, sizeof whole, "%.0f B", bytes);
    return whole;
  }
  char text[48];
  std::snprintf(text, sizeof text, bytes < 9.95 ? "%.1f %s" : "%.0f %s", bytes, unit);
  return text;
}

std::string formatDuration(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  char text[48];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

}  // namespace zorv
