#pragma once

#include <functional>

#include "page/page_settings.h"
#include "ui/job_page_widget.h"

namespace zorv::ui {

using ExtraJobFunction = std::function<int(JobPage&, JtagLink&, const ExtraSettings&)>;

// The "Extra Function" tab: Pin Toggling (optionally with the chip selects) or Read JTAG ID.
class ExtraPage : public JobPageWidget {
  Q_OBJECT

 public:
  enum Id {
    ProductGroup = 1049, ProductRadio0 = 1014, ProductRadio1 = 1007, ProductRadio2 = 1008, ProductRadio3 = 1050,
    FunctionsGroup = 1054, PinToggling = 1052, ReadJtagId = 1051, OptionsGroup = 1053, ToggleCs = 1025,
    StartButton = 1024, Log = 1001,
  };
  // The radio button of a product, in TargetProduct order.
  static constexpr int productRadio(int product) {
    constexpr int kRadios[] = {ProductRadio0, ProductRadio1, ProductRadio2, ProductRadio3};
    return kRadios[product];
  }

  ExtraPage(JtagLink& port, MessageBoxHost& boxes, QWidget* parent);

  void lockPage() override;
  void unlockPage() override;
  void copyControlsToSettings() override;
  void copySettingsToControls() override;

  void resetToPinToggling();

  const ExtraSettings& settings() const { return settings_; }
  void setJobFunction(ExtraJobFunction job) { job_ = std::move(job); }

 protected:
  std::function<void()> makeJob() override;
  int chosenProduct() const override { return controls_.radioIndex(ProductRadio0); }
  QString boardRefusal() const override;

 private:
  ExtraSettings settings_;
  ExtraJobFunction job_;
};

}  // namespace zorv::ui
