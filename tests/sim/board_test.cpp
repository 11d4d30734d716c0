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

}  // namespace
}  // namespace zorv::sim
