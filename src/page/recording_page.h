#pragma once

#include <functional>
#include <string>
#include <vector>

#include "page/job_page.h"

namespace zorv {

// A page for tests: keeps the log text exactly, every message box and every control state.
class RecordingPage : public JobPage {
 public:
  struct Event {
    std::string what;  // "lock", "unlock", "button", "box", "log", "bar", "bytes", "clock", "position"
    std::string text;
    bool enabled = false;
  };

  std::string log;
  std::vector<std::string> boxes;
  std::vector<Event> events;
  std::string buttonCaption = "idle";
  bool buttonEnabled = true;
  bool locked = false;
  int progressPosition = -1;
  std::string byteCount;
  std::string elapsed;
  int64_t clock = 1000;  // the calendar clock the job sees
  // Called at every operation, for tests that act in the middle of a job (press STOP, say).
  std::function<void(RecordingPage&, const Event&)> onEvent;

  void lockPage() override { locked = true; buttonEnabled = false; record({"lock", "", false}); }
  void unlockPage() override { locked = false; buttonCaption = "idle"; buttonEnabled = true; record({"unlock", "", true}); }
  void setStartButton(const std::string& caption, bool enabled) override {
    buttonCaption = caption;
    buttonEnabled = enabled;
    record({"button", caption, enabled});
  }
  void appendLog(const std::string& text) override { log += text; record({"log", text, false}); }
  void resetProgressBar() override { progressPosition = 0; record({"bar", "", false}); }
  void setProgressPosition(int percent) override { progressPosition = percent; record({"position", std::to_string(percent), false}); }
  void showByteCount(int64_t done, int64_t total) override;
  void showElapsed(int64_t seconds) override;
  void messageBox(const std::string& text) override { boxes.push_back(text); record({"box", text, false}); }
  int64_t now() const override { return clock; }

 private:
  void record(const Event& event) {
    events.push_back(event);
    if (onEvent) onEvent(*this, event);
  }
};

}  // namespace zorv
