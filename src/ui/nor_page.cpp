#include "ui/nor_page.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "nor/nor_job.h"
#include "ui/path_box.h"
#include "text/number_text.h"
#include "targets/board_chip.h"
#include "targets/catalogue.h"

namespace zorv::ui {
namespace {

using K = ControlKind;

const std::vector<ControlRow>& norControls() {
  static const std::vector<ControlRow> controls = {
      {1046, K::GroupBox, "Product", 2, 3, 60, 59},
      {1030, K::RadioGroupStart, "OBRIN", 7, 12, 38, 10},
      {1034, K::RadioButton, "TQR2400", 7, 24, 43, 10},
      {1035, K::RadioButton, "IKA", 7, 35, 33, 11},
      {1007, K::RadioButton, "VESKAR", 7, 48, 40, 9},
      // The image group has a row for how the image is written; the log starts that much lower.
      {1031, K::LogWrap, "", 2, 141, 174, 126},
      {1015, K::ProgressBar, "", 2, 283, 173, 18},
      {1047, K::GroupBox, "Options", 64, 3, 67, 89},
      {1016, K::PushButton, "Download", 136, 28, 37, 41},
      {1041, K::Label, "Base: 0x", 65, 14, 28, 10},
      {1042, K::Label, "Block No.:", 65, 32, 33, 11},
      {1027, K::LineEdit, "", 93, 12, 33, 12},
      {1017, K::LineEdit, "", 99, 30, 28, 13},
      {1019, K::ComboBox, "", 104, 50, 24, 35},
      {1020, K::ComboBox, "", 104, 68, 24, 35},
      {1045, K::GroupBox, "Image File", 2, 93, 174, 42},
      {1013, K::PathBox, "", 7, 105, 136, 12},
      {1021, K::PushButton, "Open", 147, 102, 25, 19},
      {1023, K::Label, " / [Bytes]", 6, 271, 132, 10},
      {1022, K::LabelRight, "00 : 00", 141, 271, 32, 10},
      {1043, K::Label, "Interleave:", 65, 51, 34, 9},
      {1044, K::LabelRight, "Width:", 73, 69, 25, 11},
      {1048, K::GroupBox, "Flash Type", 2, 64, 60, 28},
      {1039, K::ComboBox, "", 4, 74, 56, 88},
      {1059, K::GroupBox, "", 133, 3, 46, 89},
      {1064, K::CheckBox, "Skip 0xFF", 7, 122, 50, 10},
      {1065, K::CheckBox, "Skip unchanged", 60, 122, 70, 10},
  };
  return controls;
}

const PageRoles kNorRoles{1016, "Download", 1031, 1015, 1023, 1022, 1013, 1021};

QString flashTypeText(int index) {
  const std::string_view text = flashTypeListText(index);
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList flashTypeList() {
  QStringList list;
  for (int i = 0; i <= NorPage::kAutoDetect; ++i) list << flashTypeText(i);
  return list;
}

}  // namespace

NorPage::NorPage(JtagLink& port, MessageBoxHost& boxes, QWidget* parent)
    : JobPageWidget(norControls(), kNorRoles, port, boxes, parent),
      // Through a lambda: the job's entry point may come with overloads.
      job_([](JobPage& page, JtagLink& io, const NorSettings& settings) { return runNorJob(page, io, settings); }) {
  controls_.comboBox(Interleave)->addItems({"1", "2"});
  controls_.comboBox(Width)->addItems({"8", "16"});
  controls_.comboBox(FlashType)->addItems(flashTypeList());

  for (int product = 0; product < kProductCount; ++product) {
    connect(controls_.button(productRadio(product)), &QAbstractButton::clicked, this,
            norAbilities(product).fixedBus ? &NorPage::selectFixedBusProduct : &NorPage::selectOtherProduct);
  }
  // activated, not currentIndexChanged: only the user's choice counts, not the page's own.
  connect(controls_.comboBox(FlashType), &QComboBox::activated, this, &NorPage::selectFlashType);
  onInitDialog();
}

void NorPage::onInitDialog() {
  // Tab goes through the page as it reads, top to bottom, left to right.
  controls_.setTabOrder({ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, FlashType, BaseEdit, BlockEdit,
                         Interleave, Width, StartButton, PathBox, OpenButton, SkipBlank, SkipUnchanged, Log});
  // Room beyond the layout goes to the log and the path box; what is below them moves down.
  controls_.setGrowth({{Log, GrowsWide | GrowsTall}, {ImageGroup, GrowsWide}, {PathBox, GrowsWide},
                       {OpenButton, MovesRight}, {ByteCounter, MovesDown}, {Clock, MovesRight | MovesDown},
                       {ProgressBar, GrowsWide | MovesDown}});
  controls_.widget(SkipBlank)->setToolTip(
      QStringLiteral("Leave units (or write buffers) of only 0xFF as the erase left them (--skip-ff)"));
  controls_.widget(SkipUnchanged)->setToolTip(QStringLiteral(
      "Read the covered sectors first; a sector already holding the image is neither erased nor programmed "
      "(--skip-unchanged)"));
  copySettingsToControls();
  controls_.comboBox(FlashType)->setCurrentIndex(0);
  controls_.comboBox(Interleave)->setCurrentIndex(0);
  controls_.comboBox(Width)->setCurrentIndex(0);
}

void NorPage::copyControlsToSettings() {
  baseText_ = controls_.lineEdit(BaseEdit)->text().toStdString();
  blockText_ = controls_.lineEdit(BlockEdit)->text().toStdString();
  product_ = controls_.radioIndex(ProductRadio0);
  skipBlank_ = controls_.button(SkipBlank)->isChecked();
  skipUnchanged_ = controls_.button(SkipUnchanged)->isChecked();
}

void NorPage::copySettingsToControls() {
  controls_.lineEdit(BaseEdit)->setText(QString::fromStdString(baseText_));
  controls_.lineEdit(BlockEdit)->setText(QString::fromStdString(blockText_));
  controls_.pathBox(PathBox)->setPath(imagePath_);
  controls_.setRadioIndex(ProductRadio0, product_);
  controls_.button(SkipBlank)->setChecked(skipBlank_);
  controls_.button(SkipUnchanged)->setChecked(skipUnchanged_);
}

NorSettings NorPage::settings() const {
  NorSettings settings;
  settings.chain = jobChain();
  settings.product = jobProduct(product_);
  settings.board = jobChip();
  settings.flashType = flashType_;
  // The lists hold the powers of two from their first entry; no entry chosen is no setting at all.
  const int interleaveIndex = controls_.comboBox(Interleave)->currentIndex();
  const int widthIndex = controls_.comboBox(Width)->currentIndex();
  settings.interleave = interleaveIndex >= 0 && interleaveIndex < 8 ? 1 << interleaveIndex : 0;
  settings.width = widthIndex >= 0 && widthIndex < 8 ? 8 << widthIndex : 0;
  settings.base = readHexAddressText(baseText_);
  settings.block = readSectorText(blockText_);
  settings.imagePath = imagePath_.toStdString();
  settings.skipBlank = skipBlank_;
  settings.skipUnchanged = skipUnchanged_;
  return settings;
}

NorBus NorPage::bus() const {
  return {flashType_, controls_.comboBox(Interleave)->currentIndex(), controls_.comboBox(Width)->currentIndex(),
          controls_.lineEdit(BaseEdit)->text()};
}

QString NorPage::boardRefusal() const {
  const BoardChip& chip = *board()->chip;
  if (chip.hasNor || norAbilitiesOf(jobProduct(product_), &chip).throughDebugPath) return {};
  return QStringLiteral("The board file %1 has no NOR flash").arg(QString::fromStdString(board()->path));
}

std::function<void()> NorPage::makeJob() {
  return [this, job = job_, settings = settings()] { job(bridge(), port(), settings); };
}

void NorPage::selectFixedBusProduct() {
  copyControlsToSettings();
  controls_.comboBox(Width)->setCurrentIndex(0);
  controls_.setEnabled({WidthLabel, Width}, false);
  controls_.comboBox(Interleave)->setCurrentIndex(0);
  controls_.setEnabled({InterleaveLabel, Interleave, BaseEdit}, false);
  baseText_ = "0x0";
  QComboBox* types = controls_.comboBox(FlashType);
  if (types->count() == kAutoDetect) types->addItem(flashTypeText(kAutoDetect));
  types->setCurrentIndex(kAutoDetect);
  copySettingsToControls();
  types->setEnabled(false);
}

void NorPage::selectOtherProduct() {
  controls_.setEnabled({WidthLabel, Width, InterleaveLabel, Interleave, BaseEdit}, true);
  QComboBox* types = controls_.comboBox(FlashType);
  if (types->count() == kAutoDetect + 1) types->removeItem(kAutoDetect);
  types->setCurrentIndex(flashType_ >= 0 && flashType_ < types->count() ? flashType_ : -1);
  types->setEnabled(true);
}

void NorPage::selectFlashType() {
  flashType_ = controls_.comboBox(FlashType)->currentIndex();
  // The width entries are "8" and "16".
  if (isFlashType(flashType_)) {
    controls_.comboBox(Width)->setCurrentIndex(flashTypeRow(flashType_).defaultWidth == 16 ? 1 : 0);
  }
}

void NorPage::lockPage() {
  controls_.setEnabled({StartButton, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, FlashType, BaseLabel, BaseEdit, BlockLabel, BlockEdit,
                        InterleaveLabel, Interleave, WidthLabel, Width, ImageGroup, PathBox, OpenButton, ProductGroup,
                        OptionsGroup, FlashTypeGroup, SkipBlank, SkipUnchanged},
                       false);
}

void NorPage::unlockPage() {
  const bool fixedBus = isKnownProduct(jobProduct_) && norAbilities(jobProduct_).fixedBus;
  controls_.pushButton(StartButton)->setText(QStringLiteral("Download"));
  controls_.setEnabled({StartButton, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3}, true);
  controls_.widget(FlashType)->setEnabled(!fixedBus);
  controls_.setEnabled({BaseLabel, BlockLabel, BlockEdit}, true);
  controls_.setEnabled({WidthLabel, Width, InterleaveLabel, Interleave, BaseEdit}, !fixedBus);
  controls_.setEnabled({ImageGroup, PathBox, OpenButton, ProductGroup, OptionsGroup, FlashTypeGroup, SkipBlank,
                        SkipUnchanged},
                       true);
}

}  // namespace zorv::ui
