#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace zorv {

// How a job ended, whatever its boxes said.
enum class JobOutcome { Succeeded, Failed, Stopped };

// What a job may do to the page that started it. Every operation is synchronous: the job goes on
// only when the page has carried it out (on a window, by a blocking request to the UI thread).
class JobPage {
 public:
  virtual ~JobPage() = default;

  virtual void lockPage() = 0;
  // The start button's caption back to its idle caption, then the input controls enabled again.
  virtual void unlockPage() = 0;
  virtual void setStartButton(const std::string& caption, bool enabled) = 0;
  // A fragment, not necessarily a line: line ends are "\r\n" inside the fragments.
  virtual void appendLog(const std::string& text) = 0;
  // Range 0 to 100, position 0.
  virtual void resetProgressBar() = 0;
  virtual void setProgressPosition(int percent) = 0;
  // Shows the texts that formatByteCount and formatElapsed make.
  virtual void showByteCount(int64_t done, int64_t total) = 0;
  virtual void showElapsed(int64_t seconds) = 0;
  // A modal box with the text and an OK button only; returns when the user has closed it.
  virtual void messageBox(const std::string& text) = 0;
  // The box of a job that has done its work: the same, but it tells of a success, not of a
  // failure (a window shows it without a warning sign).
  virtual void successBox(const std::string& text) { messageBox(text); }

  // Whole seconds of the calendar clock, for the job clock.
  virtual int64_t now() const { return static_cast<int64_t>(std::time(nullptr)); }

  // Position, byte counter and clock together; the product is formed in 64 bits so that any image
  // size gives 0..100.
  void showProgress(int64_t done, int64_t total, int64_t startTime) {
    setProgressPosition(total > 0 ? static_cast<int>(done * 100 / total) : 0);
    showByteCount(done, total);
    showElapsed(now() - startTime);
  }

  // Set by each job once, on its common end path; read it after the job has returned. Empty until
  // then: a job that ends without saying how has not succeeded.
  void setOutcome(JobOutcome outcome) { outcome_ = outcome; }
  std::optional<JobOutcome> outcome() const { return outcome_; }

  // Set by the UI thread (or a console signal), read and cleared by the job.
  std::atomic<int> stopRequested{0};

 private:
  std::optional<JobOutcome> outcome_;
};

}  // namespace zorv
