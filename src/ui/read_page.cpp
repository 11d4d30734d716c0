#include "targets/board_chip.h"
#include "ui/read_page.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include "nor/flash_types.h"
#include "page/size_text.h"
#include "targets/catalogue.h"
#include "text/number_text.h"
#include "ui/path_box.h"

namespace zorv::ui {
namespace {

using K = ControlKind;

const std::vector<ControlRow>& readControls() {
  static const std::vector<ControlRow> controls = {
      {1070, K::GroupBox, "Flash", 2, 3, 60, 24},
      {1071, K::RadioGroupStart, "NAND", 5, 13, 29, 10},
      {1072, K::RadioButton, "NOR", 35, 13, 25, 10},
      {1073, K::GroupBox, "Product", 2, 29, 60, 59},
      {1074, K::RadioGroupStart, "OBRIN", 7, 38, 38, 10},
      {1075, K::RadioButton, "TQR2400", 7, 50, 43, 10},
      {1076, K::RadioButton, "IKA", 7, 61, 33, 11},
      {1077, K::RadioButton, "VESKAR", 7, 74, 40, 9},
      {1078, K::GroupBox, "Flash Type", 2, 90, 60, 28},
      {1079, K::ComboBox, "", 4, 100, 56, 88},
      {1080, K::GroupBox, "Options", 64, 3, 67, 115},
      {1081, K::Label, "Base: 0x", 65, 14, 28, 10},
      {1082, K::LineEdit, "", 93, 12, 33, 12},
      {1083, K::Label, "Block No.:", 65, 32, 33, 11},
      {1084, K::LineEdit, "", 99, 30, 28, 13},
      {1085, K::Label, "Size:", 65, 50, 20, 10},
      {1086, K::LineEdit, "", 87, 48, 40, 12},
      {1087, K::CheckBox, "To the end", 67, 63, 60, 10},
      {1108, K::CheckBox, "OOB", 67, 73, 30, 8},
      {1109, K::CheckBox, "Raw", 99, 73, 28, 8},
      {1088, K::Label, "Interleave:", 65, 82, 34, 9},
      {1089, K::ComboBox, "", 104, 81, 24, 35},
      {1090, K::LabelRight, "Width:", 73, 100, 25, 11},
      {1091, K::ComboBox, "", 104, 99, 24, 35},
      {0, K::GroupBox, "", 133, 3, 46, 115},
      {1092, K::PushButton, "Read", 136, 10, 37, 18},
      {1093, K::PushButton, "Verify", 136, 30, 37, 18},
      {1104, K::PushButton, "Erase", 136, 50, 37, 18},
      {1105, K::PushButton, "Bad Blocks", 136, 70, 37, 16},
      {1106, K::Label, "Count:", 137, 88, 36, 8},
      {1107, K::LineEdit, "", 136, 97, 37, 12},
      {1094, K::GroupBox, "Output File", 2, 120, 174, 41},
      {1095, K::PathBox, "", 7, 132, 136, 12},
      {1096, K::PushButton, "Save", 147, 129, 25, 19},
      {1110, K::CheckBox, "Pad bad blocks", 7, 149, 70, 9},
      {1097, K::GroupBox, "Compare File", 2, 163, 174, 31},
      {1098, K::PathBox, "", 7, 175, 136, 12},
      {1099, K::PushButton, "Open", 147, 172, 25, 19},
      {1100, K::LogWrap, "", 2, 198, 174, 69},
      {1101, K::Label, " / [Bytes]", 6, 271, 132, 10},
      {1102, K::LabelRight, "00 : 00", 141, 271, 32, 10},
      {1103, K::ProgressBar, "", 2, 283, 173, 18},
  };
  return controls;
}

const PageRoles kReadRoles{1092, "Read", 1100, 1103, 1101, 1102, 1098, 1099};

// The NOR bus settings, which a NAND read does not use and a fixed-bus product fixes.
const std::vector<int> kBusControls = {ReadPage::FlashTypeGroup, ReadPage::FlashType,       ReadPage::BaseLabel,
                                       ReadPage::BaseEdit,       ReadPage::InterleaveLabel, ReadPage::Interleave,
                                       ReadPage::WidthLabel,     ReadPage::Width};
// What only the NAND has: its erase, its bad-block scan, its spare areas and the padding of its bad
// blocks. Raw serves both: every NAND block as it is, or a NOR bus whose part is not identified as
// it answers.
const std::vector<int> kNandOnly = {ReadPage::EraseButton, ReadPage::ScanButton, ReadPage::CountLabel,
                                    ReadPage::CountEdit,   ReadPage::Oob,        ReadPage::PadBad};
const std::vector<int> kFixedBusControls = {ReadPage::FlashType,  ReadPage::BaseEdit,   ReadPage::InterleaveLabel,
                                          ReadPage::Interleave, ReadPage::WidthLabel, ReadPage::Width};

}  // namespace

QString chooseWithSaveDialog(QWidget* owner, const QString& filter) {
  QString selected = filter.section(QStringLiteral(";;"), 0, 0);
  return QFileDialog::getSaveFileName(owner, QString(), QString(), filter, &selected);
}

ReadPage::ReadPage(JtagLink& port, MessageBoxHost& boxes, QWidget* parent)
    : JobPageWidget(readControls(), kReadRoles, port, boxes, parent),
      // Through a lambda: the job's entry point may come with overloads.
      job_([](JobPage& page, JtagLink& io, const ReadSettings& settings) { return runReadJob(page, io, settings); }) {
  controls_.comboBox(Interleave)->addItems({"1", "2"});
  controls_.comboBox(Width)->addItems({"8", "16"});
  for (int type = 0; type < kFlashTypeCount; ++type)
    controls_.comboBox(FlashType)->addItem(QString::fromUtf8(flashTypeListText(type).data(),
                                                             static_cast<qsizetype>(flashTypeListText(type).size())));

  connect(controls_.pushButton(VerifyButton), &QPushButton::clicked, this, &ReadPage::startOrStopVerify);
  connect(controls_.pushButton(EraseButton), &QPushButton::clicked, this, &ReadPage::startOrStopErase);
  connect(controls_.pushButton(ScanButton), &QPushButton::clicked, this, &ReadPage::startOrStopScan);
  connect(controls_.pushButton(SaveButton), &QPushButton::clicked, this, &ReadPage::chooseOutputFile);
  for (int id : {Nand, Nor}) connect(controls_.button(id), &QAbstractButton::clicked, this, &ReadPage::selectFlash);
  connect(controls_.button(ToEnd), &QAbstractButton::clicked, this, &ReadPage::enableForChoices);
  for (int id : {ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3})
    connect(controls_.button(id), &QAbstractButton::clicked, this, &ReadPage::selectProduct);
  // activated, not currentIndexChanged: only the user's choice counts, not the page's own.
  connect(controls_.comboBox(FlashType), &QComboBox::activated, this, &ReadPage::selectFlashType);

  // Tab goes through the page as it reads, top to bottom, left to right.
  controls_.setTabOrder({Nand, Nor, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, FlashType, BaseEdit,
                         BlockEdit, SizeEdit, ToEnd, Oob, Raw, Interleave, Width, ReadButton, VerifyButton,
                         EraseButton, ScanButton, CountEdit, OutputBox, SaveButton, PadBad, PathBox, OpenButton, Log});
  // Room beyond the layout goes to the log and the two path boxes; what is below them moves down.
  controls_.setGrowth({{Log, GrowsWide | GrowsTall}, {OutputGroup, GrowsWide}, {OutputBox, GrowsWide},
                       {SaveButton, MovesRight}, {CompareGroup, GrowsWide}, {PathBox, GrowsWide},
                       {OpenButton, MovesRight}, {ByteCounter, MovesDown}, {Clock, MovesRight | MovesDown},
                       {ProgressBar, GrowsWide | MovesDown}});
  controls_.widget(PadBad)->setToolTip(
      QStringLiteral("0xFF in place of a bad block, so that offsets in the file stay as on the flash (--pad-bad)"));
  copySettingsToControls();
  controls_.comboBox(FlashType)->setCurrentIndex(0);
  controls_.comboBox(Interleave)->setCurrentIndex(0);
  controls_.comboBox(Width)->setCurrentIndex(0);
  enableForChoices();
}

void ReadPage::copyControlsToSettings() {
  flash_ = controls_.radioIndex(Nand);
  product_ = controls_.radioIndex(ProductRadio0);
  baseText_ = controls_.lineEdit(BaseEdit)->text().toStdString();
  blockText_ = controls_.lineEdit(BlockEdit)->text().toStdString();
  sizeText_ = controls_.lineEdit(SizeEdit)->text().toStdString();
  toEnd_ = controls_.button(ToEnd)->isChecked();
  countText_ = controls_.lineEdit(CountEdit)->text().toStdString();
  oob_ = controls_.button(Oob)->isChecked();
  raw_ = controls_.button(Raw)->isChecked();
  padBad_ = controls_.button(PadBad)->isChecked();
}

void ReadPage::copySettingsToControls() {
  controls_.setRadioIndex(Nand, flash_);
  controls_.setRadioIndex(ProductRadio0, product_);
  controls_.lineEdit(BaseEdit)->setText(QString::fromStdString(baseText_));
  controls_.lineEdit(BlockEdit)->setText(QString::fromStdString(blockText_));
  controls_.lineEdit(SizeEdit)->setText(QString::fromStdString(sizeText_));
  controls_.button(ToEnd)->setChecked(toEnd_);
  controls_.lineEdit(CountEdit)->setText(QString::fromStdString(countText_));
  controls_.button(Oob)->setChecked(oob_);
  controls_.button(Raw)->setChecked(raw_);
  controls_.button(PadBad)->setChecked(padBad_);
  controls_.pathBox(OutputBox)->setPath(outputPath_);
  controls_.pathBox(PathBox)->setPath(imagePath_);
}

void ReadPage::enableForChoices() {
  const bool nor = controls_.radioIndex(Nand) == static_cast<int>(ReadFlash::Nor);
  const int product = controls_.radioIndex(ProductRadio0);
  const bool fixedBus = isKnownProduct(product) && norAbilities(product).fixedBus;
  controls_.setEnabled(kBusControls, nor);
  controls_.setEnabled(kNandOnly, !nor);
  if (nor && fixedBus) controls_.setEnabled(kFixedBusControls, false);
  controls_.widget(SizeEdit)->setEnabled(!controls_.button(ToEnd)->isChecked());
}

void ReadPage::selectFlash() {
  copyControlsToSettings();
  if (flash_ != filesFlash_ && (flash_ == 0 || flash_ == 1)) {
    otherFiles_[static_cast<size_t>(filesFlash_)] = {outputPath_, imagePath_, outputAsked_};
    const FlashFiles& files = otherFiles_[static_cast<size_t>(flash_)];
    outputPath_ = files.output;
    imagePath_ = files.compare;
    outputAsked_ = files.outputAsked;
    filesFlash_ = flash_;
    copySettingsToControls();
    if (flash_ == static_cast<int>(ReadFlash::Nor) && norBus_) takeNorBus(norBus_());
  }
  enableForChoices();
}

void ReadPage::takeNorBus(const NorBus& bus) {
  norBusTaken_ = bus;
  flashType_ = bus.flashType;
  const int product = controls_.radioIndex(ProductRadio0);
  if (isKnownProduct(product) && norAbilities(product).fixedBus) return;  // shown fixed, as it is
  controls_.comboBox(FlashType)->setCurrentIndex(isFlashType(flashType_) ? flashType_ : -1);
  controls_.comboBox(Interleave)->setCurrentIndex(bus.interleaveIndex);
  controls_.comboBox(Width)->setCurrentIndex(bus.widthIndex);
  controls_.lineEdit(BaseEdit)->setText(bus.baseText);
}

void ReadPage::showEvent(QShowEvent* event) {
  JobPageWidget::showEvent(event);
  if (!norBus_ || jobRunning() || controls_.radioIndex(Nand) != static_cast<int>(ReadFlash::Nor)) return;
  const NorBus bus = norBus_();
  if (bus != norBusTaken_) takeNorBus(bus);
}

void ReadPage::selectProduct() {
  QComboBox* types = controls_.comboBox(FlashType);
  const int product = controls_.radioIndex(ProductRadio0);
  if (isKnownProduct(product) && norAbilities(product).fixedBus) {
    // VESKAR finds its own flash on a bus it fixes, as the NOR page shows it.
    if (types->count() == kFlashTypeCount) {
      types->addItem(QString::fromUtf8(kAutoDetectListText.data(), static_cast<qsizetype>(kAutoDetectListText.size())));
    }
    types->setCurrentIndex(AutoDetect);
    controls_.comboBox(Width)->setCurrentIndex(0);
    controls_.comboBox(Interleave)->setCurrentIndex(0);
    controls_.lineEdit(BaseEdit)->setText(QStringLiteral("0x0"));
  } else {
    if (types->count() == kFlashTypeCount + 1) types->removeItem(AutoDetect);
    types->setCurrentIndex(isFlashType(flashType_) ? flashType_ : -1);
  }
  enableForChoices();
}

void ReadPage::selectFlashType() {
  flashType_ = controls_.comboBox(FlashType)->currentIndex();
  // The width entries are "8" and "16".
  if (isFlashType(flashType_)) {
    controls_.comboBox(Width)->setCurrentIndex(flashTypeRow(flashType_).defaultWidth == 16 ? 1 : 0);
  }
}

void ReadPage::chooseOutputFile() {
  copyControlsToSettings();
  const QString chosen = chooseSave_(window(), QString::fromUtf8(kOutputFileFilter));
  if (chosen.isEmpty()) return;
  outputPath_ = QDir::toNativeSeparators(chosen);
  outputAsked_ = true;  // the dialog asks itself before it offers a file that exists
  copySettingsToControls();
}

void ReadPage::useStartButton(ReadMode mode) {
  mode_ = mode;
  switch (mode) {
    case ReadMode::Read: setStartButtonId(ReadButton); break;
    case ReadMode::Verify: setStartButtonId(VerifyButton); break;
    case ReadMode::Erase: setStartButtonId(EraseButton); break;
    case ReadMode::BadScan: setStartButtonId(ScanButton); break;
  }
}

void ReadPage::startOrStopMode(ReadMode mode) {
  // While a job runs the pressed button is already the job's own (the others are locked).
  if (!jobRunning()) useStartButton(mode);
  startOrStopJob();
  if (!jobRunning()) useStartButton(ReadMode::Read);
}

void ReadPage::startOrStopVerify() { startOrStopMode(ReadMode::Verify); }
void ReadPage::startOrStopErase() { startOrStopMode(ReadMode::Erase); }
void ReadPage::startOrStopScan() { startOrStopMode(ReadMode::BadScan); }

bool ReadPage::confirmStart() {
  if (mode_ == ReadMode::Erase)
    return askUser(QStringLiteral("Erase %1 blocks from block %2?").arg(settings_.count).arg(settings_.block));
  if (mode_ != ReadMode::Read) return true;
  if (!outputAsked_ && QFileInfo::exists(outputPath_) &&
      !askUser(QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(outputPath_)))
    return false;
  outputAsked_ = false;  // a read after this one replaces what this one wrote: it asks
  return true;
}

QString ReadPage::boardRefusal() const {
  const BoardChip& chip = *board()->chip;
  const bool nor = flash_ == static_cast<int>(ReadFlash::Nor);
  if (nor ? chip.hasNor || chip.nor.throughDebugPath : chip.hasNand) return {};
  return QStringLiteral("The board file %1 has no %2 flash")
      .arg(QString::fromStdString(board()->path), nor ? QStringLiteral("NOR") : QStringLiteral("NAND"));
}

QString ReadPage::startRefusal() {
  ReadSettings settings;
  settings.chain = jobChain();
  settings.flash = flash_ == static_cast<int>(ReadFlash::Nor) ? ReadFlash::Nor : ReadFlash::Nand;
  settings.mode = mode_;
  settings.product = jobProduct(product_);
  settings.board = jobChip();
  if (settings.flash == ReadFlash::Nor && !norAbilitiesOf(settings.product, settings.board.get()).findsByDeviceCode) {
    settings.flashType = flashType_;
    settings.interleave = controls_.comboBox(Interleave)->currentIndex() == 1 ? 2 : 1;
    settings.width = controls_.comboBox(Width)->currentIndex() == 1 ? 16 : 8;
    const std::optional<uint32_t> base = readHexText(baseText_);
    if (!base) return QStringLiteral("Base address 0x%1 does not fit in 32 bits").arg(QString::fromStdString(baseText_).trimmed());
    settings.base = *base;
  }
  const QString blockText = QString::fromStdString(blockText_).trimmed();
  const std::optional<uint32_t> block = readBlockText(blockText.toStdString());
  if (!block) return QStringLiteral("Block No. \"%1\" is not a number (decimal, or hexadecimal after 0x)").arg(blockText);
  settings.block = *block;
  if (mode_ == ReadMode::Read) {
    settings.toEnd = toEnd_;
    if (!toEnd_) {
      const QString sizeText = QString::fromStdString(sizeText_).trimmed();
      const std::optional<uint64_t> size = readSizeText(sizeText.toStdString());
      if (!size || *size == 0)
        return QStringLiteral("Size \"%1\" is not a number of bytes (decimal or 0x hexadecimal, K or M after it)")
            .arg(sizeText);
      settings.size = *size;
    }
    if (outputPath_.isEmpty()) return QStringLiteral("No output file");
    settings.outputPath = outputPath_.toStdString();
  } else if (mode_ == ReadMode::Verify) {
    settings.imagePath = imagePath_.toStdString();
  } else if (mode_ == ReadMode::Erase) {
    const QString countText = QString::fromStdString(countText_).trimmed();
    const std::optional<uint32_t> count = readBlockText(countText.toStdString());
    if (!count || *count == 0)
      return QStringLiteral("Count \"%1\" is not a number of blocks (decimal, or hexadecimal after 0x)").arg(countText);
    settings.count = *count;
  }
  if (settings.flash == ReadFlash::Nand) {
    settings.oob = oob_;
    settings.padBad = padBad_ && mode_ == ReadMode::Read;
  }
  settings.raw = raw_;
  settings_ = settings;
  return {};
}

std::function<void()> ReadPage::makeJob() {
  return [this, job = job_, settings = settings_] { job(bridge(), port(), settings); };
}

void ReadPage::lockPage() {
  controls_.setEnabled({FlashGroup, Nand, Nor, ProductGroup, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, OptionsGroup, BlockLabel,
                        BlockEdit, SizeLabel, SizeEdit, ToEnd, ReadButton, VerifyButton, OutputGroup, OutputBox,
                        SaveButton, CompareGroup, PathBox, OpenButton},
                       false);
  controls_.setEnabled(kBusControls, false);
  controls_.setEnabled(kNandOnly, false);
  controls_.setEnabled({Raw}, false);  // not among the NAND's own: it serves the NOR too
}

void ReadPage::unlockPage() {
  controls_.pushButton(ReadButton)->setText(QStringLiteral("Read"));
  controls_.pushButton(VerifyButton)->setText(QStringLiteral("Verify"));
  controls_.pushButton(EraseButton)->setText(QStringLiteral("Erase"));
  controls_.pushButton(ScanButton)->setText(QStringLiteral("Bad Blocks"));
  useStartButton(ReadMode::Read);
  controls_.setEnabled({FlashGroup, Nand, Nor, ProductGroup, ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3, OptionsGroup, BlockLabel,
                        BlockEdit, SizeLabel, ToEnd, Raw, ReadButton, VerifyButton, OutputGroup, OutputBox, SaveButton,
                        CompareGroup, PathBox, OpenButton},
                       true);
  enableForChoices();
}

}  // namespace zorv::ui
