#include "text/number_text.h"

#include <gtest/gtest.h>

namespace zorv {
namespace {

TEST(NumberText, ReadsLikeThePageAlwaysHas) {
  EXPECT_EQ(readHexText("  0x1F000"), 0x1F000u);
  EXPECT_EQ(readHexText("0X20000000"), 0x20000000u);
  EXPECT_EQ(readHexText("abcZ12"), 0xABCu);
  EXPECT_EQ(readHexText(""), 0u);
  EXPECT_EQ(readHexText("0x"), 0u);
  EXPECT_EQ(readHexText("00000000FFFFFFFFx"), 0xFFFFFFFFu);
  EXPECT_EQ(readHexText("1FFFFFFFF"), std::nullopt);  // never wraps
  EXPECT_EQ(readDecimalText(" 12abc"), 12u);
  EXPECT_EQ(readDecimalText("-3"), 0u);
  EXPECT_EQ(readDecimalText("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(readDecimalText("4294967296"), std::nullopt);
}

}  // namespace
}  // namespace zorv
