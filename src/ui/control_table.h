#pragma once

#include <QString>
#include <QRect>
#include <QSize>
#include <map>
#include <utility>
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
class PathBox;

enum class ControlKind {
  GroupBox,
  RadioButton,       // joins the radio group opened by the nearest RadioGroupStart before it
  RadioGroupStart,   // first radio button of a group
  Label,
  LabelRight,
  LineEdit,
  PathBox,           // a chosen file's path, fitted to the box (see PathBox)
  LogNoWrap,         // multi-line edit that scrolls sideways
  LogWrap,           // multi-line edit that wraps long lines
  PushButton,
  CheckBox,
  ProgressBar,
  ComboBox,          // drop-down list with an edit field; height is the dropped-down height
};

// How a control follows its page when the window grows past the page's layout: it widens, grows
// taller, moves right or moves down by the room gained. Controls without any stay where they are.
enum Growth : unsigned { GrowsWide = 1, GrowsTall = 2, MovesRight = 4, MovesDown = 8 };
QRect grownRect(const QRect& laidOut, QSize gained, unsigned growth);

// One control of a page: id (0 for none), kind, caption and rectangle in dialog units. A page is a
// list of these in creation order.
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
  PathBox* pathBox(int id) const;
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
  // How controls follow the page as it grows (see Growth); then grow() places them for the room
  // gained over the page's layout.
  void setGrowth(const std::vector<std::pair<int, unsigned>>& growth) { growth_ = growth; }
  void grow(QSize gained) const;

 private:
  static void keepOneTabStop(QButtonGroup* group);

  std::map<int, QWidget*> byId_;
  std::map<int, QRect> laidOut_;  // where build placed each control
  std::map<int, QButtonGroup*> groups_;
  std::vector<std::pair<int, unsigned>> growth_;
};

// Object name of the control with this id ("1011").
QString controlName(int id);

}  // namespace zorv::ui
