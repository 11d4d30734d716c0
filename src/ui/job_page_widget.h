#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "board/board_file.h"
#include "chain/chain_description.h"
#include "link/jtag_link.h"
#include "page/job_slot.h"
#include "ui/control_table.h"
#include "ui/page_bridge.h"

namespace zorv::ui {

class MessageBoxHost;

// Which controls of a page play the roles every job relies on (0 where the page has none).
struct PageRoles {
  int startButton;
  const char* idleCaption;
  int log;
  int progressBar;
  int byteCounter;
  int clock;
  int pathBox;
  int openButton;
};

// Asks the user for an image file; an empty result means the user cancelled.
using FileChooser = std::function<QString(QWidget* owner, const QString& filter)>;
QString chooseWithFileDialog(QWidget* owner, const QString& filter);
inline constexpr const char* kImageFileFilter = "Download File(*.bin);;All Files(*)";

// A tab page that starts one kind of job and shows its course: the start button that turns into
// STOP, the log, the progress bar, the byte counter and the clock. The job runs on the page's own
// thread with the process-wide port, and reaches the page only through its PageBridge.
class JobPageWidget : public QWidget {
  Q_OBJECT

 public:
  JobPageWidget(const std::vector<ControlRow>& controls, const PageRoles& roles, JtagLink& port,
                MessageBoxHost& boxes, QWidget* parent);
  ~JobPageWidget() override;

  // Start button or Enter: "STOP" asks the running job to stop, anything else starts a job.
  void startOrStopJob();
  // Open button: lets the user pick the image; a cancelled dialog changes nothing.
  void chooseImageFile();

  // The page operations, on the UI thread (the job reaches them through the bridge).
  virtual void lockPage() = 0;
  virtual void unlockPage() = 0;
  void setStartButton(const QString& caption, bool enabled);
  void appendLog(const QString& text);
  void resetProgressBar();
  void setProgressPosition(int percent);
  void showByteCount(int64_t done, int64_t total);
  void showElapsed(int64_t seconds);
  void showMessageBox(const QString& text, const QString& detail = {});
  // A job's closing box when it has done its work.
  void showSuccessBox(const QString& text);
  // Runs a change of enabled states without letting the keyboard focus leave the page.
  void keepingFocus(const std::function<void()>& change);
  // Gives the focus to the page's first control that Tab can reach.
  void focusFirstControl();

  // The two directions of data exchange between the controls and the page's settings.
  virtual void copyControlsToSettings() = 0;
  virtual void copySettingsToControls() = 0;

  bool jobRunning() const { return slot_.busy(); }
  // Asks the running job to stop, as the STOP button does.
  void requestStop() { bridge_.stopRequested.store(1); }
  int stopRequested() const { return bridge_.stopRequested.load(); }
  PageBridge& jobPage() { return bridge_; }
  // The cable the page's jobs use. It is changed only while no job runs on any page.
  JtagLink& cablePort() const { return *port_; }
  void setPort(JtagLink& port) { port_ = &port; }
  // The devices on the cable around the product, which every job of the page takes (as --chain).
  const ChainDescription& chain() const { return chain_; }
  void setChain(const ChainDescription& chain) { chain_ = chain; }
  // The board file every job of the page takes (as --board); null: none.
  const std::shared_ptr<const BoardFile>& board() const { return board_; }
  void setBoard(std::shared_ptr<const BoardFile> board) { board_ = std::move(board); }
  // The chain a job takes: the board file's where it gives one, else the window's.
  const ChainDescription& jobChain() const { return board_ && board_->chain.given() ? board_->chain : chain_; }
  // The chip a job plays: the board file's, or null for the product as compiled.
  std::shared_ptr<const BoardChip> jobChip() const { return board_ ? board_->chip : nullptr; }
  // The product a job takes: the board file's (none, -1, for a chip known from its BSDL file
  // alone), else the one chosen on the page.
  int jobProduct(int chosen) const;

  // The page's size now is the one its controls were placed for; grown past it, the page gives
  // the room to the controls that take it (its log, its path boxes).
  void rememberLayoutSize() { layoutSize_ = size(); }

  QWidget* control(int id) const { return controls_.widget(id); }
  const ControlSet& controls() const { return controls_; }
  // The log as the job wrote it, with "\r\n" line ends.
  QString logText() const;
  const QString& imagePath() const { return imagePath_; }

  void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

 signals:
  // The job's thread has ended; emitted on the UI thread.
  void jobEnded();
  // Ctrl+Tab (step 1) or Ctrl+Shift+Tab (-1) pressed anywhere in the page.
  void tabSwitchAsked(int step);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

  // The job's body, with the settings copied now, after copyControlsToSettings.
  virtual std::function<void()> makeJob() = 0;
  // Called when a job has been started.
  virtual void jobStarted() {}
  // Why the settings just copied cannot start a job (shown in a box; nothing starts), or empty.
  virtual QString startRefusal() { return {}; }
  // The product the page's radio buttons choose now.
  virtual int chosenProduct() const = 0;
  // Why the board file chosen cannot serve the job the page would start (it lacks the flash, say),
  // or empty; asked only with a board file chosen.
  virtual QString boardRefusal() const { return {}; }
  // After the settings passed startRefusal: false when the user declines the job (nothing starts).
  virtual bool confirmStart() { return true; }
  // A Yes/No question to the user, modal to the window; true for Yes.
  bool askUser(const QString& text);
  // A page with more than one start button names the one that starts (and then stops) the job.
  void setStartButtonId(int id) { roles_.startButton = id; }
  int startButtonId() const { return roles_.startButton; }

  JtagLink& port() { return *port_; }
  PageBridge& bridge() { return bridge_; }
  ControlSet controls_;
  QString imagePath_;

 private:
  // Enter, Escape and Ctrl+Tab are the page's, wherever the focus is in it; target is the widget
  // the key was pressed on.
  bool handleKey(QObject* target, QKeyEvent* event);
  void onJobThreadEnded(uint64_t run);

  PageRoles roles_;
  QSize layoutSize_;
  JtagLink* port_;
  ChainDescription chain_;
  std::shared_ptr<const BoardFile> board_;
  MessageBoxHost& boxes_;
  FileChooser chooseFile_ = chooseWithFileDialog;
  PageBridge bridge_;
  JobSlot slot_;  // after the bridge: joined before the bridge goes
  uint64_t jobsStarted_ = 0;
};

}  // namespace zorv::ui
