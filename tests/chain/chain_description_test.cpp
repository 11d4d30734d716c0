#include "chain/chain_description.h"

#include <gtest/gtest.h>

namespace zorv {
namespace {

// Stands in for the BSDL reader: one file it knows, every other one it cannot read.
BsdlDevice fakeBsdl(const std::string& path) {
  if (path != "cpld.bsd") throw BsdlError(path, 1, "cannot open the file");
  BsdlDevice device;
  device.entity = "CPLD_X";
  device.instructionLength = 6;
  device.idcode = IdcodePattern{0x06413041u, 0x0FFFFFFFu};
  return device;
}

TEST(ChainDescription, ReadsEveryKindOfItemNearestTdoFirst) {
  const ChainDescription chain = parseChainText(" 8, TARGET ,5:0x06413041,cpld.bsd", fakeBsdl);
  ASSERT_EQ(chain.devices.size(), 4u);
  EXPECT_EQ(chain.devices[0].instructionLength, 8);
  EXPECT_FALSE(chain.devices[0].idcode);
  EXPECT_TRUE(chain.devices[1].isTarget);
  EXPECT_EQ(chain.devices[2].idcode->value, 0x06413041u);
  EXPECT_EQ(chain.devices[2].idcode->mask, 0xFFFFFFFFu);
  EXPECT_EQ(chain.devices[3].instructionLength, 6);
  EXPECT_EQ(chain.devices[3].idcode->mask, 0x0FFFFFFFu) << "the file's X bits are not compared";
  EXPECT_EQ(chain.devices[3].entity, "CPLD_X");
  EXPECT_EQ(chain.targetIndex(), 1u);
  EXPECT_EQ(chain.text(), "8,target,5:0x06413041,cpld.bsd");

  // The device nearer TDO is shifted first; the two nearer TDI last.
  const ChainPadding padding = chainPadding(chain);
  EXPECT_EQ(padding.irBefore, 8);
  EXPECT_EQ(padding.irAfter, 11);
  EXPECT_EQ(padding.drBefore, 1);
  EXPECT_EQ(padding.drAfter, 2);

  EXPECT_FALSE(parseChainText("  ").given());
  const ChainPadding alone = chainPadding(parseChainText(""));
  EXPECT_EQ(alone.irBefore + alone.irAfter + alone.drBefore + alone.drAfter, 0);
}

TEST(ChainDescription, RefusesWhatNoChainCanBeAndNamesTheItem) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"8", "no item is 'target': name the selected product's place on the chain"},
      {"target,8,target", "'target' is named more than once"},
      {"1,target", "item 1 ('1'): an instruction length is 2 to 64 bits"},
      {"target,65", "item 2 ('65'): an instruction length is 2 to 64 bits"},
      {"8,,target", "item 2 (''): an empty item (two commas, or one at an end)"},
      {"target,", "item 2 (''): an empty item (two commas, or one at an end)"},
      {"5:0x06413040,target", "item 1 ('5:0x06413040'): an IDCODE has bit 0 set"},
      {"5:06413041,target", "item 1 ('5:06413041'): an IDCODE is written as 0x and up to eight hexadecimal digits"},
      {"5:0x106413041,target", "item 1 ('5:0x106413041'): an IDCODE is written as 0x and up to eight hexadecimal digits"},
      {"5:,target", "item 1 ('5:'): an IDCODE is written as 0x and up to eight hexadecimal digits"},
      {"target,other.bsd", "item 2 ('other.bsd'): other.bsd:1: cannot open the file"},
  };
  for (const auto& c : cases) {
    try {
      parseChainText(c.text, fakeBsdl);
      ADD_FAILURE() << c.text << " was taken";
    } catch (const ChainError& error) {
      EXPECT_STREQ(error.what(), c.message) << c.text;
    }
  }
}

}  // namespace
}  // namespace zorv
