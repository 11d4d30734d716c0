#pragma once

#include <QDialog>
#include <QString>
#include <vector>

#include "ui/connection.h"

class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;

namespace zorv::ui {

// Chooses the cable: every kind of the cable table, the fields of the chosen kind's text (host and
// port, VID:PID, serial, ...) and, for a kind that has one, its TCK rate. It only builds the
// connection; the window opens it.
class ConnectionDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ConnectionDialog(const Connection& current, QWidget* parent = nullptr);

  Connection connection() const;

  QComboBox* kindBox() const { return kinds_; }
  QLineEdit* tckBox() const { return tck_; }
  int fieldCount() const { return static_cast<int>(fields_.size()); }
  QString fieldLabel(int index) const;
  QString fieldText(int index) const;
  void setFieldText(int index, const QString& text);

 private:
  // Puts the fields of the kind in the form, filled from the cable text.
  void showKind(int index, const QString& cableText);

  QComboBox* kinds_;
  QLabel* help_;
  QFormLayout* form_;
  QLineEdit* tck_;
  int firstFieldRow_ = 0;
  std::vector<QWidget*> fields_;  // a line edit, or an editable combo box where the field has choices
};

}  // namespace zorv::ui
