#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "readback/read_job.h"
#include "ui/job_page_widget.h"
#include "ui/nor_page.h"

namespace zorv::ui {

using ReadJobFunction = std::function<int(JobPage&, JtagLink&, const ReadSettings&)>;

QString chooseWithSaveDialog(QWidget* owner, const QString& filter);
inline constexpr const char* kOutputFileFilter = "Flash Copy(*.bin);;All Files(*)";

// The "Read" tab: copies a range of the NAND or NOR flash into a file, or compares the flash with
// an image. The NOR bus is set as on the NOR page (VESKAR fixes it); the NAND needs none of it.
// Read and Verify are both start buttons: the one pressed runs its job and becomes its STOP button.
// NAND and NOR each have their own output and compare files; a read asks before it replaces a file
// the Save dialog has not just asked about.
class ReadPage : public JobPageWidget {
  Q_OBJECT

 public:
  enum Id {
    FlashGroup = 1070, Nand = 1071, Nor = 1072,
    ProductGroup = 1073, ProductRadio0 = 1074, ProductRadio1 = 1075, ProductRadio2 = 1076, ProductRadio3 = 1077,
    FlashTypeGroup = 1078, FlashType = 1079,
    OptionsGroup = 1080, BaseLabel = 1081, BaseEdit = 1082, BlockLabel = 1083, BlockEdit = 1084,
    SizeLabel = 1085, SizeEdit = 1086, ToEnd = 1087, InterleaveLabel = 1088, Interleave = 1089,
    WidthLabel = 1090, Width = 1091,
    ReadButton = 1092, VerifyButton = 1093,
    OutputGroup = 1094, OutputBox = 1095, SaveButton = 1096,
    CompareGroup = 1097, PathBox = 1098, OpenButton = 1099,
    Log = 1100, ByteCounter = 1101, Clock = 1102, ProgressBar = 1103,
    EraseButton = 1104, ScanButton = 1105, CountLabel = 1106, CountEdit = 1107, Oob = 1108, Raw = 1109,
    PadBad = 1110,
  };
  // The radio button of a product, in TargetProduct order.
  static constexpr int productRadio(int product) {
    constexpr int kRadios[] = {ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3};
    return kRadios[product];
  }

  ReadPage(JtagLink& port, MessageBoxHost& boxes, QWidget* parent);

  void lockPage() override;
  void unlockPage() override;
  void copyControlsToSettings() override;
  void copySettingsToControls() override;

  // The Verify button; the Read button is the page's start button (and Enter's).
  void startOrStopVerify();
  // The NAND's Erase (after the user confirms it) and Bad Blocks buttons, as Verify.
  void startOrStopErase();
  void startOrStopScan();
  // The Save button: the file a read writes; a cancelled dialog changes nothing.
  void chooseOutputFile();
  void selectProduct();
  void selectFlashType();

  void setJobFunction(ReadJobFunction job) { job_ = std::move(job); }
  void setSaveChooser(FileChooser chooser) { chooseSave_ = std::move(chooser); }
  // Where a NOR read finds the NOR tab's bus: taken when NOR is chosen here, and again whenever
  // the page is shown after the NOR tab's choice has changed.
  void setNorBusSource(std::function<NorBus()> source) { norBus_ = std::move(source); }

 protected:
  std::function<void()> makeJob() override;
  int chosenProduct() const override { return controls_.radioIndex(ProductRadio0); }
  QString boardRefusal() const override;
  QString startRefusal() override;
  bool confirmStart() override;
  void showEvent(QShowEvent* event) override;

 private:
  // The files of one kind of flash.
  struct FlashFiles {
    QString output;
    QString compare;
    bool outputAsked = false;  // the Save dialog asked about replacing it since the last read
  };
  // NAND or NOR chosen: the files and the bus follow.
  void selectFlash();
  void takeNorBus(const NorBus& bus);
  // Which controls can be used follows the flash, the product and "To the end".
  void enableForChoices();
  void useStartButton(ReadMode mode);
  // A job of mode from its own button, which is its STOP button while it runs.
  void startOrStopMode(ReadMode mode);

  ReadMode mode_ = ReadMode::Read;
  int flash_ = 0;
  int product_ = 0;
  int flashType_ = 0;
  std::string baseText_ = "0";
  std::string blockText_ = "0";
  std::string sizeText_;
  bool toEnd_ = false;
  std::string countText_;
  bool oob_ = false;
  bool raw_ = false;
  bool padBad_ = false;
  QString outputPath_;
  bool outputAsked_ = false;
  std::array<FlashFiles, 2> otherFiles_;  // by flash; the shown flash's are outputPath_ and imagePath_
  int filesFlash_ = 0;                    // whose files are shown
  std::function<NorBus()> norBus_;
  std::optional<NorBus> norBusTaken_;
  ReadSettings settings_;  // read from the controls by startRefusal, for makeJob
  ReadJobFunction job_;
  FileChooser chooseSave_ = chooseWithSaveDialog;
};

}  // namespace zorv::ui
