#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "page/job_page.h"
#include "page/progress_line.h"

namespace zorv {

// The page of the command line: log fragments to out (each "\r\n" printed as a line end), message
// boxes to err, and, when err is a terminal, a progress line on err. Ctrl-C and SIGTERM ask the
// running job to stop (see installStopSignals).
class ConsolePage : public JobPage {
 public:
  ConsolePage(std::ostream& out, std::ostream& err, bool progressLine);
  ~ConsolePage() override;

  void lockPage() override {}
  void unlockPage() override {}
  void setStartButton(const std::string&, bool) override {}
  void appendLog(const std::string& text) override;
  void resetProgressBar() override;
  void setProgressPosition(int percent) override;
  void showByteCount(int64_t done, int64_t total) override;
  void showElapsed(int64_t seconds) override;
  void messageBox(const std::string& text) override;

  // Routes SIGINT and SIGTERM to this page's stopRequested until the page is destroyed.
  void installStopSignals();

  // The boxes a job shows on success (a download's, a read-back job's); any other box means the job
  // failed.
  static bool isSuccessBox(const std::string& text);
  bool sawFailureBox() const { return failed_; }
  bool stopSignalled() const { return signalled_.load(); }

  // A download succeeds only with its completion box: some failures (a NOR unit that never reads
  // back) are reported in the log alone, and must not end the command with status 0.
  void requireCompletionBox() { completionRequired_ = true; }

  // 0 success, 1 the job failed, 130 stopped by the user.
  int exitStatus() const;

  // Marks that a stop signal arrived (called from the signal path).
  void noteStopSignal() { signalled_.store(true); }

 private:
  void drawProgress();
  void clearProgress();

  std::ostream& out_;
  std::ostream& err_;
  bool progressLine_;
  bool failed_ = false;
  bool completionRequired_ = false;
  bool completed_ = false;
  // Set from the signal handler, read by the job and by main: lock-free atomics are safe for both.
  std::atomic<bool> signalled_{false};
  bool progressShown_ = false;
  bool progressBelow_ = false;  // drawn on the row below an unfinished log line
  size_t openColumns_ = 0;      // characters of the log's unfinished last line
  ProgressLine line_;
};

}  // namespace zorv
