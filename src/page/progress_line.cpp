#include "page/progress_line.h"

#include <cmath>

#include "text/format.h"

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

std::string ProgressLine::text(size_t width) const {
  const std::string percent = "  " + std::to_string(percent_) + "%";
  const std::string bytes =
      "  " + formatBytes(static_cast<double>(done_)) + " / " + formatBytes(static_cast<double>(total_));
  const double seconds = std::chrono::duration<double>(lastCount_ - anchorTime_).count();
  const double rate = phaseStarted_ && seconds > 0 ? static_cast<double>(done_ - anchorDone_) / seconds : 0;
  const std::string speed = rate > 0 ? "  " + formatBytes(rate) + "/s" : "";
  const std::string elapsed = "  elapsed " + formatDuration(elapsed_);
  const std::string eta =
      rate > 0 && total_ >= done_ ? "  ETA " + formatDuration(std::llround(static_cast<double>(total_ - done_) / rate)) : "";
  // The fields from the most useful on; each line drops one more of the least useful.
  const std::string lines[] = {percent + bytes + speed + elapsed + eta, percent + bytes + speed + eta,
                               percent + bytes + eta};
  for (const std::string& line : lines) {
    if (line.size() <= width) return line;
  }
  return percent + eta;
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
    return format("%.0f B", bytes);
  }
  return bytes < 9.95 ? format("%.1f %s", bytes, unit) : format("%.0f %s", bytes, unit);
}

std::string formatDuration(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  if (seconds >= 3600) {
    return format("%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  }
  return format("%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

}  // namespace zorv
