#include "chain/chain_scan.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "chain/chip_identity.h"
#include "sim/board.h"
#include "targets/catalogue.h"
#include "text/format.h"

namespace zorv {
namespace {

// Another device as the board and the chain text both write it.
struct Other {
  int length;
  std::optional<uint32_t> idcode;
};

struct ChainCase {
  std::vector<Other> nearTdo;  // between the chip and TDO, nearest TDO first
  std::vector<Other> nearTdi;  // between TDI and the chip, nearest the chip first

  // The board's option ("8:target:5/0x..."), or the description ("8,target,5:0x...").
  std::string text(char separator, const char* idPrefix) const {
    std::string joined;
    const auto add = [&](const Other& o) {
      joined += format("%d", o.length);
      if (o.idcode) joined += format("%s%08X", idPrefix, *o.idcode);
      joined += separator;
    };
    for (const Other& o : nearTdo) add(o);
    joined += "target";
    joined += separator;
    for (const Other& o : nearTdi) add(o);
    joined.pop_back();
    return joined;
  }
  std::string board() const { return "chain=" + text(':', "/0x"); }
  std::string description() const { return text(',', ":0x"); }
};

// Chains of 0 to 3 other devices on either side, instruction lengths 2 to 32, with and without IDCODE.
std::vector<ChainCase> everyShape() {
  const int lengths[] = {2, 32, 5, 8, 3, 17, 7};
  std::vector<ChainCase> cases;
  int next = 0;
  for (int before = 0; before <= 3; ++before) {
    for (int after = 0; after <= 3; ++after) {
      ChainCase c;
      for (int i = 0; i < before + after; ++i, ++next) {
        Other o{lengths[next % 7], std::nullopt};
        if (next % 2 == 0) o.idcode = 0x06413041u + static_cast<uint32_t>(next) * 0x10000u;
        (i < before ? c.nearTdo : c.nearTdi).push_back(o);
      }
      cases.push_back(c);
    }
  }
  return cases;
}

uint32_t identify(JtagCable& cable, const ChainDescription& chain, TargetProduct product, ChipIdentity& identity) {
  cable.detectPort();
  cable.pulseTrst();
  cable.resetTap();
  char name[8];
  loadChip(cable, product, name, ChipVariant::Boundary);
  identity = identifyChip(cable, chain, {name, false});
  return cable.idRead;
}

TEST(Chain, FindsAndPassesEveryShapeOfChain) {
  for (const ChainCase& c : everyShape()) {
    SCOPED_TRACE(c.board());
    auto board = sim::makeBoard("chip=IKA,nand=none,nor=none," + c.board());
    JtagCable cable(*board);
    const FoundChain found = findChain(cable);
    ASSERT_EQ(found.cableFault, "");
    std::vector<std::optional<uint32_t>> expected;
    size_t irBits = 4;
    for (const Other& o : c.nearTdo) expected.push_back(o.idcode), irBits += static_cast<size_t>(o.length);
    expected.push_back(0x100015B9u);
    for (const Other& o : c.nearTdi) expected.push_back(o.idcode), irBits += static_cast<size_t>(o.length);
    EXPECT_EQ(found.idcodes, expected);
    EXPECT_EQ(found.instructionCapture.size(), irBits);

    const ChainDescription chain = parseChainText(c.description());
    EXPECT_EQ(chainMismatch(found, chain, 4), "");
    ChipIdentity identity;
    EXPECT_EQ(identify(cable, chain, Ika, identity), 0x100015B9u) << "the ID read skips the other registers";
    EXPECT_TRUE(identity.identified) << identity.causeLine;
    // Counted through the bypass bits around it, and its cells given back what they captured.
    EXPECT_EQ(cable.measureBoundaryLength(cable.extestInstruction), 185);
    EXPECT_EQ(board->updateCount(), 1u);
    EXPECT_EQ(board->drivenPins(), std::string(185, '0'));
    for (const sim::ChainTap& tap : board->otherTaps()) EXPECT_TRUE(tap.foreignInstructions().empty());
  }
}

// Under EXTEST the count waits in Pause-DR: the right chip's next scan goes on from there with the
// count's captures, so its update is the first since the count, as without one; a reset meanwhile
// updates nothing, and anything else first gives the cells back what they captured.
TEST(Chain, TheCountedChipsNextScanIsItsFirstUpdate) {
  auto board = sim::makeBoard("chip=TQR2400,nand=none,nor=none,chain=3:target:6");
  JtagCable cable(*board);
  cable.detectPort();
  char name[8];
  loadChip(cable, Tqr2400, name, ChipVariant::Boundary);
  cable.padding = chainPadding(parseChainText("3,target,6"));
  std::string before(298, '0'), after(298, '1');
  for (size_t i = 0; i < 298; i += 7) before[i] = '1', after[i] = '0';
  cable.loadExtest();
  cable.shiftDr(before.data(), 298);
  ASSERT_EQ(board->updateCount(), 1u);

  EXPECT_EQ(cable.proveBoundaryLength(), 298);
  cable.loadExtest();  // already in force: passed over
  std::string captured(298, 'x');
  cable.shiftDrCapture(after.data(), captured.data(), 298);
  EXPECT_EQ(captured, before);
  EXPECT_EQ(board->drivenPins(), after);
  EXPECT_EQ(board->updateCount(), 2u);

  EXPECT_EQ(cable.proveBoundaryLength(), 298);
  uint8_t raw[10] = {};
  cable.shiftDrCaptureDeferred(before.data(), 298, 5, 10, raw);
  cable.collectCaptures();
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(JtagCable::capturedBit(raw[i]), after[5 + i]) << i;
  EXPECT_EQ(board->updateCount(), 3u);

  EXPECT_EQ(cable.proveBoundaryLength(), 298);
  cable.pulseTrst();
  EXPECT_EQ(board->updateCount(), 3u);
  EXPECT_EQ(board->tapState(), sim::TapState::TestLogicReset);

  cable.loadExtest();
  EXPECT_EQ(cable.proveBoundaryLength(), 298);
  cable.shiftIr("1011", 4);
  EXPECT_EQ(board->updateCount(), 4u);
  EXPECT_EQ(board->drivenPins(), before) << "what the cells captured";
  for (const sim::ChainTap& tap : board->otherTaps()) EXPECT_TRUE(tap.foreignInstructions().empty());
}

TEST(Chain, NamesWhatDiffersFromTheDescription) {
  auto board = sim::makeBoard("chain=5/0x06413041:target:8");
  const struct {
    const char* description;
    const char* mismatch;
  } cases[] = {
      {"5,target", "17 instruction register bits answer, the chain given has 9"},
      {"5,target,2,6", "3 devices answer, the chain given has 4"},
      {"target,5,8", "device 2 (5) captures no 01 at bit 4 of the instruction registers: the lengths do not match the "
                     "chain given"},
      {"5:0x06413043,target,8", "device 1 (5:0x06413043) answers IDCODE 0x06413041, expected 0x06413043 (mask "
                                "0xFFFFFFFF)"},
      {"5,target,8:0x06413041", "device 3 (8:0x06413041) answers no IDCODE, expected 0x06413041"},
      {"5:0x06413041,target,8", ""},
  };
  for (const auto& c : cases) {
    JtagCable cable(*board);
    EXPECT_EQ(chainMismatch(findChain(cable), parseChainText(c.description), 4), c.mismatch) << c.description;
  }
}

TEST(Chain, ACableWithNoChainBehindItIsNamed) {
  const struct {
    const char* board;
    const char* fault;
  } cases[] = {{"noboard", "TDO stays high: no device answers"}, {"tdo=0", "TDO stays low: no device answers"}};
  for (const auto& c : cases) {
    auto board = sim::makeBoard(c.board);
    JtagCable cable(*board);
    EXPECT_EQ(findChain(cable).cableFault, c.fault) << c.board;
  }
}

}  // namespace
}  // namespace zorv
