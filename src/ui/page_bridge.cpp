#include "ui/page_bridge.h"

#include <QMetaObject>
#include <memory>

#include "cable/direct_io_port.h"
#include "link/parallel_port_link.h"
#include "ui/connection_bar.h"
#include "ui/job_page_widget.h"

namespace zorv::ui {

PageBridge::PageBridge(JobPageWidget& page) : page_(page), uiThread_(page.thread()) {}

void PageBridge::detach() {
  {
    std::lock_guard lock(mutex_);
    detached_ = true;
  }
  finished_.notify_all();
}

bool PageBridge::detached() const {
  std::lock_guard lock(mutex_);
  return detached_;
}

void PageBridge::post(std::function<void()> fn) {
  // Posting under the lock: detach() cannot complete, so the page cannot be destroyed, while the
  // request is being queued for it.
  std::lock_guard lock(mutex_);
  if (detached_) return;
  QMetaObject::invokeMethod(
      &page_,
      [this, fn = std::move(fn)] {
        if (!detached()) fn();
      },
      Qt::QueuedConnection);
}

void PageBridge::runOnPage(const std::function<void(JobPageWidget&)>& fn) {
  if (QThread::currentThread() == uiThread_) {
    if (!detached()) fn(page_);
    return;
  }
  auto done = std::make_shared<bool>(false);
  std::unique_lock lock(mutex_);
  if (detached_) return;
  QMetaObject::invokeMethod(
      &page_,
      [this, done, &fn] {
        if (!detached()) fn(page_);
        {
          std::lock_guard inner(mutex_);
          *done = true;
        }
        finished_.notify_all();
      },
      Qt::QueuedConnection);
  finished_.wait(lock, [&] { return *done || detached_; });
}

void PageBridge::lockPage() {
  runOnPage([](JobPageWidget& p) { p.keepingFocus([&] { p.lockPage(); }); });
}
void PageBridge::unlockPage() {
  runOnPage([](JobPageWidget& p) { p.keepingFocus([&] { p.unlockPage(); }); });
}
void PageBridge::setStartButton(const std::string& caption, bool enabled) {
  runOnPage([&](JobPageWidget& p) {
    p.keepingFocus([&] { p.setStartButton(QString::fromStdString(caption), enabled); });
  });
}
void PageBridge::appendLog(const std::string& text) {
  runOnPage([&](JobPageWidget& p) { p.appendLog(QString::fromStdString(text)); });
}
void PageBridge::resetProgressBar() {
  runOnPage([](JobPageWidget& p) { p.resetProgressBar(); });
}
void PageBridge::setProgressPosition(int percent) {
  runOnPage([=](JobPageWidget& p) { p.setProgressPosition(percent); });
}
void PageBridge::showByteCount(int64_t done, int64_t total) {
  runOnPage([=](JobPageWidget& p) { p.showByteCount(done, total); });
}
void PageBridge::showElapsed(int64_t seconds) {
  runOnPage([=](JobPageWidget& p) { p.showElapsed(seconds); });
}
namespace {

// Why the port is absent when the kernel refused the lpt rights to the calling job thread, and the
// way out in the window itself: the job's own box names a Windows driver, and a window started
// from the desktop has nobody reading standard error, where the cable itself tells it.
QString lptRefusalHint(const JtagLink& link) {
  const auto* parallel = dynamic_cast<const ParallelPortLink*>(&link);
  const auto* lpt = parallel == nullptr ? nullptr : dynamic_cast<const DirectIoPort*>(&parallel->port());
  if (lpt == nullptr || lpt->granted()) return {};
  return QStringLiteral("lpt: no I/O port rights (they need root or CAP_SYS_RAWIO). A member of group lp can "
                        "choose the ppdev cable instead: %1 beside Cable at the bottom of the window.")
      .arg(QString::fromUtf8(kChangeCableButton));
}

}  // namespace

void PageBridge::messageBox(const std::string& text) {
  // Asked here, on the job's thread: the rights are granted per thread.
  const QString hint = lptRefusalHint(page_.cablePort());
  runOnPage([&](JobPageWidget& p) { p.showMessageBox(QString::fromStdString(text), hint); });
}

void PageBridge::successBox(const std::string& text) {
  runOnPage([&](JobPageWidget& p) { p.showSuccessBox(QString::fromStdString(text)); });
}

}  // namespace zorv::ui
