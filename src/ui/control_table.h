#pragma once

#include <QString>
#include <map>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace zorv::ui {

class DialogUnits;

enum class ControlKind {
  GroupBox,
  RadioButton,       // joins the radio group opened by the nearest RadioGroupStart before it
  RadioGroupStart,   // first radio button of a group
  Label,
  LabelRight,
  LineEdit,
  LogNoWrap,         // multi-line edit that scrolls sideways
  LogWrap,           // multi-line edit that wraps long lines
  PushButton,
  CheckBox,
  ProgressBar,
  ComboBox,          // drop-down list with an edit field; height is the dropped-down height
};

// One control of a page: id (0 for none), kind, caption and rectangle in dialog units. A page is a
// list of these in tab order.
struct ControlRow {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, width, height;
};

// The widgets made from a control list, found by id. The widgets belong to their page.
class ControlSet {
 public:
  // Creates the controls as children of page in list order, which makes it their tab order.
  void build(QWidget* page, const std::vector<ControlRow>& rows, const DialogUnits& units);

  QWidget* widget(int id) const;
  QLineEdit* lineEdit(int id) const;
  QPlainTextEdit* log(int id) const;
  QPushButton* pushButton(int id) const;
  QAbstractButton* button(int id) const;
  QComboBox* comboBox(int id) const;
  QLabel* label(int id) const;
  QProgressBar* progressBar(int id) const;

  // Radio group named by its first button: index of the checked button in list order, -1 if none.
  int radioIndex(int firstId) const;
  void setRadioIndex(int firstId, int index);
  QButtonGroup* radioGroup(int firstId) const;

  void setEnabled(const std::vector<int>& ids, bool enabled) const;
  // Tab visits the controls in this order (a radio group once, at its checked button).
  void setTabOrder(const std::vector<int>& ids) const;

 private:
  static void keepOneTabStop(QButtonGroup* group);

  std::map<int, QWidget*> byId_;
  std::map<int, QButtonGroup*> groups_;
};

// Object name of the control with this id ("1011").
QString controlName(int id);

}  // namespace zorv::ui
