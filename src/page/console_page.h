#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "page/job_page.h"
#include "page/progress_line.h"

namespace zorv {

// The page of the command line: log fragments to out (each "\r\n" printed as a line end), message
// boxes to err, and, when err is a terminal, a progress line on err. Ctrl-C, SIGTERM and SIGHUP
// ask the running job to stop (see installStopSignals), and so does an output nobody reads any
// more (a closed terminal, or `| head -1` that has read its line).
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

  // Routes SIGINT, SIGTERM and SIGHUP to this page's stopRequested until the page is destroyed,
  // and watches the process's standard output and error: once a write to them fails, or (at each
  // progress step) their reader is gone, the job is asked to stop.
  void installStopSignals();

  // From the job's outcome, never from its boxes: 0 success, 1 the job failed (or ended without
  // an outcome), 130 stopped by the user.
  int exitStatus() const;

  // Marks that a stop signal arrived (called from the signal path).
  void noteStopSignal() { signalled_.store(true); }

 private:
  void drawProgress();
  void clearProgress();
  // A stop, as from a signal, the first time the output is found gone.
  void checkOutput();

  std::ostream& out_;
  std::ostream& err_;
  bool progressLine_;
  // Set from the signal handler, read by the job and by main: lock-free atomics are safe for both.
  std::atomic<bool> signalled_{false};
  bool watchesConsole_ = false;  // out and err are the process's standard output and error
  bool outputLost_ = false;
  int64_t lastOutputCheck_ = -1;  // the elapsed second of the last look at a reader gone
  bool progressShown_ = false;
  bool progressBelow_ = false;  // drawn on the row below an unfinished log line
  size_t openColumns_ = 0;      // characters of the log's unfinished last line
  ProgressLine line_;
};

}  // namespace zorv
