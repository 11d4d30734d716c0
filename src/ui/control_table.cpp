#include "ui/control_table.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <stdexcept>

#include "ui/dialog_units.h"
#include "ui/path_box.h"

namespace zorv::ui {

QString controlName(int id) { return QString::number(id); }

QRect grownRect(const QRect& laidOut, QSize gained, unsigned growth) {
  QRect rect = laidOut;
  if (growth & MovesRight) rect.translate(gained.width(), 0);
  if (growth & MovesDown) rect.translate(0, gained.height());
  if (growth & GrowsWide) rect.setWidth(rect.width() + gained.width());
  if (growth & GrowsTall) rect.setHeight(rect.height() + gained.height());
  return rect;
}

namespace {

QPlainTextEdit* makeLog(QWidget* page, bool wrap) {
  auto* log = new QPlainTextEdit(page);
  log->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The job appends; undoing would take the job's lines back out of the record.
  log->setUndoRedoEnabled(false);
  // The record of what the jobs did: it can be selected and copied, never edited, and Tab goes on
  // to the next control instead of typing into it.
  log->setReadOnly(true);
  log->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  log->setTabChangesFocus(true);
  return log;
}

QComboBox* makeCombo(QWidget* page) {
  auto* combo = new QComboBox(page);
  combo->setEditable(true);
  // Only the index of the chosen entry counts; typed text must not grow the list.
  combo->setInsertPolicy(QComboBox::NoInsert);
  return combo;
}

}  // namespace

void ControlSet::build(QWidget* page, const std::vector<ControlRow>& rows, const DialogUnits& units) {
  QButtonGroup* group = nullptr;
  std::vector<QWidget*> frames;
  for (const ControlRow& row : rows) {
    const QString text = QString::fromUtf8(row.text);
    QRect rect = units.rect(row.x, row.y, row.width, row.height);
    QWidget* widget = nullptr;
    switch (row.kind) {
      case ControlKind::GroupBox: {
        auto* box = new QGroupBox(text, page);
        frames.push_back(box);
        widget = box;
        break;
      }
      case ControlKind::RadioGroupStart:
        group = new QButtonGroup(page);
        group->setExclusive(true);
        groups_[row.id] = group;
        keepOneTabStop(group);
        [[fallthrough]];
      case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(text, page);
        // Tab reaches a group once, at its first button until one is checked; the arrow keys
        // move within it.
        radio->setFocusPolicy(row.kind == ControlKind::RadioGroupStart ? Qt::StrongFocus : Qt::ClickFocus);
        if (!group) throw std::logic_error("radio button outside a group");
        group->addButton(radio, static_cast<int>(group->buttons().size()));
        widget = radio;
        break;
      }
      case ControlKind::Label:
      case ControlKind::LabelRight: {
        auto* label = new QLabel(text, page);
        label->setAlignment((row.kind == ControlKind::LabelRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlKind::LineEdit:
        widget = new QLineEdit(text, page);
        break;
      case ControlKind::PathBox:
        widget = new PathBox(page);
        break;
      case ControlKind::LogNoWrap:
      case ControlKind::LogWrap:
        widget = makeLog(page, row.kind == ControlKind::LogWrap);
        break;
      case ControlKind::PushButton:
        widget = new QPushButton(text, page);
        static_cast<QPushButton*>(widget)->setAutoDefault(false);
        break;
      case ControlKind::CheckBox:
        widget = new QCheckBox(text, page);
        break;
      case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(page);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
      case ControlKind::ComboBox: {
        auto* combo = makeCombo(page);
        // The list's height is the dropped-down height; the closed box is as tall as its font needs.
        rect.setHeight(combo->sizeHint().height());
        widget = combo;
        break;
      }
    }
    if (row.kind != ControlKind::RadioButton && row.kind != ControlKind::RadioGroupStart) group = nullptr;
    widget->setGeometry(rect);
    if (row.id != 0) {
      widget->setObjectName(controlName(row.id));
      byId_[row.id] = widget;
      laidOut_[row.id] = rect;
    }
  }
  // Frames are drawn first so that they never catch the clicks meant for the controls inside.
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) (*it)->lower();
}

void ControlSet::keepOneTabStop(QButtonGroup* group) {
  // The checked button is the group's one stop for Tab, as the toolkit itself does once a button
  // of the group has had the focus.
  QObject::connect(group, &QButtonGroup::buttonToggled, group, [group](QAbstractButton* checked, bool on) {
    if (!on) return;
    for (QAbstractButton* button : group->buttons())
      button->setFocusPolicy(button == checked ? Qt::StrongFocus : Qt::ClickFocus);
  });
}

void ControlSet::grow(QSize gained) const {
  for (const auto& [id, growth] : growth_) widget(id)->setGeometry(grownRect(laidOut_.at(id), gained, growth));
}

void ControlSet::setTabOrder(const std::vector<int>& ids) const {
  for (size_t i = 1; i < ids.size(); ++i) QWidget::setTabOrder(widget(ids[i - 1]), widget(ids[i]));
}

QWidget* ControlSet::widget(int id) const {
  const auto it = byId_.find(id);
  if (it == byId_.end()) throw std::out_of_range("no control " + std::to_string(id));
  return it->second;
}

QLineEdit* ControlSet::lineEdit(int id) const { return qobject_cast<QLineEdit*>(widget(id)); }
PathBox* ControlSet::pathBox(int id) const { return qobject_cast<PathBox*>(widget(id)); }
QPlainTextEdit* ControlSet::log(int id) const { return qobject_cast<QPlainTextEdit*>(widget(id)); }
QPushButton* ControlSet::pushButton(int id) const { return qobject_cast<QPushButton*>(widget(id)); }
QAbstractButton* ControlSet::button(int id) const { return qobject_cast<QAbstractButton*>(widget(id)); }
QComboBox* ControlSet::comboBox(int id) const { return qobject_cast<QComboBox*>(widget(id)); }
QLabel* ControlSet::label(int id) const { return qobject_cast<QLabel*>(widget(id)); }
QProgressBar* ControlSet::progressBar(int id) const { return qobject_cast<QProgressBar*>(widget(id)); }

QButtonGroup* ControlSet::radioGroup(int firstId) const { return groups_.at(firstId); }

int ControlSet::radioIndex(int firstId) const {
  const QButtonGroup* group = radioGroup(firstId);
  return group->checkedButton() ? group->id(group->checkedButton()) : -1;
}

void ControlSet::setRadioIndex(int firstId, int index) {
  QButtonGroup* group = radioGroup(firstId);
  if (QAbstractButton* button = group->button(index)) {
    button->setChecked(true);
    return;
  }
  // An exclusive group cannot uncheck its last button; lift the rule for the moment.
  group->setExclusive(false);
  for (QAbstractButton* button : group->buttons()) button->setChecked(false);
  group->setExclusive(true);
}

void ControlSet::setEnabled(const std::vector<int>& ids, bool enabled) const {
  for (int id : ids) widget(id)->setEnabled(enabled);
}

}  // namespace zorv::ui
