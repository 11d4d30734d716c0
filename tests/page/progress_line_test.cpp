#include "page/progress_line.h"

#include <gtest/gtest.h>

namespace zorv {
namespace {

using Clock = ProgressLine::Clock;
using std::chrono::seconds;

TEST(ProgressLine, RateAndEtaComeFromTheCurrentPhaseOnly) {
  ProgressLine line;
  const Clock::time_point t0{};
  line.count(0, 1 << 20, t0);
  EXPECT_EQ(line.text(), "  0%  0 B / 1.0 MiB  elapsed 0:00");  // no rate, and so no ETA, before one is measured
  // A slow first phase at 2 KiB/s, timed from its first count with bytes done...
  line.count(1024, 1 << 20, t0 + seconds(100));
  line.count(1024 + 256 * 2048, 1 << 20, t0 + seconds(356));
  line.setPercent(50);
  line.setElapsed(356);
  EXPECT_EQ(line.text(), "  50%  513 KiB / 1.0 MiB  2.0 KiB/s  elapsed 5:56  ETA 4:16");
  // ...then verify starts over from 0 at 16 KiB/s: its ETA must not be taken from the program rate.
  line.count(0, 1 << 20, t0 + seconds(400));
  line.count(16 * 1024, 1 << 20, t0 + seconds(401));
  line.count(3 * 16 * 1024, 1 << 20, t0 + seconds(403));
  line.setPercent(4);
  line.setElapsed(3603);
  EXPECT_EQ(line.text(), "  4%  48 KiB / 1.0 MiB  16 KiB/s  elapsed 1:00:03  ETA 1:01");
}

// A narrow terminal loses the elapsed time first, then the rate, then the byte counts: what is
// left to wait (percentage and ETA) stays.
TEST(ProgressLine, NarrowLineDropsTheLeastUsefulFieldsFirst) {
  ProgressLine line;
  const Clock::time_point t0{};
  line.count(1024, 1 << 20, t0 + seconds(100));
  line.count(1024 + 256 * 2048, 1 << 20, t0 + seconds(356));
  line.setPercent(50);
  line.setElapsed(356);
  EXPECT_EQ(line.text(59), "  50%  513 KiB / 1.0 MiB  2.0 KiB/s  elapsed 5:56  ETA 4:16");
  EXPECT_EQ(line.text(58), "  50%  513 KiB / 1.0 MiB  2.0 KiB/s  ETA 4:16");
  EXPECT_EQ(line.text(39), "  50%  513 KiB / 1.0 MiB  ETA 4:16");
  EXPECT_EQ(line.text(20), "  50%  ETA 4:16");
}

TEST(ProgressLine, RedrawnAtMostFiveTimesASecond) {
  ProgressLine line;
  const Clock::time_point t0{};
  int draws = 0;
  for (int ms = 0; ms < 1000; ms += 10) draws += line.dueForRedraw(t0 + std::chrono::milliseconds(ms)) ? 1 : 0;
  EXPECT_EQ(draws, 5);
}

}  // namespace
}  // namespace zorv
