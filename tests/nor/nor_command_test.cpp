#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// CTest runs tests as separate processes side by side, so every file carries the process id.
std::string scratch(const std::string& name) {
  return ::testing::TempDir() + "nor_cli_" + std::to_string(getpid()) + "_" + name;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Outcome runCli(const std::string& arguments) {
  const std::string command =
      std::string(ZORVJTAG_BINARY) + " " + arguments + " >" + scratch("out") + " 2>" + scratch("err");
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(scratch("out")), slurp(scratch("err"))};
}

std::string imagePath() {
  const std::string path = scratch("image.bin");
  std::ofstream(path, std::ios::binary) << std::string(300, '\x5A');
  return path;
}

TEST(NorCommand, ExitStatusFollowsTheJob) {
  const std::string image = imagePath();
  Outcome ok = runCli("--cable sim:nor=S29AL008D nor --product obrin --type S29AL008D --block 1 " + image);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_NE(ok.out.find("  Programming and Verifying to 0x10000 ... OK.\n"), std::string::npos) << ok.out;
  Outcome hex = runCli("--cable sim:nor=S29AL008D nor --product obrin --type S29AL008D --block 0x1 " + image);
  EXPECT_NE(hex.out.find("  Programming and Verifying to 0x10000 ... OK.\n"), std::string::npos) << hex.out;
  EXPECT_NE(ok.err.find("Download Complete."), std::string::npos);

  Outcome refused = runCli("--cable sim nor --product OBRIN --type S29GL064M --width 8 " + image);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Cannot support for your flash setting."), std::string::npos) << refused.err;

  Outcome unitFailed =
      runCli("--cable sim:nor=S29AL008D,norprogramfail=0x10 nor --product OBRIN --type S29AL008D " + image);
  EXPECT_EQ(unitFailed.status, 1) << "a unit that never reads back is a failure, though it shows no box";
  EXPECT_NE(unitFailed.out.find("  Write to 0x10 failed\n"), std::string::npos) << unitFailed.out;

  EXPECT_EQ(runCli("--cable sim nor --product OBRIN --type S29XX " + image).status, 2);
  EXPECT_EQ(runCli("--cable sim nor --product OBRIN --width 32 " + image).status, 2);
  EXPECT_EQ(runCli("--cable sim nor --type S29GL064M " + image).status, 2);
}

TEST(NorCommand, VeskarIgnoresTheBusOptions) {
  const Outcome run = runCli("--cable sim:chip=VESKAR nor --product VESKAR --type S29GL064M --width 16 "
                             "--interleave 2 --base 100 " + imagePath());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("(EN29LV040A)"), std::string::npos) << run.out;
}

TEST(NorCommand, InterleavedPairDefaultsToByteWideParts) {
  const Outcome run =
      runCli("--cable sim:nor=EN29LV040A,interleave=2 nor --product OBRIN --type EN29LV040A --interleave 2 " +
             imagePath());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("  Type: EN29LV040A, Interleave: 2, Width: 8\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Device: 0x4F4F (EN29LV040A)"), std::string::npos) << run.out;
}

// Read the lenient way of the page, these would all start a download at block or base 0.
TEST(NumberOptions, AnythingButAWholeNumberOf32BitsIsAUsageError) {
  const std::string image = imagePath();
  const std::string commands[] = {"nor --product OBRIN --type S29AL008D --block ", "nor --product OBRIN --base ",
                                  "nand --product OBRIN --block "};
  for (const std::string& command : commands) {
    const bool base = command.find("--base") != std::string::npos;
    // "abc" is a hexadecimal base; "12g" is not.
    for (const std::string value : {base ? "xyz" : "abc", base ? "12g" : "12abc", "-1", "''", "0X10",
                                    base ? "100000000" : "4294967296"}) {
      const Outcome run = runCli("--cable sim:nor=S29AL008D " + command + value + " " + image);
      EXPECT_EQ(run.status, 2) << command << value;
      EXPECT_EQ(run.out.find("[Download"), std::string::npos) << command << value;
    }
  }
}

TEST(NorCommand, SkipOptionsReachTheJobs) {
  const std::string image = imagePath();
  Outcome nor = runCli("--cable sim:nor=K8D6316 nor --product OBRIN --type K8D6316 --skip-ff --skip-unchanged " + image);
  EXPECT_EQ(nor.status, 0) << nor.err;
  EXPECT_NE(nor.out.find("  Unchanged sectors skipped: 0\n  Blank units skipped: 0\n"), std::string::npos) << nor.out;
  Outcome nand = runCli("--cable sim:chip=IKA nand --product IKA --skip-ff " + image);
  EXPECT_EQ(nand.status, 0) << nand.err;
  EXPECT_NE(nand.out.find("  Blank pages skipped: 0\n"), std::string::npos) << nand.out;
}

}  // namespace
