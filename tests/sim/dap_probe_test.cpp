#include "sim/dap_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/board.h"

namespace zorv::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// Packets written out by hand from Arm's CMSIS-DAP documentation. A packet the probe would run
// otherwise than meant is an error the test sees, never a quiet difference on the board.
TEST(DapProbe, RefusesWhatAProbeWouldNotRunAsMeant) {
  const Bytes connect = {0x02, 0x02};
  struct Case {
    const char* what;
    std::vector<Bytes> packets;
    const char* message;
  };
  const Case cases[] = {
      {"sequence before DAP_Connect", {{0x14, 0x01, 0x01, 0x00}}, "not connected"},
      {"DAP_Info cut short", {{0x00}}, "DAP_Info of 1 bytes"},
      {"TDI bytes short of the clocks", {connect, {0x14, 0x01, 0x09, 0xFF}}, "needs 2 TDI bytes"},
      {"TDI bytes beyond the clocks", {connect, {0x14, 0x01, 0x08, 0xFF, 0x00}}, "do not match the clocks"},
      {"fewer sequences than announced", {connect, {0x14, 0x02, 0x01, 0x00}}, "holds 1"},
      {"a packet longer than the packet size", {connect, Bytes(65, 0x00)}, "the probe takes 64"},
      {"more commands than it buffers", {connect, {0x00, 0xFF}, {0x00, 0xFE}, {0x00, 0xF0}, {0x00, 0x04}}, "buffers 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto board = makeBoard("chip=IKA");
    DapProbe probe(*board, DapProbe::Config{});
    std::string fault;
    try {
      for (const Bytes& packet : c.packets) probe.command(packet.data(), packet.size());
    } catch (const DapProbeFault& error) {
      fault = error.what();
    }
    EXPECT_NE(fault, "");
    EXPECT_NE(fault.find(c.message), std::string::npos) << fault;
  }
  // The answers come back one per command, as the documentation lays them out, and no more.
  auto board = makeBoard("chip=IKA");
  DapProbe probe(*board, DapProbe::Config{});
  const Bytes reset = {0x14, 0x02, 0x45, 0x00, 0x81, 0x00};  // five clocks TMS high; one to Run-Test/Idle, captured
  for (const Bytes& packet : {Bytes{0x00, 0xFF}, connect, reset}) probe.command(packet.data(), packet.size());
  uint8_t answer[64];
  ASSERT_EQ(probe.answer(answer, sizeof answer), 4u);
  EXPECT_EQ(Bytes(answer, answer + 4), (Bytes{0x00, 0x02, 0x40, 0x00}));
  ASSERT_EQ(probe.answer(answer, sizeof answer), 2u);
  EXPECT_EQ(Bytes(answer, answer + 2), (Bytes{0x02, 0x02}));
  ASSERT_EQ(probe.answer(answer, sizeof answer), 3u);
  EXPECT_EQ(answer[1], 0x00);
  EXPECT_EQ(board->tapState(), TapState::RunTestIdle);
  EXPECT_THROW(probe.answer(answer, sizeof answer), DapProbeFault);
}

}  // namespace
}  // namespace zorv::sim
