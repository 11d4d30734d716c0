#include "cli/run_zorvjtag.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A program the system cannot start is tried once more, and then named with the cause: a test
// that fails on it says why, not only "status -1" with no output.
TEST(RunZorvjtag, AStartThatFailsIsTriedAgainThenNamedWithItsCause) {
  ::testing::internal::CaptureStderr();
  const zorv::testing::Outcome outcome = zorv::testing::runProgram("/nonexistent/zorvjtag", {"--version"});
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(outcome.status, -1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err.rfind("could not start /nonexistent/zorvjtag, tried twice: ", 0), 0u) << outcome.err;
  EXPECT_GT(outcome.err.size(), std::string("could not start /nonexistent/zorvjtag, tried twice: ").size());
  EXPECT_NE(said.find("could not start /nonexistent/zorvjtag ("), std::string::npos) << said;
  EXPECT_NE(said.find("trying once more"), std::string::npos) << said;
}

}  // namespace
