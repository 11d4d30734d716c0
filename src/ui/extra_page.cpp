#include "ui/extra_page.h"

#include <QAbstractButton>
#include <QPushButton>

#include "extra/extra_job.h"
#include "targets/toggle_target.h"

namespace zorv::ui {
namespace {

using K = ControlKind;

const std::vector<ControlRow>& extraControls() {
  static const std::vector<ControlRow> controls = {
      {1049, K::GroupBox, "Product", 2, 4, 47, 67},
      {1014, K::RadioGroupStart, "OBRIN", 4, 15, 39, 14},
      {1007, K::RadioButton, "TQR2400", 4, 28, 40, 15},
      {1008, K::RadioButton, "IKA", 4, 43, 32, 10},
      {1050, K::RadioButton, "VESKAR", 4, 56, 36, 10},
      {1001, K::LogNoWrap, "", 2, 79, 174, 213},
      {1024, K::PushButton, "RUN", 134, 19, 37, 42},
      {1025, K::CheckBox, "Togglling CS", 61, 53, 58, 13},
      {1054, K::GroupBox, "Functions", 54, 4, 75, 38},
      {1052, K::RadioGroupStart, "Pin Toggling", 60, 13, 56, 11},
      {1051, K::RadioButton, "Read JTAG ID", 60, 27, 62, 11},
      {1053, K::GroupBox, "Options", 54, 44, 75, 27},
  };
  return controls;
}

const PageRoles kExtraRoles{1024, "RUN", 1001, 0, 0, 0, 0, 0};

}  // namespace

ExtraPage::ExtraPage(JtagLink& port, MessageBoxHost& boxes, QWidget* parent)
    : JobPageWidget(extraControls(), kExtraRoles, port, boxes, parent),
      // Through a lambda: the job's entry point may come with overloads.
      job_([](JobPage& page, JtagLink& io, const ExtraSettings& settings) { return runExtraJob(page, io, settings); }) {
  // VESKAR only moves the product selection.
  for (int id : {ProductRadio0, ProductRadio1, ProductRadio2})
    connect(controls_.button(id), &QAbstractButton::clicked, this, &ExtraPage::resetToPinToggling);
  // Tab goes through the page as it reads, top to bottom, left to right.
  controls_.setTabOrder({ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, PinToggling, ReadJtagId, ToggleCs,
                         StartButton, Log});
  controls_.setGrowth({{Log, GrowsWide | GrowsTall}});
  copySettingsToControls();
}

void ExtraPage::copyControlsToSettings() {
  settings_.product = controls_.radioIndex(ProductRadio0);
  settings_.toggleCs = controls_.button(ToggleCs)->isChecked() ? 1 : 0;
  settings_.extraMode = controls_.radioIndex(PinToggling);
}

void ExtraPage::copySettingsToControls() {
  controls_.setRadioIndex(ProductRadio0, settings_.product);
  controls_.button(ToggleCs)->setChecked(settings_.toggleCs != 0);
  controls_.setRadioIndex(PinToggling, settings_.extraMode);
}

void ExtraPage::resetToPinToggling() {
  copyControlsToSettings();
  settings_.extraMode = zorv::PinToggling;
  copySettingsToControls();
}

QString ExtraPage::boardRefusal() const {
  if (settings_.extraMode != zorv::PinToggling || makeToggleTarget(*board()->chip)) return {};
  return QStringLiteral("The board's data lines are turned to drive at different levels: toggle cannot drive them all");
}

std::function<void()> ExtraPage::makeJob() {
  ExtraSettings settings = settings_;
  settings.product = jobProduct(settings.product);
  settings.board = jobChip();
  settings.chain = jobChain();
  return [this, job = job_, settings] { job(bridge(), port(), settings); };
}

void ExtraPage::lockPage() {
  controls_.setEnabled({StartButton, ProductGroup, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, OptionsGroup, ToggleCs, FunctionsGroup,
                        PinToggling, ReadJtagId},
                       false);
}

void ExtraPage::unlockPage() {
  controls_.pushButton(StartButton)->setText(QStringLiteral("RUN"));
  controls_.setEnabled({StartButton, ProductGroup, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, OptionsGroup, ToggleCs, FunctionsGroup,
                        PinToggling, ReadJtagId},
                       true);
}

}  // namespace zorv::ui
