#include "sim/mpsse_interpreter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/board.h"

namespace zorv::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// A stream the chip would run otherwise than meant is an error the test sees, never a quiet
// difference on the board.
TEST(MpsseInterpreter, RefusesWhatTheChipWouldNotRunAsMeant) {
  struct Case {
    const char* what;
    Bytes stream;
    bool highSpeed;
    const char* message;
  };
  const Case cases[] = {
      {"unknown opcode", {0x85, 0xAA}, true, "unknown opcode 0xAA"},
      {"length past the transfer", {0x80, 0x08, 0x0B, 0x4B, 0x00, 0x01, 0x19, 0x03, 0x00, 0x01, 0x02}, true,
       "needs 4 more bytes"},
      {"data shift with TMS high", {0x80, 0x08, 0x0B, 0x1B, 0x02, 0x05}, true, "clocked with TMS high"},
      {"clock before the pins are outputs", {0x4B, 0x00, 0x01}, true, "not an output"},
      {"60 MHz base on a FT2232D", {0x8A}, false, "H-series"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto board = makeBoard("chip=IKA");
    MpsseInterpreter chip(*board, {0, c.highSpeed});
    try {
      chip.play(c.stream.data(), c.stream.size());
      ADD_FAILURE() << "no fault";
    } catch (const MpsseFault& fault) {
      EXPECT_NE(std::string(fault.what()).find(c.message), std::string::npos) << fault.what();
    }
  }
  // Reading past the answers: a 5-bit TMS move with read answers one byte, not two.
  auto board = makeBoard("chip=IKA");
  MpsseInterpreter chip(*board, {});
  const Bytes stream = {0x80, 0x08, 0x0B, 0x6B, 0x04, 0x1F, 0x87};
  chip.play(stream.data(), stream.size());
  uint8_t answers[2];
  EXPECT_THROW(chip.take(answers, 2), MpsseFault);
  chip.take(answers, 1);
  EXPECT_EQ(board->tapState(), TapState::TestLogicReset);
}

}  // namespace
}  // namespace zorv::sim
