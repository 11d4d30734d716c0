#include "page/console_page.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <ostream>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace zorv {
namespace {

// Read from the signal handler, so it must be a lock-free atomic.
std::atomic<ConsolePage*> signalledPage{nullptr};
static_assert(std::atomic<ConsolePage*>::is_always_lock_free);

extern "C" void onStopSignal(int) {
  if (ConsolePage* page = signalledPage.load()) {
    page->stopRequested.store(1);
    page->noteStopSignal();
  }
}

// The width of the terminal the progress line goes to, asked at each drawing since the window may
// have been resized; 0 when unknown.
size_t terminalColumns() {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
#endif
}

// Whether the reader of a standard stream has gone: a pipe whose reader closed it, a terminal that
// hung up. Files and terminals in use say nothing of the kind.
bool readerGone(int fd) {
#ifdef _WIN32
  (void)fd;
  return false;  // Windows says so only when a write fails
#else
  pollfd entry{fd, 0, 0};
  return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLERR | POLLHUP)) != 0;
#endif
}

#ifdef _WIN32
// Windows has no SIGTERM: Ctrl-C, Ctrl-Break and closing the console window come here, on a
// thread of their own.
BOOL WINAPI onConsoleEvent(DWORD event) {
  ConsolePage* page = signalledPage.load();
  if (page == nullptr) return FALSE;
  page->stopRequested.store(1);
  page->noteStopSignal();
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The process ends as soon as this returns: the job gets a few seconds to stop cleanly (the
    // system allows five) so a partial file is removed rather than left behind.
    for (int i = 0; i < 40 && signalledPage.load() == page; ++i) Sleep(100);
  }
  return TRUE;
}
#endif

}  // namespace

ConsolePage::ConsolePage(std::ostream& out, std::ostream& err, bool progressLine)
    : out_(out), err_(err), progressLine_(progressLine) {}

ConsolePage::~ConsolePage() {
  clearProgress();
  if (signalledPage.load() == this) {
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGHUP, SIG_DFL);
    // SIGPIPE stays ignored: a write after the job (the standard output's last flush at exit) to a
    // reader that went away must not end the process with a signal instead of its status.
#endif
    signalledPage.store(nullptr);
  }
}

void ConsolePage::installStopSignals() {
  signalledPage.store(this);
  watchesConsole_ = true;
#ifdef _WIN32
  (void)onStopSignal;
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  std::signal(SIGHUP, onStopSignal);
  // A write to a pipe nobody reads fails instead of ending the process: checkOutput stops the job.
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

void ConsolePage::checkOutput() {
  if (outputLost_ || (out_.good() && err_.good())) return;
  outputLost_ = true;
  stopRequested.store(1);
  noteStopSignal();
}

void ConsolePage::appendLog(const std::string& text) {
  clearProgress();
  std::string plain;
  plain.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  const size_t lineEnd = plain.rfind('\n');
  openColumns_ = lineEnd == std::string::npos ? openColumns_ + plain.size() : plain.size() - lineEnd - 1;
  out_ << plain << std::flush;
  checkOutput();
}

void ConsolePage::resetProgressBar() { line_.startPhase(); }

void ConsolePage::setProgressPosition(int percent) { line_.setPercent(percent); }

void ConsolePage::showByteCount(int64_t done, int64_t total) { line_.count(done, total, ProgressLine::Clock::now()); }

// A job's refresh ends with the clock, so the line is drawn once per refresh, with every part new.
void ConsolePage::showElapsed(int64_t seconds) {
  line_.setElapsed(seconds);
  drawProgress();
  // A job may write nothing for minutes: its progress steps look, once a second, whether anybody
  // still reads what it will say.
  if (watchesConsole_ && !outputLost_ && seconds != lastOutputCheck_) {
    lastOutputCheck_ = seconds;
    if (readerGone(1) || readerGone(2)) out_.setstate(std::ios::badbit);
  }
  checkOutput();
}

void ConsolePage::messageBox(const std::string& text) {
  clearProgress();
  err_ << text << "\n" << std::flush;
  checkOutput();
}

int ConsolePage::exitStatus() const {
  if (outcome() == JobOutcome::Failed) return 1;
  // A stop signal that came too late to stop the job still ends the command as stopped.
  if (signalled_ || outcome() == JobOutcome::Stopped) return 130;
  return outcome() == JobOutcome::Succeeded ? 0 : 1;
}

void ConsolePage::drawProgress() {
  if (!progressLine_ || !line_.dueForRedraw(ProgressLine::Clock::now())) return;
  // A log line still being built ("  Programming to 0x0 ... ") keeps its row: the progress line
  // goes on the row below, and the cursor returns to the log line's end when it is erased.
  if (!progressShown_) {
    progressBelow_ = openColumns_ > 0;
    if (progressBelow_) err_ << "\n";
  }
  // A line that wrapped would leave its first row behind at every redraw: it is cut short of the
  // last column, where some terminals wrap already.
  const size_t columns = terminalColumns();
  std::string text = line_.text(columns > 1 ? columns - 1 : std::string::npos);
  if (columns > 1 && text.size() >= columns) text.resize(columns - 1);
  err_ << "\r\033[K" << text << std::flush;
  progressShown_ = true;
}

void ConsolePage::clearProgress() {
  if (!progressShown_) return;
  err_ << "\r\033[K";
  if (progressBelow_) err_ << "\033[A\033[" << openColumns_ << "C";
  err_ << std::flush;
  progressShown_ = false;
}

}  // namespace zorv
