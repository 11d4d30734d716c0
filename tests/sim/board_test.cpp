#include "sim/board.h"

#include <gtest/gtest.h>

#include "link/jtag_cable.h"
#include "targets/catalogue.h"

namespace zorv::sim {
namespace {

struct Probe {
  std::unique_ptr<Board> board;
  JtagCable cable;
  explicit Probe(const std::string& options) : board(makeBoard(options)), cable(*board) {}
  uint32_t identify(TargetProduct product) {
    if (cable.detectPort() != 0) return 0;
    cable.pulseTrst();
    cable.resetTap();
    char name[8];
    loadChip(cable, product, name, ChipVariant::Boundary);
    std::string message;
    return cable.readIdCode(message);
  }
};

TEST(Board, AnswersTheIdentificationOfEachChip) {
  EXPECT_EQ(Probe("").identify(Obrin), 0x00AECADDu);
  EXPECT_EQ(Probe("chip=tqr2400").identify(Tqr2400), 0x100015B9u);
  EXPECT_EQ(Probe("chip=IKA").identify(Tqr2400), 0x100015B9u) << "same code, cannot be told apart";
  EXPECT_EQ(Probe("chip=VESKAR").identify(Veskar), 0x0022B5E1u);
  EXPECT_EQ(Probe("chip=TQR2400").identify(Obrin), 0u);
}

TEST(Board, Faults) {
  Probe noPort("noport");
  EXPECT_NE(noPort.cable.detectPort(), 0);
  EXPECT_EQ(Probe("noboard").identify(Obrin), 0u);
  EXPECT_EQ(Probe("tdo=1").identify(Obrin), 0u);
  EXPECT_EQ(Probe("tdo=0").identify(Obrin), 0u);
  EXPECT_THROW(makeBoard("chip=Z80"), std::invalid_argument);
  EXPECT_THROW(makeBoard("frobnicate=1"), std::invalid_argument);
  EXPECT_THROW(makeBoard("tdo=2"), std::invalid_argument);
}

TEST(Board, WalksAllSixteenTapStates) {
  Probe probe("");
  JtagCable& c = probe.cable;
  c.detectPort();
  Board& b = *probe.board;
  auto step = [&](int tms, TapState expected) {
    c.clockTck(tms, 0);
    EXPECT_EQ(b.tapState(), expected) << tapStateName(expected);
  };
  c.resetTap();
  EXPECT_EQ(b.tapState(), TapState::TestLogicReset);
  step(0, TapState::RunTestIdle);
  step(1, TapState::SelectDrScan);
  step(0, TapState::CaptureDr);
  step(0, TapState::ShiftDr);
  step(1, TapState::Exit1Dr);
  step(0, TapState::PauseDr);
  step(1, TapState::Exit2Dr);
  step(0, TapState::ShiftDr);
  step(1, TapState::Exit1Dr);
  step(1, TapState::UpdateDr);
  step(1, TapState::SelectDrScan);
  step(1, TapState::SelectIrScan);
  step(0, TapState::CaptureIr);
  step(0, TapState::ShiftIr);
  step(1, TapState::Exit1Ir);
  step(0, TapState::PauseIr);
  step(1, TapState::Exit2Ir);
  step(0, TapState::ShiftIr);
  step(1, TapState::Exit1Ir);
  step(1, TapState::UpdateIr);
  step(0, TapState::RunTestIdle);
  step(1, TapState::SelectDrScan);
  step(1, TapState::SelectIrScan);
  step(1, TapState::TestLogicReset);
  c.clockTck(0, 0);
  c.pulseTrst();
  EXPECT_EQ(b.tapState(), TapState::TestLogicReset);
}

TEST(Board, BoundaryRegisterUpdatesAndCapturesUnderExtest) {
  Probe probe("chip=IKA,nand=none,nor=none");
  probe.identify(Ika);
  probe.cable.loadExtest();
  Board& b = *probe.board;
  EXPECT_TRUE(b.extestActive());
  std::string image(185, '0');
  image[0] = '1';
  image[184] = '1';
  image[100] = '1';
  probe.cable.shiftDr(image.data(), 185);
  EXPECT_EQ(b.drivenPins(), image);
  EXPECT_TRUE(b.everHigh()[100]);
  EXPECT_FALSE(b.everLow()[100]);
  std::string captured(185, 'x');
  probe.cable.shiftDrCapture(image.data(), captured.data(), 185);
  EXPECT_EQ(captured, image) << "with no device, each cell captures what it drives";
  probe.cable.pulseTrst();
  EXPECT_FALSE(b.extestActive());
}

TEST(Board, BypassIsOneBitAndUnknownInstructionsSelectIt) {
  Probe probe("");
  probe.identify(Obrin);
  probe.cable.shiftIr("1111", 4);
  char bits[] = "10110";
  probe.cable.shiftDrCapture(bits, bits, 5);
  EXPECT_STREQ(bits, "01011") << "one cell of delay, captured as 0";
}

// Other devices on the chain answer as IEEE 1149.1 TAPs: IR capture 01, IDCODE (its first bit 1) or
// a 0 bypass bit after a reset, BYPASS for the all-ones instruction and for any other.
TEST(Board, OtherDevicesOnTheChain) {
  Probe probe("chain=8:target:5/0x06413041");
  JtagCable& c = probe.cable;
  c.detectPort();
  c.resetTap();
  std::string ir(8 + 4 + 5, '1');
  c.shiftIrCapture(ir.data(), ir.data(), 17);
  EXPECT_EQ(ir, "10000000" "1000" "10000") << "TDO first";
  c.resetTap();
  std::string dr(1 + 32 + 32 + 3, '1');
  c.shiftDrCapture(dr.data(), dr.data(), static_cast<int>(dr.size()));
  std::string expected = "0";
  for (uint32_t code : {0x00AECADDu, 0x06413041u}) {
    for (int b = 0; b < 32; ++b) expected += ((code >> b) & 1) != 0 ? '1' : '0';
  }
  EXPECT_EQ(dr, expected + "111");
  c.shiftIr("00000000" "1010" "11111", 17);
  EXPECT_EQ(probe.board->otherTaps()[0].foreignInstructions(), std::vector<std::string>{"00000000"});
  EXPECT_TRUE(probe.board->otherTaps()[1].foreignInstructions().empty());
  EXPECT_THROW(makeBoard("chain=8:5"), std::invalid_argument);
  EXPECT_THROW(makeBoard("chain=1:target"), std::invalid_argument);
  EXPECT_THROW(makeBoard("chain=target:5/0x06413040"), std::invalid_argument);
}

}  // namespace
}  // namespace zorv::sim
