#include "ui/nand_page.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPushButton>

#include "nand/nand_job.h"
#include "ui/path_box.h"
#include "text/number_text.h"

namespace zorv::ui {
namespace {

using K = ControlKind;

const std::vector<ControlRow>& nandControls() {
  static const std::vector<ControlRow> controls = {
      // The image group has a row for how the image is written; the log starts that much lower.
      {1029, K::LogNoWrap, "", 2, 112, 174, 155},
      {1002, K::PushButton, "Open", 145, 70, 26, 21},
      {1028, K::PathBox, "", 6, 74, 136, 12},
      {1004, K::ProgressBar, "", 2, 283, 173, 18},
      {1005, K::GroupBox, "Product", 2, 2, 48, 58},
      {1056, K::GroupBox, "Options", 53, 2, 73, 57},
      {1006, K::RadioGroupStart, "OBRIN", 5, 12, 37, 10},
      {1032, K::RadioButton, "TQR2400", 5, 24, 42, 10},
      {1033, K::RadioButton, "IKA", 5, 36, 32, 10},
      {1061, K::RadioButton, "VESKAR", 5, 48, 38, 10},
      {1057, K::GroupBox, "Image File", 2, 62, 174, 43},
      {1010, K::Label, " / [Bytes]", 6, 271, 132, 10},
      {1009, K::LabelRight, "00 : 00", 139, 271, 34, 10},
      {1011, K::PushButton, "Download", 133, 12, 39, 41},
      {1038, K::Label, "Block No.:", 57, 31, 36, 10},
      {1037, K::Label, "Base: 0x", 57, 16, 29, 8},
      {1012, K::LineEdit, "", 88, 15, 34, 12},
      {1026, K::LineEdit, "", 95, 30, 27, 12},
      {1036, K::CheckBox, "Verify", 57, 46, 46, 9},
      {0, K::GroupBox, "", 129, 2, 48, 57},
      {1062, K::CheckBox, "Skip 0xFF", 6, 92, 50, 10},
      {1063, K::CheckBox, "OOB", 60, 92, 40, 10},
  };
  return controls;
}

const PageRoles kNandRoles{1011, "Download", 1029, 1004, 1010, 1009, 1028, 1002};

}  // namespace

NandPage::NandPage(JtagLink& port, MessageBoxHost& boxes, QWidget* parent)
    : JobPageWidget(nandControls(), kNandRoles, port, boxes, parent),
      // Through a lambda: the job's entry point may come with overloads.
      job_([](JobPage& page, JtagLink& io, const NandSettings& settings) { return runNandJob(page, io, settings); }) {
  onInitDialog();
}

void NandPage::onInitDialog() {
  // Tab goes through the page as it reads, top to bottom, left to right.
  controls_.setTabOrder({ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, BaseEdit, BlockEdit, Verify,
                         StartButton, PathBox, OpenButton, SkipBlank, Oob, Log});
  // Room beyond the layout goes to the log and the path box; what is below them moves down.
  controls_.setGrowth({{Log, GrowsWide | GrowsTall}, {ImageGroup, GrowsWide}, {PathBox, GrowsWide},
                       {OpenButton, MovesRight}, {ByteCounter, MovesDown}, {Clock, MovesRight | MovesDown},
                       {ProgressBar, GrowsWide | MovesDown}});
  controls_.widget(SkipBlank)->setToolTip(QStringLiteral("Leave pages of only 0xFF as the erase left them (--skip-ff)"));
  controls_.widget(Oob)->setToolTip(
      QStringLiteral("The image holds each page followed by its spare area, as Read writes it with OOB (--oob)"));
  copySettingsToControls();
  // The base of the NAND bus is fixed; the box only shows it.
  controls_.widget(BaseEdit)->setEnabled(false);
}

void NandPage::copyControlsToSettings() {
  baseText_ = controls_.lineEdit(BaseEdit)->text().toStdString();
  blockText_ = controls_.lineEdit(BlockEdit)->text().toStdString();
  product_ = controls_.radioIndex(ProductRadio0);
  verify_ = controls_.button(Verify)->isChecked() ? 1 : 0;
  skipBlank_ = controls_.button(SkipBlank)->isChecked();
  oob_ = controls_.button(Oob)->isChecked();
}

void NandPage::copySettingsToControls() {
  controls_.lineEdit(BaseEdit)->setText(QString::fromStdString(baseText_));
  controls_.pathBox(PathBox)->setPath(imagePath_);
  controls_.lineEdit(BlockEdit)->setText(QString::fromStdString(blockText_));
  controls_.setRadioIndex(ProductRadio0, product_);
  controls_.button(Verify)->setChecked(verify_ != 0);
  controls_.button(SkipBlank)->setChecked(skipBlank_);
  controls_.button(Oob)->setChecked(oob_);
}

NandSettings NandPage::settings() const {
  NandSettings settings;
  settings.product = jobProduct(product_);
  settings.board = jobChip();
  settings.chain = jobChain();
  settings.block = parseBlockNumber(blockText_);
  settings.imagePath = imagePath_.toStdString();
  settings.verify = verify_;
  settings.skipBlank = skipBlank_;
  settings.oob = oob_;
  return settings;
}

QString NandPage::boardRefusal() const {
  if (board()->chip->hasNand) return {};
  return QStringLiteral("The board file %1 has no NAND flash").arg(QString::fromStdString(board()->path));
}

std::function<void()> NandPage::makeJob() {
  return [this, job = job_, settings = settings()] { job(bridge(), port(), settings); };
}

void NandPage::lockPage() {
  controls_.setEnabled({StartButton, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, BaseEdit, BlockEdit, PathBox, OpenButton, Verify,
                        ProductGroup, OptionsGroup, ImageGroup, BaseLabel, BlockLabel, SkipBlank, Oob},
                       false);
}

void NandPage::unlockPage() {
  controls_.pushButton(StartButton)->setText(QStringLiteral("Download"));
  controls_.setEnabled({StartButton, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, BlockEdit, PathBox, OpenButton, Verify,
                        ProductGroup, OptionsGroup, ImageGroup, BaseLabel, BlockLabel, SkipBlank, Oob},
                       true);
}

}  // namespace zorv::ui
