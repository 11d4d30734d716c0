#pragma once

#include <QDialog>

namespace zorv::ui {

inline constexpr const char* kAboutEntryText = "ZORV Parallel JTAG 정보(&A)...";

// The about box: name, version and the OK button "확인".
class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent);
};

}  // namespace zorv::ui
