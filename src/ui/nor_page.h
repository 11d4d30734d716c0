#pragma once

#include <functional>
#include <string>

#include "nor/flash_types.h"
#include "page/page_settings.h"
#include "ui/job_page_widget.h"

namespace zorv::ui {

using NorJobFunction = std::function<int(JobPage&, JtagLink&, const NorSettings&)>;

// The NOR bus as the NOR tab has it chosen: the flash type the user last chose, the interleave and
// width entries, the base text.
struct NorBus {
  int flashType = 0;
  int interleaveIndex = 0;
  int widthIndex = 0;
  QString baseText;
  bool operator==(const NorBus&) const = default;
};

// The "NOR" tab: product, flash type, bus setting, base, start block and image for the NOR
// download, and how the image is written (units of only 0xFF left erased; sectors that already
// hold the image left alone). VESKAR fixes the flash type, interleave, width and base, and the page shows them fixed.
class NorPage : public JobPageWidget {
  Q_OBJECT

 public:
  enum Id {
    ProductGroup = 1046, ProductRadio0 = 1030, ProductRadio1 = 1034, ProductRadio2 = 1035, ProductRadio3 = 1007,
    FlashTypeGroup = 1048, FlashType = 1039, OptionsGroup = 1047, BaseLabel = 1041, BaseEdit = 1027,
    BlockLabel = 1042, BlockEdit = 1017, InterleaveLabel = 1043, Interleave = 1019, WidthLabel = 1044, Width = 1020,
    StartGroup = 1059, StartButton = 1016, ImageGroup = 1045, PathBox = 1013, OpenButton = 1021, Log = 1031,
    ByteCounter = 1023, Clock = 1022, ProgressBar = 1015, SkipBlank = 1064, SkipUnchanged = 1065,
  };
  // The radio button of a product, in TargetProduct order.
  static constexpr int productRadio(int product) {
    constexpr int kRadios[] = {ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3};
    return kRadios[product];
  }
  static constexpr int kAutoDetect = AutoDetect;  // the list entry offered for VESKAR only

  NorPage(JtagLink& port, MessageBoxHost& boxes, QWidget* parent);

  void lockPage() override;
  void unlockPage() override;
  void copyControlsToSettings() override;
  void copySettingsToControls() override;

  // A product whose bus is fixed: AutoDetect, and width, interleave and base shown fixed.
  void selectFixedBusProduct();
  void selectOtherProduct();
  void selectFlashType();

  NorSettings settings() const;
  NorBus bus() const;
  const std::string& baseText() const { return baseText_; }
  int flashType() const { return flashType_; }

  void setJobFunction(NorJobFunction job) { job_ = std::move(job); }

 protected:
  std::function<void()> makeJob() override;
  int chosenProduct() const override { return controls_.radioIndex(ProductRadio0); }
  QString boardRefusal() const override;
  void jobStarted() override { jobProduct_ = product_; }

 private:
  void onInitDialog();

  std::string baseText_ = "0";
  std::string blockText_ = "0";
  int product_ = 0;
  int flashType_ = 0;
  bool skipBlank_ = false;
  bool skipUnchanged_ = false;
  int jobProduct_ = 0;  // what unlockPage restores the page for
  NorJobFunction job_;
};

}  // namespace zorv::ui
