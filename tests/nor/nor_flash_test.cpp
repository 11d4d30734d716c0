#include "nor/nor_flash.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cable/recording_port.h"
#include "nor/flash_types.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "sim/nor_attach.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

// A bus that only records: writes and pin changes in order, reads answered by a function.
class FakeNorTarget : public NorTarget {
 public:
  struct Access {
    char kind;  // 'w' write, 'r' read, 'p' pin
    uint32_t address;
    uint32_t value;
    bool operator==(const Access&) const = default;
  };
  std::vector<Access> log;
  std::function<uint32_t(uint32_t)> answer = [](uint32_t) { return 0u; };
  int prepareResult = 0;

  void init(JtagCable&, char* productName, char** image) override {
    productName[0] = 0;
    *image = buffer;
  }
  int setData(char*, uint32_t, int, int) override { return 0; }
  void setAddress(char*, uint32_t) override {}
  int readCycle(JtagCable&, char*, char*, uint32_t address, uint32_t* values, int, int) override {
    values[0] = answer(address);
    log.push_back({'r', address, values[0]});
    return 0;
  }
  int writeCycle(JtagCable&, char*, uint32_t address, uint32_t value, int, int) override {
    log.push_back({'w', address, value});
    return 0;
  }
  uint32_t getData(const char*, int) override { return 0; }
  int chipSelectCell(uint32_t) override { return 77; }
  void setPin(JtagCable&, int position, char*, char level) override {
    log.push_back({'p', static_cast<uint32_t>(position), static_cast<uint32_t>(level)});
  }
  int prepare(JtagCable&, char*, char*) override { return prepareResult; }

  std::vector<Access> writes() const {
    std::vector<Access> out;
    for (const auto& a : log)
      if (a.kind == 'w') out.push_back(a);
    return out;
  }
  char buffer[640] = {};
};

class NorFlashTest : public ::testing::Test {
 protected:
  NorFlashTest() {
    char name[8];
    flash.bindTarget(cable, target, name);
    flash.chooseChipSelect(0, target);
  }
  NullPort port;
  JtagCable cable{port};
  FakeNorTarget target;
  NorFlash flash;
  RecordingPage page;
};

TEST_F(NorFlashTest, CommandSetsPerTypeAndBus) {
  struct Row {
    int type, width, interleave, busWidth;
    uint32_t mask, ua1, ua2, ud1, ud2, maker, device, expected, eraseSetup, sectorErase;
  };
  const Row rows[] = {
      {En29lv010a, 8, 1, 8, 0xFF, 0x555, 0x2AA, 0xAA, 0x55, 0x100, 1, 0x6E, 0x80, 0x30},
      {Am29lv040b, 8, 1, 8, 0xFF, 0x555, 0x2AA, 0xAA, 0x55, 0, 1, 0x4F, 0x80, 0x30},
      {En29lv040a, 8, 2, 16, 0xFFFF, 0xAAA, 0x554, 0xAAAA, 0x5555, 0x200, 2, 0x4F4F, 0x8080, 0x3030},
      {Am29lv040b, 8, 2, 16, 0xFFFF, 0xAAA, 0x554, 0xAAAA, 0x5555, 0, 2, 0x4F4F, 0x8080, 0x3030},
      {S29al004d, 16, 1, 16, 0xFFFF, 0xAAA, 0x554, 0xAA, 0x55, 0, 2, 0, 0x80, 0x30},
      {S29al008d, 8, 1, 8, 0xFF, 0xAAA, 0x555, 0xAA, 0x55, 0, 2, 0, 0x80, 0x30},
      {S29gl128m, 16, 1, 16, 0xFFFF, 0xAAA, 0x554, 0xAA, 0x55, 0, 2, 0x227E, 0x80, 0x30},
      {K8d6316, 16, 1, 16, 0xFFFF, 0xAAA, 0x554, 0xAA, 0x55, 0, 2, 0x22E2, 0x80, 0x30},
      {Sst39vf6401, 16, 1, 16, 0xFFFF, 0xAAAA, 0x5554, 0xAAAA, 0x5555, 0, 2, 0x236B, 0x8080, 0x50},
  };
  for (const Row& row : rows) {
    NorFlash f;
    f.deviceIndex = row.type;
    ASSERT_EQ(f.applySetting(row.width, row.interleave), 0) << row.type;
    EXPECT_EQ(f.busWidth, row.busWidth) << row.type;
    EXPECT_EQ(f.interleave, row.interleave);
    EXPECT_EQ(f.dataMask, row.mask);
    EXPECT_EQ(f.unlockAddress1, row.ua1);
    EXPECT_EQ(f.unlockAddress2, row.ua2) << row.type;
    EXPECT_EQ(f.unlockData1, row.ud1);
    EXPECT_EQ(f.unlockData2, row.ud2);
    EXPECT_EQ(f.makerIdAddress, row.maker) << row.type;
    EXPECT_EQ(f.deviceIdAddress, row.device);
    EXPECT_EQ(f.expectedDeviceId, row.expected) << row.type;
    EXPECT_EQ(f.eraseSetupCommand, row.eraseSetup);
    EXPECT_EQ(f.sectorEraseCommand, row.sectorErase) << row.type;
  }
  NorFlash gl;
  gl.deviceIndex = S29gl064m;
  ASSERT_EQ(gl.applySetting(16, 1), 0);
  EXPECT_EQ(gl.writeBufferCommand, 0x25u);
  EXPECT_EQ(gl.bufferConfirmCommand, 0x29u);
  EXPECT_EQ(gl.cfiQueryAddress, 0xAAu);
  EXPECT_EQ(gl.cfiQueryCommand, 0x98u);
  EXPECT_EQ(gl.programCommand, 0xA0u);
}

TEST_F(NorFlashTest, UnsupportedSettingsChangeNothing) {
  const std::pair<int, std::pair<int, int>> refused[] = {
      {S29gl064m, {16, 2}}, {En29lv010a, {16, 1}}, {S29gl064m, {8, 1}}, {S29al004d, {16, 2}},
      {Sst39vf6401, {8, 1}}, {AutoDetect, {8, 1}}, {-1, {8, 1}},
  };
  for (const auto& [type, setting] : refused) {
    NorFlash f;
    f.deviceIndex = type;
    EXPECT_EQ(f.applySetting(setting.first, setting.second), -1) << type;
    EXPECT_EQ(f.busWidth, 8);
    EXPECT_EQ(f.unlockAddress1, 0u);
    EXPECT_EQ(f.resetCommand, 0u);
  }
}

TEST_F(NorFlashTest, ReadIdsWithInterleavedDevices) {
  flash.deviceIndex = En29lv040a;
  flash.base = 0x1000;
  ASSERT_EQ(flash.applySetting(8, 2), 0);
  target.answer = [](uint32_t address) { return address == 0x1200 ? 0x1C1Cu : 0x4F4Fu; };
  ASSERT_EQ(flash.readIds(cable, target), 0);
  const std::vector<FakeNorTarget::Access> expected = {
      {'p', 77, '0'},        {'w', 0x1AAA, 0xAAAA}, {'w', 0x1554, 0x5555}, {'w', 0x1AAA, 0x9090},
      {'r', 0x1200, 0x1C1C}, {'r', 0x1002, 0x4F4F}, {'w', 0x1000, 0xF0F0}, {'p', 77, '1'},
  };
  EXPECT_EQ(target.log, expected);
  EXPECT_EQ(flash.checkId(En29lv040a), 0);
  EXPECT_EQ(flash.tableDeviceCode(), 0x4Fu);
}

TEST_F(NorFlashTest, ReadIdsMasksCodesToTheBusAndStopsWhenPrepareFails) {
  flash.deviceIndex = En29lv040a;
  ASSERT_EQ(flash.applySetting(8, 1), 0);
  target.answer = [](uint32_t address) { return address == 0x100 ? 0xFF1Cu : 0xFF4Fu; };
  ASSERT_EQ(flash.readIds(cable, target), 0);
  EXPECT_EQ(flash.makerId, 0x1Cu);
  EXPECT_EQ(flash.deviceId, 0x4Fu);
  target.log.clear();
  target.prepareResult = -1;
  EXPECT_EQ(flash.readIds(cable, target), -1);
  EXPECT_TRUE(target.log.empty());
}

TEST_F(NorFlashTest, CheckIdRules) {
  flash.deviceIndex = S29al004d;
  ASSERT_EQ(flash.applySetting(16, 1), 0);
  for (uint32_t code : {0x22B9u, 0x22BAu, 0x11B9u}) {
    flash.deviceId = code;
    EXPECT_EQ(flash.checkId(S29al004d), 0) << code;
    EXPECT_EQ(flash.expectedDeviceId, code);
  }
  flash.deviceId = 0x22DA;
  EXPECT_EQ(flash.checkId(S29al004d), -1);
  EXPECT_EQ(flash.checkId(S29al008d), 0);
  flash.deviceId = 0x225B;
  EXPECT_EQ(flash.checkId(S29al008d), 0);
  flash.deviceId = 0x227E;
  flash.expectedDeviceId = 0x227E;
  EXPECT_EQ(flash.checkId(S29gl064m), 0);
  flash.deviceId = 0x227F;
  EXPECT_EQ(flash.checkId(S29gl064m), -1);
  EXPECT_EQ(flash.checkId(AutoDetect), -1);
  EXPECT_EQ(flash.checkId(-1), -1);
}

TEST_F(NorFlashTest, DeviceCodeTableFor22DA) {
  flash.deviceIndex = S29al008d;
  ASSERT_EQ(flash.applySetting(16, 1), 0);
  flash.deviceId = 0x22DA;
  ASSERT_EQ(flash.loadGeometry(cable, target), 0);
  EXPECT_TRUE(target.log.empty());  // no bus access
  EXPECT_EQ(flash.sectorCount, 19);
  EXPECT_EQ(flash.sectorStart[15], 0xF0000u);
  EXPECT_EQ(flash.sectorStart[16], 0xF8000u);
  EXPECT_EQ(flash.sectorStart[18], 0xFC000u);
  EXPECT_EQ(flash.sectorStart[19], 0x100000u);
  EXPECT_EQ(flash.deviceSize, 0x100000u);
}

TEST_F(NorFlashTest, DeviceCodeTableMatchesByteModeAndInterleavedCodes) {
  flash.deviceIndex = S29al004d;
  ASSERT_EQ(flash.applySetting(8, 1), 0);
  flash.deviceId = 0xBA;
  ASSERT_EQ(flash.loadGeometry(cable, target), 0);
  EXPECT_EQ(flash.sectorCount, 11);
  EXPECT_EQ(flash.sectorStart[1], 0x4000u);  // the 16 KB boot sector comes first
  EXPECT_EQ(flash.regions[0], 0x00400000u);

  NorFlash pair;
  pair.deviceIndex = En29lv010a;
  ASSERT_EQ(pair.applySetting(8, 2), 0);
  pair.deviceId = 0x6E6E;
  ASSERT_EQ(pair.loadGeometry(cable, target), 0);
  EXPECT_EQ(pair.regions[0], 0x00800007u);  // 8 x 32 KB across both devices
  EXPECT_EQ(pair.sectorStart[8], 0x40000u);

  NorFlash unknown;
  unknown.deviceIndex = S29al008d;
  ASSERT_EQ(unknown.applySetting(16, 1), 0);
  unknown.deviceId = 0x12DA;
  EXPECT_EQ(unknown.loadGeometry(cable, target), -1);
}

TEST_F(NorFlashTest, SectorTableHoldsAtMost1024Sectors) {
  flash.base = 0x0300'0000;
  flash.deviceSize = 0x0100'0000;
  flash.regionCount = 2;
  flash.regions[0] = 0x0100'01FF;  // 512 x 64 KB
  flash.regions[1] = 0x0100'01FF;
  ASSERT_EQ(flash.buildSectorTable(), 0);
  EXPECT_EQ(flash.sectorCount, 1024);
  EXPECT_EQ(flash.sectorStart[0], 0x0300'0000u);
  EXPECT_EQ(flash.sectorStart[1024], 0x0700'0000u);
  flash.regions[1] = 0x0100'0200;  // one more
  EXPECT_EQ(flash.buildSectorTable(), -1);
  EXPECT_EQ(flash.sectorCount, 1024);
}

TEST_F(NorFlashTest, ADeviceWithoutQueryGetsOnlyTheMarkerReadsAndTheReset) {
  flash.deviceIndex = S29gl064m;
  flash.base = 0x1000;
  ASSERT_EQ(flash.applySetting(16, 1), 0);
  target.answer = [](uint32_t) { return 0xFFFFu; };  // the array, not the query area
  EXPECT_EQ(flash.loadGeometry(cable, target), -1);
  const std::vector<FakeNorTarget::Access> expected = {
      {'p', 77, '0'},        {'w', 0x10AA, 0x98},   {'r', 0x1020, 0xFFFF}, {'r', 0x1022, 0xFFFF},
      {'r', 0x1024, 0xFFFF}, {'w', 0x1000, 0xF0}, {'p', 77, '1'},
  };
  EXPECT_EQ(target.log, expected);
}

TEST_F(NorFlashTest, CfiQueryBuildsTheTableAndRefusesWithoutRegions) {
  flash.deviceIndex = Sst39vf6401;
  ASSERT_EQ(flash.applySetting(16, 1), 0);
  // Word offsets of the query area; the flash reads byte offsets, twice as large.
  target.answer = [](uint32_t address) -> uint32_t {
    switch (address / 2) {
      case 0x10: return 'Q';
      case 0x11: return 'R';
      case 0x12: return 'Y';
      case 0x27: return 23;
      case 0x2C: return 2;
      case 0x31: return 0x7F;
      case 0x34: return 0x01;  // 128 x 64 KB in the second descriptor
      default: return 0;
    }
  };
  ASSERT_EQ(flash.loadGeometry(cable, target), 0);
  EXPECT_EQ(flash.sectorCount, 128);
  EXPECT_EQ(flash.sectorStart[128], 0x800000u);
  const auto writes = target.writes();
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0], (FakeNorTarget::Access{'w', 0xAAAA, 0xAAAA}));
  EXPECT_EQ(writes[2], (FakeNorTarget::Access{'w', 0xAAAA, 0x98}));
  EXPECT_EQ(writes[3], (FakeNorTarget::Access{'w', 0, 0xF0}));
  EXPECT_EQ(target.log.back(), (FakeNorTarget::Access{'p', 77, '1'}));

  target.log.clear();
  target.answer = [](uint32_t address) -> uint32_t {
    const uint32_t word = address / 2;
    return word == 0x10 ? 'Q' : word == 0x11 ? 'R' : word == 0x12 ? 'Y' : word == 0x27 ? 23 : 0;
  };
  // No regions (or more than 8): refused, with the part back in read mode before the chip select
  // goes up and before any other read.
  for (const uint32_t regions : {0u, 9u}) {
    target.log.clear();
    target.answer = [regions](uint32_t address) -> uint32_t {
      const uint32_t word = address / 2;
      return word == 0x10 ? 'Q' : word == 0x11 ? 'R' : word == 0x12 ? 'Y' : word == 0x27 ? 23 : word == 0x2C ? regions : 0;
    };
    EXPECT_EQ(flash.loadGeometry(cable, target), -1);
    ASSERT_EQ(target.writes().size(), 4u);
    EXPECT_EQ(target.writes().back(), (FakeNorTarget::Access{'w', 0, 0xF0}));
    EXPECT_EQ(target.log.back(), (FakeNorTarget::Access{'p', 77, '1'}));
    EXPECT_EQ(target.log[target.log.size() - 2], target.writes().back());
  }
}

// A part that is not the type's is read over its query's size only where the query says it runs on
// this bus: an x8-only part (interface code 0) or an x32-only one (3) does not confirm a 16-bit bus.
TEST_F(NorFlashTest, OnlyAQueryForThisBusWidthConfirmsItsSize) {
  flash.deviceIndex = S29gl064m;
  ASSERT_EQ(flash.applySetting(16, 1), 0);
  for (const auto& [code, confirms] : {std::pair<uint32_t, bool>{0, false}, {1, true}, {2, true}, {3, false}, {5, true}}) {
    target.answer = [code = code](uint32_t address) -> uint32_t {
      switch (address / 2) {
        case 0x10: return 'Q';
        case 0x11: return 'R';
        case 0x12: return 'Y';
        case 0x27: return 23;
        case 0x28: return code;
        case 0x2C: return 1;
        case 0x2D: return 0x7F;
        case 0x30: return 0x01;
        default: return 0;
      }
    };
    ASSERT_EQ(flash.loadCfiGeometry(cable, target), 0) << code;
    EXPECT_EQ(flash.cfiConfirmsBusWidth(), confirms) << code;
  }
}

// The query's maximum multiplier 0 states no maximum: no wait can be derived, the part is polled.
TEST(ProgramTimes, AMultiplierOfZeroStatesNoMaximum) {
  EXPECT_EQ(programTimesFromQuery(4, 6, 4, 5).unitUs, 256u);
  EXPECT_EQ(programTimesFromQuery(4, 6, 4, 5).bufferUs, 2048u);
  EXPECT_EQ(programTimesFromQuery(4, 6, 0, 0).unitUs, 0u);
  EXPECT_EQ(programTimesFromQuery(4, 6, 0, 0).bufferUs, 0u);
}

TEST_F(NorFlashTest, ProgramBufferCountsAndAddresses) {
  flash.deviceIndex = S29gl064m;
  ASSERT_EQ(flash.applySetting(16, 1), 0);
  const uint16_t words[16] = {0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777, 0x8888,
                              0x9999, 0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD, 0xEEEE, 0xFFFF, 0x0F0F};
  ASSERT_EQ(flash.programBuffer(cable, target, 0x1000, words, 2), 0);
  std::vector<FakeNorTarget::Access> writes = target.writes();
  ASSERT_EQ(writes.size(), 6u);
  EXPECT_EQ(writes[2], (FakeNorTarget::Access{'w', 0x1000, 0x25}));
  EXPECT_EQ(writes[3], (FakeNorTarget::Access{'w', 0x1000, 0}));
  EXPECT_EQ(writes[4], (FakeNorTarget::Access{'w', 0x1000, 0x1111}));
  EXPECT_EQ(writes[5], (FakeNorTarget::Access{'w', 0x1000, 0x29}));

  target.log.clear();
  ASSERT_EQ(flash.programBuffer(cable, target, 0x1000, words, 32), 0);
  writes = target.writes();
  ASSERT_EQ(writes.size(), 2u + 2u + 16u + 1u);
  EXPECT_EQ(writes[3].value, 15u);
  for (uint32_t w = 0; w < 16; ++w) EXPECT_EQ(writes[4 + w].address, 0x1000 + 2 * w);
  EXPECT_EQ(writes[20], (FakeNorTarget::Access{'w', 0x101E, 0x29}));
  EXPECT_EQ(target.log.back().address, 0x101Eu);  // polled at the last word

  target.answer = [n = 0u](uint32_t) mutable { return (n++ & 1u) << 6; };  // toggles for ever
  EXPECT_EQ(flash.programBuffer(cable, target, 0x1000, words, 2), -1);
}

TEST_F(NorFlashTest, ProgramUnitMasksAndComparesToTheBus) {
  flash.deviceIndex = En29lv040a;
  ASSERT_EQ(flash.applySetting(8, 1), 0);
  target.answer = [](uint32_t) { return 0xFF80u; };
  uint32_t lastRead = 0;
  ASSERT_EQ(flash.programUnit(cable, target, 0x20, 0x180, lastRead), 0);
  EXPECT_EQ(target.writes().back(), (FakeNorTarget::Access{'w', 0x20, 0x80}));
  EXPECT_EQ(lastRead, 0x80u);

  // A unit that never reads back: the part is reset as after a failed program, and what the
  // address then holds is the value reported.
  target.log.clear();
  uint32_t reads = 0;
  target.answer = [&reads](uint32_t) { return ++reads <= NorFlash::kProgramPolls ? 0x7Fu : 0x3Fu; };
  EXPECT_EQ(flash.programUnit(cable, target, 0x20, 0x80, lastRead), -1);
  EXPECT_EQ(lastRead, 0x3Fu);
  ASSERT_EQ(target.log.size(), 6u + NorFlash::kProgramPolls);
  EXPECT_EQ(target.log[target.log.size() - 2], (FakeNorTarget::Access{'w', 0, 0xF0}));
}

class EraseRangeTest : public NorFlashTest {
 protected:
  void SetUp() override {
    flash.deviceIndex = S29gl064m;
    ASSERT_EQ(flash.applySetting(16, 1), 0);
    flash.deviceSize = 0x800000;
    flash.regionCount = 1;
    flash.regions[0] = 0x0100'007F;  // 128 x 64 KB
    ASSERT_EQ(flash.buildSectorTable(), 0);
  }
  int eraseCount() const {
    int n = 0;
    for (const auto& a : target.log) n += a.kind == 'w' && a.value == 0x30;
    return n;
  }
};

TEST_F(EraseRangeTest, DotsBreakBeforeThe60thAndEvery72nd) {
  uint32_t fail = 0;
  ASSERT_EQ(flash.eraseRange(page, cable, target, 0, 74 * 0x10000, fail), 0);
  EXPECT_EQ(page.log, "  Erasing " + std::string(59, '.') + "\r\n    ." + std::string(14, '.'));
  EXPECT_EQ(eraseCount(), 74);
  EXPECT_EQ(fail, 73u * 0x10000);
}

TEST_F(EraseRangeTest, EmptyImageErasesNothing) {
  uint32_t fail = 5;
  ASSERT_EQ(flash.eraseRange(page, cable, target, 3, 0, fail), 0);
  EXPECT_EQ(page.log, "  Erasing ");
  EXPECT_EQ(eraseCount(), 0);
  EXPECT_EQ(fail, 5u);
}

TEST_F(EraseRangeTest, RefusesStartsOffTheTableOrPastTheEnd) {
  uint32_t fail = 7;
  for (uint32_t block : {128u, 1000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(flash.eraseRange(page, cable, target, block, 1, fail), -1);
  }
  flash.base = 0x100;
  ASSERT_EQ(flash.buildSectorTable(), 0);
  EXPECT_EQ(flash.eraseRange(page, cable, target, 0, 1, fail), -1);
  EXPECT_EQ(page.boxes, std::vector<std::string>(4, "Writing address is not on sector boundary"));
  flash.base = 0;
  ASSERT_EQ(flash.buildSectorTable(), 0);
  EXPECT_EQ(flash.eraseRange(page, cable, target, 127, 0x10001, fail), -1);
  EXPECT_EQ(page.boxes.back(), "Image runs past the end of the flash");
  EXPECT_TRUE(target.log.empty());
  EXPECT_EQ(page.log, "");
  EXPECT_EQ(fail, 7u);
  // The last byte of the device is still inside.
  EXPECT_EQ(flash.eraseRange(page, cable, target, 127, 0x10000, fail), 0);
}

TEST_F(EraseRangeTest, BaseAboveTheDeviceMovesTheWholeTable) {
  flash.base = 0x2000'0000;
  ASSERT_EQ(flash.buildSectorTable(), 0);
  uint32_t fail = 0;
  ASSERT_EQ(flash.eraseRange(page, cable, target, 2, 0x10000, fail), 0);
  EXPECT_EQ(fail, 0x2002'0000u);
  EXPECT_EQ(flash.startAddress(2), 0x2002'0000u);
  const auto writes = target.writes();
  EXPECT_EQ(writes[0].address, 0x2000'0AAAu);
}

TEST_F(EraseRangeTest, ASectorThatKeepsTogglingStopsTheErase) {
  target.answer = [n = 0u](uint32_t) mutable { return (n++ & 1u) << 6; };
  uint32_t fail = 0;
  EXPECT_EQ(flash.eraseRange(page, cable, target, 1, 0x30000, fail), -1);
  EXPECT_EQ(page.boxes, std::vector<std::string>{"ERASE ERROR."});
  EXPECT_EQ(fail, 0x10000u);
  EXPECT_EQ(eraseCount(), 1);
  EXPECT_EQ(page.log, "  Erasing ");
  EXPECT_EQ(target.log.back(), (FakeNorTarget::Access{'p', 77, '1'}));
}

}  // namespace
}  // namespace zorv

namespace zorv {
namespace {

// On the virtual board, whose SST39VF6401 erases as the 0x236B part does: an image spanning two of its
// 64 KB blocks needs both blocks wholly erased, so that every word of it takes, on either side of the
// boundary. (A whole 64 KB image in single words is too slow a test; its erase and its edge words are
// what differ from a shorter one.)
TEST(NorFlashOnBoard, SstImageSpanningTwoBlocksIsWrittenExactly) {
  restoreProductImages();
  sim::BoardOptions options = sim::parseBoardOptions("chip=IKA,nor=SST39VF6401");
  sim::Board board(options);
  sim::AttachedNor nor = sim::attachNorDevice(board, options);
  for (uint32_t o = 0x10000; o < 0x30000; o += 0x100) nor.setBusByte(o, 0x00);
  JtagCable cable(board);
  ASSERT_EQ(cable.detectPort(), 0);
  cable.pulseTrst();
  cable.resetTap();
  std::unique_ptr<NorTarget> target = makeNorTarget(Ika);
  NorFlash flash;
  char name[8] = {};
  flash.deviceIndex = Sst39vf6401;
  flash.chooseChipSelect(0, *target);
  flash.bindTarget(cable, *target, name);
  ASSERT_EQ(flash.applySetting(16, 1), 0);
  cable.loadExtest();
  RecordingPage page;
  ASSERT_EQ(flash.readIds(cable, *target), 0);
  ASSERT_EQ(flash.checkId(Sst39vf6401), 0);
  ASSERT_EQ(flash.loadGeometry(cable, *target), 0);

  uint32_t failAddress = 0;
  const uint32_t imageBytes = 0x10000 + 64;
  ASSERT_EQ(flash.eraseRange(page, cable, *target, 1, imageBytes, failAddress), 0);
  const std::pair<uint32_t, uint16_t> words[] = {
      {0x10000, 0x1234}, {0x11000, 0x0BAD}, {0x1FFFE, 0xBEEF}, {0x20000, 0x5AA5}, {0x2003E, 0x0F0F}};
  flash.selectChip(cable, *target);
  for (const auto& [address, value] : words) {
    uint32_t lastRead = 0;
    EXPECT_EQ(flash.programUnit(cable, *target, address, value, lastRead), 0) << std::hex << address;
  }
  flash.deselectChip(cable, *target);

  for (uint32_t o = 0x10000; o < 0x30000; ++o) {
    uint8_t expected = 0xFF;
    for (const auto& [address, value] : words) {
      if (o == address) expected = static_cast<uint8_t>(value);
      if (o == address + 1) expected = static_cast<uint8_t>(value >> 8);
    }
    ASSERT_EQ(nor.busByte(o), expected) << std::hex << "offset 0x" << o;
  }
  EXPECT_EQ(nor.erasedRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x10000, 0x10000}, {0x20000, 0x10000}}));
  EXPECT_TRUE(board.violations().empty());
}

}  // namespace
}  // namespace zorv
