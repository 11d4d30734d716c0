#include <gtest/gtest.h>

#include "page/progress_text.h"
#include "page/recording_page.h"

namespace zorv {
namespace {

TEST(ProgressText, ClockMinutesDoNotWrap) {
  EXPECT_EQ(formatElapsed(0), "00 : 00");
  EXPECT_EQ(formatElapsed(59), "00 : 59");
  EXPECT_EQ(formatElapsed(60), "01 : 00");
  EXPECT_EQ(formatElapsed(3725), "62 : 05");
  EXPECT_EQ(formatElapsed(6000), "100 : 00");
}

TEST(ProgressText, ByteCounter) {
  EXPECT_EQ(formatByteCount(0, 4096), "0 / 4096 [Bytes]");
  EXPECT_EQ(formatByteCount(1024, 4096), "1024 / 4096 [Bytes]");
}

TEST(ShowProgress, SetsBarCounterAndClockTogether) {
  RecordingPage page;
  page.clock = 1000 + 3725;
  page.showProgress(1024, 4096, 1000);
  EXPECT_EQ(page.progressPosition, 25);
  EXPECT_EQ(page.byteCount, "1024 / 4096 [Bytes]");
  EXPECT_EQ(page.elapsed, "62 : 05");
  page.showProgress(4096, 4096, 1000);
  EXPECT_EQ(page.progressPosition, 100);
  page.showProgress(0, 0, 1000);
  EXPECT_EQ(page.progressPosition, 0) << "an empty image must not divide by zero";
}

// done * 100 leaves 32 bits beyond 42,949,672 bytes; the bar must still rise steadily to 100.
TEST(ShowProgress, LargeImagesRiseMonotonicallyToTheEnd) {
  RecordingPage page;
  for (int64_t total : {int64_t{42'949'673}, int64_t{600'000'000}, int64_t{4'294'967'295}}) {
    int previous = 0;
    for (int64_t done = 0; done <= total; done += total / 97) {
      page.showProgress(done, total, page.clock);
      ASSERT_GE(page.progressPosition, previous) << total << " at " << done;
      ASSERT_LE(page.progressPosition, 100);
      previous = page.progressPosition;
    }
    page.showProgress(total, total, page.clock);
    EXPECT_EQ(page.progressPosition, 100);
    page.showProgress(total / 2, total, page.clock);
    EXPECT_EQ(page.progressPosition, 49 + (total % 2 == 0 ? 1 : 0));
  }
}

}  // namespace
}  // namespace zorv
