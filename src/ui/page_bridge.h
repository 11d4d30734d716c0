#pragma once

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "page/job_page.h"

namespace zorv::ui {

class JobPageWidget;

// What the job thread holds as its page. Every operation is handed to the UI thread, and the job
// waits until the page has carried it out. Once the page is going away (detach), the operations do
// nothing and return at once, so a job never touches a page that is gone and never waits for a UI
// thread that is busy tearing the window down.
class PageBridge : public JobPage {
 public:
  explicit PageBridge(JobPageWidget& page);

  // UI thread, before the page is destroyed.
  void detach();
  bool detached() const;

  // Runs fn on the UI thread later, unless the page has gone by then. Any thread.
  void post(std::function<void()> fn);

  void lockPage() override;
  void unlockPage() override;
  void setStartButton(const std::string& caption, bool enabled) override;
  void appendLog(const std::string& text) override;
  void resetProgressBar() override;
  void setProgressPosition(int percent) override;
  void showByteCount(int64_t done, int64_t total) override;
  void showElapsed(int64_t seconds) override;
  void messageBox(const std::string& text) override;
  void successBox(const std::string& text) override;
  int64_t now() const override { return clock ? clock() : JobPage::now(); }

  // The calendar clock the job reads, when not the system's; set before a job starts.
  std::function<int64_t()> clock;

 private:
  // Runs fn on the UI thread and waits for it (directly when called there).
  void runOnPage(const std::function<void(JobPageWidget&)>& fn);

  JobPageWidget& page_;
  QThread* uiThread_;
  mutable std::mutex mutex_;
  std::condition_variable finished_;
  bool detached_ = false;
};

}  // namespace zorv::ui
