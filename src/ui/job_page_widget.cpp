#include "ui/job_page_widget.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>

#include "page/progress_text.h"
#include "targets/catalogue.h"
#include "targets/target_product.h"
#include "ui/dialog_units.h"
#include "ui/message_box_host.h"

namespace zorv::ui {

QString chooseWithFileDialog(QWidget* owner, const QString& filter) {
  QString selected = filter.section(QStringLiteral(";;"), 0, 0);
  return QFileDialog::getOpenFileName(owner, QString(), QString(), filter, &selected);
}

JobPageWidget::JobPageWidget(const std::vector<ControlRow>& controls, const PageRoles& roles, JtagLink& port,
                             MessageBoxHost& boxes, QWidget* parent)
    : QWidget(parent), roles_(roles), port_(&port), boxes_(boxes), bridge_(*this) {
  setFont(pageFont());
  setAttribute(Qt::WA_StyledBackground, true);
  controls_.build(this, controls, DialogUnits(font()));
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
  connect(controls_.pushButton(roles_.startButton), &QPushButton::clicked, this, &JobPageWidget::startOrStopJob);
  if (roles_.openButton)
    connect(controls_.pushButton(roles_.openButton), &QPushButton::clicked, this, &JobPageWidget::chooseImageFile);
}

JobPageWidget::~JobPageWidget() {
  // A job still running goes on without its page: every request it makes now returns at once,
  // and the stop request brings it to its end (where the cable gets its reset pulse).
  bridge_.detach();
  bridge_.stopRequested.store(1);
  slot_.join();
}

void JobPageWidget::startOrStopJob() {
  const QString caption = controls_.pushButton(roles_.startButton)->text();
  std::function<void()> job;
  if (caption != QStringLiteral("STOP")) {
    copyControlsToSettings();
    // A product chosen on the page that is not the board's would run a job on the wrong pins.
    const int chosen = chosenProduct();
    if (board_ && board_->product && isKnownProduct(chosen) && chosen != static_cast<int>(*board_->product)) {
      showMessageBox(QStringLiteral("The board file %1 is built around %2, not %3")
                         .arg(QString::fromStdString(board_->path), QString::fromStdString(board_->chip->name),
                              QString::fromUtf8(chipDescriptor(static_cast<TargetProduct>(chosen)).name)));
      return;
    }
    // A board without what the job drives would give a job that does nothing and says nothing.
    const QString boardMissing = board_ ? boardRefusal() : QString();
    if (!boardMissing.isEmpty()) {
      showMessageBox(boardMissing);
      return;
    }
    const QString settingsRefusal = startRefusal();
    if (!settingsRefusal.isEmpty()) {
      showMessageBox(settingsRefusal);
      return;
    }
    if (!confirmStart()) return;
    job = [this, body = makeJob(), run = jobsStarted_ + 1] {
      body();
      bridge_.post([this, run] { onJobThreadEnded(run); });
    };
  }
  std::string refusal;
  const StartOutcome outcome = zorv::startOrStopJob(bridge_, slot_, caption.toStdString(), std::move(job), &refusal);
  if (outcome == StartOutcome::Started) {
    ++jobsStarted_;
    jobStarted();
  }
  if (outcome == StartOutcome::Refused) showMessageBox(QString::fromStdString(refusal));
}

int JobPageWidget::jobProduct(int chosen) const {
  if (!board_) return chosen;
  return board_->product ? static_cast<int>(*board_->product) : -1;
}

bool JobPageWidget::askUser(const QString& text) { return boxes_.ask(text); }

void JobPageWidget::onJobThreadEnded(uint64_t run) {
  // When no later job has been started since, the slot's thread is this job's, and its body has
  // returned: only the slot's own bookkeeping is left, so the join is short and safe. A later
  // job has already collected this one's thread and must not be joined from here.
  if (run == jobsStarted_) slot_.join();
  emit jobEnded();
}

void JobPageWidget::chooseImageFile() {
  copyControlsToSettings();
  const QString chosen = chooseFile_(window(), QString::fromUtf8(kImageFileFilter));
  if (chosen.isEmpty()) return;
  imagePath_ = QDir::toNativeSeparators(chosen);
  copySettingsToControls();
}

void JobPageWidget::setStartButton(const QString& caption, bool enabled) {
  QPushButton* button = controls_.pushButton(roles_.startButton);
  button->setText(caption);
  button->setEnabled(enabled);
}

void JobPageWidget::appendLog(const QString& text) {
  // Lines end in "\r\n" in the job's text; the box keeps plain line breaks.
  QString plain = text;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QPlainTextEdit* log = controls_.log(roles_.log);
  QTextCursor cursor(log->document());
  cursor.movePosition(QTextCursor::End);
  log->setTextCursor(cursor);
  log->ensureCursorVisible();
  cursor.insertText(plain);
  log->setTextCursor(cursor);
  log->ensureCursorVisible();
}

QString JobPageWidget::logText() const {
  QString text = controls_.log(roles_.log)->toPlainText();
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return text;
}

void JobPageWidget::resetProgressBar() {
  if (!roles_.progressBar) return;
  QProgressBar* bar = controls_.progressBar(roles_.progressBar);
  bar->setRange(0, 100);
  bar->setValue(0);
}

void JobPageWidget::setProgressPosition(int percent) {
  if (roles_.progressBar) controls_.progressBar(roles_.progressBar)->setValue(percent);
}

void JobPageWidget::showByteCount(int64_t done, int64_t total) {
  if (roles_.byteCounter)
    controls_.label(roles_.byteCounter)->setText(QString::fromStdString(formatByteCount(done, total)));
}

void JobPageWidget::showElapsed(int64_t seconds) {
  if (roles_.clock) controls_.label(roles_.clock)->setText(QString::fromStdString(formatElapsed(seconds)));
}

void JobPageWidget::showMessageBox(const QString& text, const QString& detail) { boxes_.show(text, detail); }

void JobPageWidget::showSuccessBox(const QString& text) { boxes_.show(text, {}, MessageBoxHost::Success); }

void JobPageWidget::keepingFocus(const std::function<void()>& change) {
  // Disabling the focused control passes the focus on down the chain, out of the page onto the
  // tab strip, where Enter no longer reaches the page (and so could not stop the job). The page
  // holds the focus itself while its start button is disabled, and gives it to the button when
  // the button can take it.
  const auto inPage = [this](QWidget* w) { return w && (w == this || isAncestorOf(w)); };
  const bool hadFocus = inPage(window()->focusWidget());
  change();
  if (!hadFocus) return;
  QWidget* focus = window()->focusWidget();
  if (focus != this && inPage(focus) && focus->isEnabled()) return;
  QPushButton* start = controls_.pushButton(roles_.startButton);
  if (start->isEnabled())
    start->setFocus(Qt::OtherFocusReason);
  else
    setFocus(Qt::OtherFocusReason);
}

void JobPageWidget::focusFirstControl() {
  for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
    if (isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(this)) {
      w->setFocus(Qt::TabFocusReason);
      return;
    }
  }
  setFocus(Qt::OtherFocusReason);
}

bool JobPageWidget::handleKey(QObject* target, QKeyEvent* event) {
  if (event->modifiers().testFlag(Qt::ControlModifier) &&
      (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)) {
    emit tabSwitchAsked(event->key() == Qt::Key_Tab ? 1 : -1);
    return true;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      // Enter is the start button's from anywhere but another button: a push button does its
      // own work, and a check box or a radio button is no place to start a job from (Space
      // changes it).
      auto* button = qobject_cast<QAbstractButton*>(target);
      if (button == nullptr || button == controls_.pushButton(roles_.startButton)) {
        startOrStopJob();
      } else if (qobject_cast<QPushButton*>(button) != nullptr && button->isEnabled()) {
        button->click();
      }
      return true;
    }
    default:
      return false;
  }
}

bool JobPageWidget::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) return handleKey(watched, static_cast<QKeyEvent*>(event));
  // Enter and Escape must reach the page as key presses, never be taken as shortcuts on the way.
  if (event->type() == QEvent::ShortcutOverride) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) {
      event->accept();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void JobPageWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (layoutSize_.isValid()) controls_.grow((size() - layoutSize_).expandedTo(QSize(0, 0)));
}

void JobPageWidget::keyPressEvent(QKeyEvent* event) {
  if (handleKey(this, event)) return;
  QWidget::keyPressEvent(event);
}

}  // namespace zorv::ui
