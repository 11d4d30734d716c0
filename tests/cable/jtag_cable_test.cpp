#include "link/jtag_cable.h"

#include <gtest/gtest.h>

#include "cable/recording_port.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

using Bytes = std::vector<uint8_t>;

// The two port bytes of each (TMS, TDI) clock.
Bytes clocks(std::initializer_list<std::pair<int, int>> steps) {
  Bytes bytes;
  for (auto [tms, tdi] : steps) {
    const auto v = static_cast<uint8_t>(tdi | tms << 1);
    bytes.push_back(v | 0x08);
    bytes.push_back(v | 0x0C);
  }
  return bytes;
}

struct CableTest : ::testing::Test {
  RecordingPort port;
  JtagCable cable{port};
  void SetUp() override {
    cable.dataPort = kLptDataPort;
    cable.statusPort = kLptStatusPort;
  }
};

TEST_F(CableTest, DetectPortWithAndWithoutAPort) {
  JtagCable fresh(port);
  port.dataDefault = 0x55;
  EXPECT_EQ(fresh.detectPort(), 0);
  EXPECT_EQ(port.accesses, (std::vector<RecordingPort::Access>{
                               {true, 0x378, 0x55}, {false, 0x378, 0x55}, {true, 0x378, 0x0C}}));

  port.clear();
  port.dataDefault = 0xFF;
  JtagCable absent(port);
  EXPECT_NE(absent.detectPort(), 0);
  EXPECT_EQ(absent.dataPort, 0x378);
  EXPECT_EQ(absent.statusPort, 0x379);
  EXPECT_EQ(port.writtenBytes(), Bytes{0x55});  // nothing follows the test byte
}

TEST_F(CableTest, ResetSequencesAndSingleClocks) {
  cable.pulseTrst();
  EXPECT_EQ(port.writtenBytes(), (Bytes{0x0C, 0x04, 0x0C}));
  port.clear();
  cable.resetTap();
  EXPECT_EQ(port.writtenBytes(), (Bytes{0x0A, 0x0E, 0x0A, 0x0E, 0x0A, 0x0E, 0x0A, 0x0E, 0x0A, 0x0E}));
  port.clear();
  cable.clockTck(0, 0);
  cable.clockTck(1, 1);
  EXPECT_EQ(port.writtenBytes(), (Bytes{0x08, 0x0C, 0x0B, 0x0F}));
}

TEST_F(CableTest, InstructionScanClockSequence) {
  cable.shiftIr("0101", 4);
  const Bytes expected = clocks({{0, 0}, {1, 0}, {1, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 1}, {0, 0}, {1, 1}, {1, 1}, {0, 0}});
  EXPECT_EQ(expected.size(), 22u);
  EXPECT_EQ(port.writtenBytes(), expected);
}

TEST_F(CableTest, DataScansOfOneAndManyBits) {
  cable.shiftDr("1", 1);
  EXPECT_EQ(port.writtenBytes(), clocks({{0, 0}, {1, 0}, {0, 0}, {0, 0}, {1, 1}, {1, 1}, {0, 0}}));
  port.clear();
  cable.shiftDr("0110", 4);
  EXPECT_EQ(port.writtenBytes(), clocks({{0, 0}, {1, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 1}, {0, 1}, {1, 0}, {1, 0}, {0, 0}}));
  port.clear();
  cable.shiftDr("", 0);  // nothing to shift
  EXPECT_TRUE(port.accesses.empty());
}

TEST_F(CableTest, CaptureReadsStatusOncePerDataClockIntoTheSameBuffer) {
  port.scriptedReads = {0x40, 0x00, 0xFF, 0xBF};
  char bits[] = "1010";
  cable.shiftDrCapture(bits, bits, 4);
  EXPECT_STREQ(bits, "1010");
  // Reads come right after the rising edge of each data clock, none after update or idle.
  std::vector<int> readAfterWrite;
  int writes = 0;
  for (const auto& a : port.accesses) {
    if (a.isWrite) ++writes; else readAfterWrite.push_back(writes);
  }
  EXPECT_EQ(readAfterWrite, (std::vector<int>{10, 12, 14, 16}));
  EXPECT_EQ(writes, 20);
}

// Identification: the chip sends bit 0 first; the check compares the whole code but its version.
struct IdCodeTest : CableTest {
  void answerIdCode(uint32_t value) {
    for (int i = 0; i < 32; ++i) port.scriptedReads.push_back(((value >> i) & 1u) ? 0x40 : 0x00);
  }
  void load(TargetProduct product) {
    char name[8];
    loadChip(cable, product, name, ChipVariant::Boundary);
  }
};

TEST_F(IdCodeTest, DecodesEveryProduct) {
  struct Case { TargetProduct product; uint32_t code; const char* line; };
  const Case cases[] = {
      {Obrin, 0x00AECADD, "  JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)\r\n"},
      {Tqr2400, 0x100015B9, "  JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)\r\n"},
      {Ika, 0x100015B9, "  JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)\r\n"},
      {Veskar, 0x0022B5E1, "  JTAG ID: Ver(0x0), Part(0x0022), Maker(0xB5E)\r\n"},
  };
  for (const Case& c : cases) {
    load(c.product);
    answerIdCode(c.code);
    std::string message;
    EXPECT_EQ(cable.readIdCode(message), c.code) << c.line;
    EXPECT_EQ(message, c.line);
  }
}

TEST_F(IdCodeTest, StuckTdoFailsBothWays) {
  load(Tqr2400);
  port.statusDefault = 0xFF;  // no chip: TDO floats high, the version reads 0xF
  std::string message = "untouched";
  EXPECT_EQ(cable.readIdCode(message), 0u);
  EXPECT_EQ(message, "untouched");

  load(Obrin);
  port.statusDefault = 0x00;  // TDO held low: version 0 matches OBRIN, but the value 0 fails
  EXPECT_EQ(cable.readIdCode(message), 0u);
}

// Comparing the version field alone took an OBRIN board for VESKAR (both version 0).
TEST_F(IdCodeTest, TheWholeCodeCountsButItsVersion) {
  std::string message;
  load(Veskar);
  answerIdCode(0x00AECADD);  // an OBRIN board while VESKAR is selected
  EXPECT_EQ(cable.readIdCode(message), 0u);
  EXPECT_EQ(cable.idRead, 0x00AECADDu) << "kept for the log line";
  load(Obrin);
  answerIdCode(0x00AEDADD);  // one bit of the maker field off
  EXPECT_EQ(cable.readIdCode(message), 0u);
  answerIdCode(0x30AECADD);  // another silicon revision
  EXPECT_EQ(cable.readIdCode(message), 0x30AECADDu);
}

}  // namespace
}  // namespace zorv
