#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>

#include "extra/extra_run.h"
#include "cable/recording_port.h"
#include "extra/pin_toggler.h"
#include "targets/toggle_target.h"

namespace zorv::testing {
namespace {

// Cell lists written the way the board's documentation writes them: "3-9 by 2, 12-58 by 2, 61".
std::set<int> cells(const std::string& text) {
  std::set<int> result;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    int first = 0, last = 0, step = 1;
    char dash = 0;
    std::istringstream part(item);
    part >> first;
    last = first;
    if (part >> dash) {
      part >> last;
      std::string by;
      if (part >> by) part >> step;
    }
    for (int c = first; c <= last; c += step) result.insert(c);
  }
  return result;
}

struct ProductCells {
  int product;
  const char* board;
  int length;
  char enableLevel;
  std::set<int> enables;
  std::set<int> toggled;
  std::set<int> chipSelects;
  std::set<int> heldHigh;
};

const std::vector<ProductCells>& products() {
  static const std::vector<ProductCells> all = {
      {Obrin, "", 298, '1',
       cells("3-9 by 2, 12-58 by 2, 61, 65-169 by 2, 172, 174, 179-185 by 2, 188-222 by 2, 241-255 by 2, "
             "266-296 by 2"),
       cells("1, 2-10 by 2, 11-57, 59, 60, 62-64, 66-170 by 2, 171-175 by 2, 176-178, 180-186 by 2, "
             "187-223 by 2, 224-240, 242-256 by 2, 257-265, 267-295 by 2"),
       cells("82, 150, 177, 178-186 by 2, 261"), {}},
      {Tqr2400, "chip=TQR2400", 298, '0',
       cells("9-77 by 2, 80, 97-125 by 2, 130-136 by 2, 143, 160-226 by 2, 238-244 by 2, 256, 267-297 by 2"),
       cells("1-8, 10-78 by 2, 79, 81-96, 98-126 by 2, 127-129, 131-137 by 2, 138-142, 144-159, "
             "161-227 by 2, 228-237, 239-245 by 2, 246-255, 257-266, 268-296 by 2"),
       cells("116-126 by 2, 127, 128"), {131}},
      // 46 is IKA's chip select for its first region, and is kept high with the others.
      {Ika, "chip=IKA", 185, '0', cells("18-42 by 2, 50-184 by 2"),
       cells("0-17, 19-43 by 2, 44-49, 51-183 by 2"), cells("39, 41, 46, 51-59 by 2"), {}},
      {Veskar, "chip=VESKAR", 80, '1', cells("1-79 by 2"), cells("0-78 by 2"), cells("0, 2, 4, 6, 36"), {}},
  };
  return all;
}

// Runs three full cycles and checks every cell of the image against what toggling may do to it.
TEST(PinToggling, EveryProductTogglesExactlyItsCells) {
  for (const ProductCells& p : products()) {
    for (int toggleCs : {0, 1}) {
      SCOPED_TRACE(std::string(p.board) + (toggleCs ? " toggleCs" : ""));
      ExtraRun job(p.board);
      const std::string before(productImage(static_cast<TargetProduct>(p.product)));
      job.run(p.product, PinToggling, toggleCs, stopDuringCycle(3));
      ASSERT_TRUE(job.page.boxes.empty());
      EXPECT_EQ(job.board->updateCount(), 6u);
      const auto& low = job.board->everLow();
      const auto& high = job.board->everHigh();
      for (int c = 0; c < p.length; ++c) {
        const size_t i = static_cast<size_t>(c);
        if (p.heldHigh.count(c)) {
          EXPECT_TRUE(high[i] && !low[i]) << "cell " << c << " must never go low";
        } else if (p.chipSelects.count(c)) {
          EXPECT_TRUE(high[i]) << "chip select " << c;
          EXPECT_EQ(low[i], toggleCs == 1) << "chip select " << c;
        } else if (p.toggled.count(c)) {
          EXPECT_TRUE(high[i] && low[i]) << "toggled cell " << c;
        } else if (p.enables.count(c)) {
          EXPECT_EQ(high[i], p.enableLevel == '1') << "output enable " << c;
          EXPECT_EQ(low[i], p.enableLevel == '0') << "output enable " << c;
        } else {
          EXPECT_EQ(high[i], before[i] == '1') << "untouched cell " << c;
          EXPECT_EQ(low[i], before[i] == '0') << "untouched cell " << c;
        }
      }
    }
  }
}

TEST(PinToggling, StopEndsAfterTheLowPhaseOnOneLogLine) {
  ExtraRun job("chip=VESKAR");
  job.run(Veskar, PinToggling, 0, stopDuringCycle(1));  // STOP pressed while the pins are high
  EXPECT_EQ(job.board->updateCount(), 2u) << "the started cycle completes";
  const std::string& pins = job.board->drivenPins();
  for (int c = 8; c < 80; c += 2) {
    if (c != 36) {
      EXPECT_EQ(pins[static_cast<size_t>(c)], '0') << "last scan is a low phase, cell " << c;
    }
  }
  EXPECT_EQ(job.page.log,
            "[Toggling All Boundary]\r\n"
            "  JTAG ID: Ver(0x0), Part(0x0022), Maker(0xB5E)\r\n"
            "  Start toggling ... STOP.\r\n"
            "\r\n");
  EXPECT_EQ(job.page.stopRequested.load(), 0) << "the job consumes the request";

  std::vector<std::string> controls;
  for (const auto& e : job.page.events) {
    if (e.what == "button") controls.push_back(e.text + (e.enabled ? "+" : "-"));
    if (e.what == "lock" || e.what == "unlock") controls.push_back(e.what);
  }
  EXPECT_EQ(controls, (std::vector<std::string>{"lock", "STOP+", "STOP-", "unlock"}));
  EXPECT_FALSE(job.board->extestActive()) << "the pins are handed back to the chip";
}

TEST(PinToggling, StopInTheLowWaitStillEndsTheCycle) {
  ExtraRun job("chip=IKA");
  job.run(Ika, PinToggling, 0, stopDuringCycle(2) + 3);
  EXPECT_EQ(job.board->updateCount(), 4u);
}

// Holds every write back until flush, as a remote cable does.
class BatchingPort : public PortIo {
 public:
  explicit BatchingPort(PortIo& target) : target_(target) {}
  void write(uint16_t port, uint8_t value) override { pending_.push_back({port, value}); }
  uint8_t read(uint16_t port) override {
    flush();
    return target_.read(port);
  }
  void flush() override {
    for (const auto& [port, value] : pending_) target_.write(port, value);
    pending_.clear();
  }

 private:
  PortIo& target_;
  std::vector<std::pair<uint16_t, uint8_t>> pending_;
};

TEST(PinToggling, EachPhaseReachesTheBoardBeforeItsWait) {
  restoreProductImages();
  auto board = sim::makeBoard("chip=TQR2400");
  BatchingPort port(*board);
  RecordingPage page;
  std::vector<uint64_t> updatesSeenWhileWaiting;
  int readings = 0;
  const TickSource ticks = [&] {
    updatesSeenWhileWaiting.push_back(board->updateCount());
    if (++readings == stopDuringCycle(2)) page.stopRequested.store(1);
    return int64_t{readings} * 60;
  };
  ExtraSettings settings;
  settings.product = Tqr2400;
  runExtraJob(page, port, settings, ticks);
  ASSERT_EQ(updatesSeenWhileWaiting.size(), 12u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(updatesSeenWhileWaiting[i], i / 3 + 1) << "reading " << i;
}

TEST(PinToggling, TheNextJobStartsFromTheImageLeftBehind) {
  ExtraRun first("chip=VESKAR");
  first.run(Veskar, PinToggling, 0);
  std::string expected(80, '0');
  for (int c = 1; c < 80; c += 2) expected[static_cast<size_t>(c)] = '1';
  for (int c : {0, 2, 4, 6, 36}) expected[static_cast<size_t>(c)] = '1';
  EXPECT_EQ(std::string(productImage(Veskar)), expected);

  // A job that drives nothing leaves it as it is; the next toggling run works on the same buffer.
  ExtraRun idRead("chip=VESKAR", false);
  idRead.run(Veskar, ReadJtagId);
  EXPECT_EQ(std::string(productImage(Veskar)), expected);
  ExtraRun second("chip=VESKAR", false);
  second.run(Veskar, PinToggling, 1);
  for (int c : {0, 2, 4, 6, 36}) expected[static_cast<size_t>(c)] = '0';
  EXPECT_EQ(std::string(productImage(Veskar)), expected);
  EXPECT_EQ(second.board->drivenPins(), expected);
}

TEST(PinToggling, VeskarTogglesThroughTheBoundaryRegister) {
  RecordingPort port;
  JtagCable cable(port);
  std::strcpy(cable.debugInstruction, "1001");  // left by an earlier flash access
  cable.bsrLength = 0;
  char name[8];
  PinToggler toggler;
  WiredToggleTarget target(kVeskarWiring);
  toggler.bind(cable, target, name);
  EXPECT_EQ(cable.bsrLength, 80);
  EXPECT_STREQ(cable.debugInstruction, "1001");
  EXPECT_STREQ(name, "VESKAR");
  EXPECT_EQ(toggler.bsrImage, productImage(Veskar));
}

TEST(PinToggling, FactoryKnowsExactlyTheFourProducts) {
  for (int p = 0; p < kProductCount; ++p) EXPECT_NE(makeToggleTarget(p), nullptr);
  EXPECT_EQ(makeToggleTarget(-1), nullptr);
  EXPECT_EQ(makeToggleTarget(4), nullptr);
}

TEST(PinToggler, WaitNeedsMoreThanTheGivenMilliseconds) {
  std::vector<int64_t> readings = {1000, 1099, 1100, 1101, 5000};
  size_t next = 0;
  PinToggler toggler([&] { return readings[next++]; });
  toggler.waitMs(100);
  EXPECT_EQ(next, 4u) << "a difference of exactly 100 does not end the wait";

  next = 0;
  readings = {7, 7, 8};
  toggler.waitMs(0);
  EXPECT_EQ(next, 3u);
}

}  // namespace
}  // namespace zorv::testing
