#include "targets/nor_target.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cable/recording_port.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

class NorTargetTest : public ::testing::Test {
 protected:
  void SetUp() override { restoreProductImages(); }

  char* init(int product) {
    target = makeNorTarget(product);
    char* image = nullptr;
    target->init(cable, name, &image);
    cable.dataPort = kLptDataPort;
    cable.statusPort = kLptStatusPort;
    return image;
  }

  NullPort port;
  JtagCable cable{port};
  std::unique_ptr<NorTarget> target;
  char name[8] = {};
};

// The cells that read '1' among the given ones.
std::string ones(const char* image, std::initializer_list<int> cells) {
  std::string text;
  for (int cell : cells) text += image[cell];
  return text;
}

TEST_F(NorTargetTest, FactoryKnowsFourProductsOnly) {
  EXPECT_EQ(makeNorTarget(-1), nullptr);
  EXPECT_EQ(makeNorTarget(4), nullptr);
  for (int p = 0; p < 4; ++p) EXPECT_NE(makeNorTarget(p), nullptr);
}

TEST_F(NorTargetTest, InitLoadsTheBoundaryChipOrVeskarsDebugAccess) {
  char* image = init(Tqr2400);
  EXPECT_STREQ(name, "TQR2400");
  EXPECT_EQ(cable.bsrLength, 298);
  EXPECT_EQ(image, productImage(Tqr2400));
  image = init(Veskar);
  EXPECT_STREQ(name, "VESKAR");
  EXPECT_EQ(cable.bsrLength, 0);
  EXPECT_STREQ(cable.debugInstruction, "1001");
  EXPECT_EQ(image, productImage(Veskar));
}

TEST_F(NorTargetTest, ObrinDataFillsEnablesAndLeavesUpperLinesAlone) {
  char* image = init(Obrin);
  image[279] = 'x';  // D8
  image[265] = 'y';  // D15
  // Released, as a read leaves them: every one must be driven again.
  for (int cell = 266; cell <= 296; cell += 2) image[cell] = '0';
  ASSERT_EQ(target->setData(image, 0xA5, 8, 0), 0);
  for (int cell = 266; cell <= 296; cell += 2) EXPECT_EQ(image[cell], '1') << cell;
  EXPECT_EQ(ones(image, {295, 293, 291, 289, 287, 285, 283, 281}), "10100101");
  EXPECT_EQ(image[279], 'x');
  EXPECT_EQ(image[265], 'y');
  // A 32-bit bus reaches the two upper groups.
  ASSERT_EQ(target->setData(image, 0x81000000u | 0x00010000u, 32, 0), 0);
  EXPECT_EQ(image[240], '1');  // D16
  EXPECT_EQ(image[241], '1');  // its enable
  EXPECT_EQ(image[221], '1');  // D24
  EXPECT_EQ(image[219], '0');  // D25
  EXPECT_EQ(image[207], '1');  // D31
}

TEST_F(NorTargetTest, AddressHandlingPerProduct) {
  char* image = init(Obrin);
  target->setAddress(image, 0x10000);
  EXPECT_EQ(image[223], '1');
  for (int cell = 224; cell <= 239; ++cell) EXPECT_EQ(image[cell], '0') << cell;
  for (int cell = 191; cell <= 203; cell += 2) EXPECT_EQ(image[cell], '0') << cell;
  target->setAddress(image, 0x00800000);  // A23, the last line OBRIN places
  EXPECT_EQ(image[191], '1');

  image = init(Tqr2400);
  target->writeCycle(cable, image, 0x04000002, 0, 1, 16);
  EXPECT_EQ(image[81], '1');
  EXPECT_EQ(image[78], '0');
  for (int n = 2; n <= 15; ++n) EXPECT_EQ(image[80 + n], '0') << n;
  for (int cell = 96; cell <= 114; cell += 2) EXPECT_EQ(image[cell], '0') << cell;

  image = init(Ika);
  uint32_t value = 0;
  char capture[640];
  target->readCycle(cable, image, capture, 0x20000010, &value, 1, 16);
  EXPECT_EQ(image[5], '1');
  EXPECT_EQ(image[0], '0');
  for (int n = 1; n <= 15; ++n) {
    if (n != 4) {
      EXPECT_EQ(image[n + 1], '0') << n;
    }
  }
  for (int cell = 17; cell <= 33; cell += 2) EXPECT_EQ(image[cell], '0') << cell;
}

// Each product's address lines A0, A1, ... and the cells that carry them, as the board schematics give them.
TEST_F(NorTargetTest, EveryAddressLineLandsOnItsOwnCell) {
  const std::pair<int, std::vector<int>> wiring[] = {
      {Obrin, {239, 238, 237, 236, 235, 234, 233, 232, 231, 230, 229, 228, 227, 226, 225, 224, 223,
               203, 201, 199, 197, 195, 193, 191}},
      {Tqr2400, {78, 81, 82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94, 95,
                 96, 98, 100, 102, 104, 106, 108, 110, 112, 114}},
      {Ika, {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 19, 21, 23, 25, 27, 29, 31, 33}},
  };
  for (const auto& [product, cells] : wiring) {
    char* image = init(product);
    for (size_t line = 0; line < cells.size(); ++line) {
      target->setAddress(image, 1u << line);
      for (size_t other = 0; other < cells.size(); ++other) {
        EXPECT_EQ(image[cells[other]], other == line ? '1' : '0')
            << "product " << product << ", A" << line << ", cell of A" << other;
      }
    }
  }
}

TEST_F(NorTargetTest, ChipSelectCellsByRegion) {
  init(Obrin);
  EXPECT_EQ(target->chipSelectCell(0x90000000), 178);
  EXPECT_EQ(target->chipSelectCell(0x00000000), 186);
  EXPECT_EQ(target->chipSelectCell(0xC0000000), 261);
  EXPECT_EQ(target->chipSelectCell(0xE0000000), -1);
  init(Tqr2400);
  EXPECT_EQ(target->chipSelectCell(0x90000000), 124);
  EXPECT_EQ(target->chipSelectCell(0xFFFFFFFF), 128);
  init(Ika);
  EXPECT_EQ(target->chipSelectCell(0x90000000), 57);
  EXPECT_EQ(target->chipSelectCell(0xE0000000), 41);
  init(Veskar);
  EXPECT_EQ(target->chipSelectCell(0x90000000), 0);
}

TEST_F(NorTargetTest, WidthsTheBusCannotCarryAreRefused) {
  char* image = init(Ika);
  const std::string before(image, 185);
  EXPECT_EQ(target->setData(image, 0, 32, 0), -1);
  EXPECT_EQ(target->writeCycle(cable, image, 0, 0, 1, 32), -1);
  EXPECT_EQ(std::string(image, 185).substr(63), before.substr(63));
  ASSERT_EQ(target->setData(image, 0x8001, 16, 0), 0);
  EXPECT_EQ(image[64], '0');  // D0 enable drives
  EXPECT_EQ(image[63], '1');
  EXPECT_EQ(image[93], '1');  // D15
}

TEST_F(NorTargetTest, ReadIsThreeScansAndWriteTwo) {
  RecordingPort recorder;
  JtagCable recordingCable(recorder);
  recordingCable.dataPort = kLptDataPort;
  recordingCable.statusPort = kLptStatusPort;
  auto tqr = makeNorTarget(Tqr2400);
  char* image = nullptr;
  tqr->init(recordingCable, name, &image);
  constexpr size_t kWritesPerScan = 2 * (298 + 6);
  char capture[640];
  uint32_t value = 0;
  tqr->readCycle(recordingCable, image, capture, 0x10, &value, 1, 16);
  EXPECT_EQ(recorder.writtenBytes().size(), 3 * kWritesPerScan);
  EXPECT_EQ(image[143], '1');  // bus released for the read
  EXPECT_EQ(image[131], '1');  // nOE high again
  recorder.accesses.clear();
  tqr->writeCycle(recordingCable, image, 0x10, 0x1234, 1, 16);
  EXPECT_EQ(recorder.writtenBytes().size(), 2 * kWritesPerScan);
  EXPECT_EQ(image[143], '0');
  EXPECT_EQ(image[133], '1');
  EXPECT_EQ(image[142], '0');  // D0
  EXPECT_EQ(image[145], '1');  // D2
  EXPECT_EQ(image[155], '1');  // D12
}

TEST_F(NorTargetTest, VeskarByteReadFrame) {
  char* image = init(Veskar);
  char capture[640];
  uint32_t value = 0;
  target->readCycle(cable, image, capture, 0x555, &value, 1, 8);
  const std::string expected = std::string("10101") + "00000000000" + "00000000000000000000010101010101" + "0001" +
                               "00000000" + "0000000000" + "1";
  ASSERT_EQ(expected.size(), 71u);
  EXPECT_EQ(std::string(image, 71), expected);

  target->writeCycle(cable, image, 0x2AA, 0x55, 1, 16);
  EXPECT_EQ(std::string(image, 69), std::string("10110") + "01000000000" + "00000000000000000000001010101010" +
                                        "0000" + "01010101" + "00000000" + "1");
}

TEST_F(NorTargetTest, VeskarPrepareReportsEachRefusal) {
  for (const auto& [options, box] : {std::pair<std::string, std::string>{"chip=VESKAR,veskarnodebug",
                                                                         "Cannot run debug mode on VESKAR"},
                                     {"chip=VESKAR,veskarcfgmask=F", "Cannot set flash config register of VESKAR"}}) {
    auto board = sim::makeBoard(options);
    JtagCable veskarCable(*board);
    ASSERT_EQ(veskarCable.detectPort(), 0);
    veskarCable.resetTap();
    auto veskar = makeNorTarget(Veskar);
    char* image = nullptr;
    veskar->init(veskarCable, name, &image);
    veskarCable.loadDebug();
    RecordingPage page;
    char capture[640];
    // As the NOR job does: the target answers a refusal, the job tells the user.
    const auto prepare = [&] {
      const int refusal = veskar->prepare(veskarCable, image, capture);
      if (refusal != BusReady) page.messageBox(busRefusalText(refusal));
      return refusal == BusReady ? 0 : -1;
    };
    EXPECT_EQ(prepare(), -1);
    EXPECT_EQ(page.boxes, std::vector<std::string>{box});
  }
}

}  // namespace
}  // namespace zorv
