#include "page/path_text.h"

#include <gtest/gtest.h>

namespace zorv {
namespace {

TEST(ShortenImagePath, KeepsTheFirstAndLastSeparators) {
  EXPECT_EQ(shortenImagePath("/home/ann/images/boot.bin"), "/.../boot.bin");
  EXPECT_EQ(shortenImagePath("/img/boot.bin"), "/.../boot.bin");
  EXPECT_EQ(shortenImagePath("/boot.bin"), "/...boot.bin") << "one separator: nothing removed";
  EXPECT_EQ(shortenImagePath("boot.bin"), "boot.bin");
  EXPECT_EQ(shortenImagePath("C:\\work\\images\\boot.bin", '\\'), "C:\\...\\boot.bin");
  EXPECT_EQ(shortenImagePath("\\\\srv\\share\\boot.bin", '\\'), "\\...\\boot.bin");
  EXPECT_EQ(shortenImagePath("C:\\boot.bin", '\\'), "C:\\...boot.bin");
}

}  // namespace
}  // namespace zorv
