#pragma once

#include <functional>
#include <string>

#include "page/page_settings.h"
#include "ui/job_page_widget.h"

namespace zorv::ui {

using NandJobFunction = std::function<int(JobPage&, JtagLink&, const NandSettings&)>;

// The "NAND" tab: product, start block, verify option and image file for the NAND download, and how
// the image is written (pages of only 0xFF left erased; an image with spare areas).
class NandPage : public JobPageWidget {
  Q_OBJECT

 public:
  enum Id {
    ProductGroup = 1005, ProductRadio0 = 1006, ProductRadio1 = 1032, ProductRadio2 = 1033, ProductRadio3 = 1061,
    OptionsGroup = 1056, BaseLabel = 1037, BaseEdit = 1012, BlockLabel = 1038, BlockEdit = 1026, Verify = 1036,
    StartButton = 1011, ImageGroup = 1057, PathBox = 1028, OpenButton = 1002, Log = 1029,
    ByteCounter = 1010, Clock = 1009, ProgressBar = 1004, SkipBlank = 1062, Oob = 1063,
  };
  // The radio button of a product, in TargetProduct order.
  static constexpr int productRadio(int product) {
    constexpr int kRadios[] = {ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3};
    return kRadios[product];
  }

  NandPage(JtagLink& port, MessageBoxHost& boxes, QWidget* parent);

  void lockPage() override;
  void unlockPage() override;
  void copyControlsToSettings() override;
  void copySettingsToControls() override;

  // The page's settings; imagePath is set only by chooseImageFile.
  NandSettings settings() const;
  const std::string& baseText() const { return baseText_; }

  void setJobFunction(NandJobFunction job) { job_ = std::move(job); }

 protected:
  std::function<void()> makeJob() override;
  int chosenProduct() const override { return controls_.radioIndex(ProductRadio0); }
  QString boardRefusal() const override;

 private:
  void onInitDialog();

  std::string baseText_;
  std::string blockText_ = "0";
  int product_ = 0;
  int verify_ = 0;
  bool skipBlank_ = false;
  bool oob_ = false;
  NandJobFunction job_;
};

}  // namespace zorv::ui
