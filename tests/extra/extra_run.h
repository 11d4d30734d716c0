#pragma once

#include <memory>
#include <string>

#include "extra/extra_job.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "targets/catalogue.h"

namespace zorv::testing {

// Ticks that advance 60 ms per reading, so every 100 ms wait takes three readings; at reading
// pressStopAt the user presses STOP (0: never).
inline TickSource fastTicks(JobPage& page, int pressStopAt) {
  auto readings = std::make_shared<int>(0);
  return [&page, pressStopAt, readings] {
    ++*readings;
    if (*readings == pressStopAt) page.stopRequested.store(1);
    return static_cast<int64_t>(*readings) * 60;
  };
}

inline constexpr int kReadingsPerCycle = 6;

// Readings after which STOP lands in the first wait of the given cycle (counted from 1).
inline int stopDuringCycle(int cycle) { return (cycle - 1) * kReadingsPerCycle + 2; }

// One extra job against a fresh virtual board, from the reset images.
struct ExtraRun {
  std::unique_ptr<sim::Board> board;
  RecordingPage page;

  explicit ExtraRun(const std::string& boardOptions, bool freshImages = true)
      : board(sim::makeBoard(boardOptions)) {
    if (freshImages) restoreProductImages();
  }

  void run(int product, int mode, int toggleCs = 0, int pressStopAt = stopDuringCycle(1)) {
    ExtraSettings settings;
    settings.product = product;
    settings.extraMode = mode;
    settings.toggleCs = toggleCs;
    runExtraJob(page, *board, settings, fastTicks(page, pressStopAt));
  }

  int eventCount(const std::string& what) const {
    int n = 0;
    for (const auto& e : page.events) n += e.what == what ? 1 : 0;
    return n;
  }
  bool everShowedStop() const {
    for (const auto& e : page.events) {
      if (e.what == "button" && e.text == "STOP") return true;
    }
    return false;
  }
};

}  // namespace zorv::testing
