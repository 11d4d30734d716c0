#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/run_zorvjtag.h"
#include "cli/size_option.h"

namespace {

namespace fs = std::filesystem;
using zorv::testing::runZorvjtag;

// CTest runs tests as separate processes side by side, so every file carries the process id.
std::string scratch(const std::string& name) {
  return ::testing::TempDir() + "read_cli_" + std::to_string(getpid()) + "_" + name;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string spit(const std::string& name, const std::string& bytes) {
  const std::string path = scratch(name);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return path;
}

std::string bytes(size_t size, unsigned seed) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7 + seed + (i >> 8)) & 0xFF);
  return text;
}

TEST(ReadCommands, SizesTakeHexadecimalAndSuffixesAndNothingElse) {
  using zorv::cli::readSizeOption;
  EXPECT_EQ(readSizeOption("1000"), 1000u);
  EXPECT_EQ(readSizeOption("0x400"), 0x400u);
  EXPECT_EQ(readSizeOption("3K"), 3u * 1024);
  EXPECT_EQ(readSizeOption("0x2M"), 2u * 1024 * 1024);
  EXPECT_EQ(readSizeOption("4096M"), uint64_t{1} << 32);
  EXPECT_EQ(readSizeOption("4G"), uint64_t{1} << 32);
  for (const char* bad : {"", "K", "0x", "12KB", "1.5M", "0X10", "4097M", "-1", "all", "5G", "G", "0x1000000001G"}) {
    EXPECT_FALSE(readSizeOption(bad)) << bad;
  }
  const std::string out = scratch("never.bin");
  EXPECT_EQ(runZorvjtag({"--cable", "sim", "nand-read", "--product", "OBRIN", "--size", "12KB", out}).status, 2);
  EXPECT_EQ(runZorvjtag({"--cable", "sim", "nand-read", "--product", "OBRIN", "--block", "x1", "--size", "1K", out})
                .status,
            2);
  EXPECT_EQ(runZorvjtag({"--cable", "sim", "nand-erase", "--product", "OBRIN", "--block", "1"}).status, 2);
  EXPECT_FALSE(fs::exists(out));
}

TEST(ReadCommands, ReadAndVerifyALoadedBoard) {
  const std::string contents = bytes(3000, 1);
  const std::string load = spit("load.bin", contents);
  const std::string out = scratch("nand.out");
  const std::string board = "sim:chip=VESKAR,nandload=" + load;
  auto read = runZorvjtag({"--cable", board, "nand-read", "--product", "VESKAR", "--size", "0xBB8", out});
  EXPECT_EQ(read.status, 0) << read.out << read.err;
  EXPECT_EQ(slurp(out), contents);
  EXPECT_FALSE(fs::exists(out + ".part"));

  EXPECT_EQ(runZorvjtag({"--cable", board, "nand-verify", "--product", "VESKAR", load}).status, 0);
  std::string changed = contents;
  changed[2049] = static_cast<char>(changed[2049] ^ 0x10);
  const auto differs = runZorvjtag({"--cable", board, "nand-verify", "--product", "VESKAR", spit("changed", changed)});
  EXPECT_EQ(differs.status, 1);
  EXPECT_NE(differs.out.find("  ERROR, ADDR: 0x801\n"), std::string::npos) << differs.out;
  EXPECT_NE(differs.err.find("Verify ERROR"), std::string::npos) << differs.err;

  // The spare-area options reach the jobs: a page with its 64 spare bytes, compared and written.
  read = runZorvjtag({"--cable", board, "nand-read", "--product", "VESKAR", "--oob", "--size", "2K", out});
  ASSERT_EQ(slurp(out).size(), 2048u + 64u) << read.out << read.err;
  EXPECT_EQ(runZorvjtag({"--cable", board, "nand-verify", "--product", "VESKAR", "--oob", out}).status, 0);
  EXPECT_EQ(runZorvjtag({"--cable", board, "nand-verify", "--product", "VESKAR", out}).status, 1);
  const auto restored = runZorvjtag({"--cable", "sim:chip=VESKAR", "nand", "--product", "VESKAR", "--oob", "--verify", out});
  EXPECT_EQ(restored.status, 0) << restored.out << restored.err;
  // A bad block padded with 0xFF: the next block's data stays at its offset on the flash.
  const std::string blocks = bytes(0x4200, 3);
  read = runZorvjtag({"--cable", "sim:chip=VESKAR,nand=0x75,nandbad=0,nandload=" + spit("blocks.bin", blocks),
                      "nand-read", "--product", "VESKAR", "--pad-bad", "--size", "0x4200", out});
  EXPECT_EQ(slurp(out), std::string(0x4000, '\xFF') + blocks.substr(0x4000)) << read.out << read.err;

  const std::string nor = bytes(0x8000, 2);
  const std::string norLoad = spit("norload.bin", nor);
  read = runZorvjtag({"--cable", "sim:chip=VESKAR,nor=EN29LV010A,norload=" + norLoad, "nor-read", "--product",
                      "VESKAR", "--block", "1", "--size", "1K", out});
  EXPECT_EQ(read.status, 0) << read.out << read.err;
  EXPECT_EQ(slurp(out), nor.substr(0x4000, 0x400));
  fs::remove(out);
}

// The default type (EN29LV010A) on the plain virtual board's S29GL064M: the part is not the type
// and has no query for its bus, so it is refused with the codes read, unless --raw asks for the bus
// as it is. A 16-bit bus cannot start a read at an odd byte.
TEST(ReadCommands, NorReadRefusesAPartItDoesNotKnowUnlessAskedAndAnOddBase) {
  const std::string out = scratch("nor_unknown.bin");
  auto read = runZorvjtag({"--cable", "sim", "nor-read", "--product", "OBRIN", "--size", "1K", out});
  EXPECT_EQ(read.status, 1) << read.out << read.err;
  EXPECT_NE(read.err.find("Unknown FLASH ID (Maker: 0x00FF, Device: 0x00FF): not EN29LV010A. Raw (--raw) reads the "
                          "bus as it is"),
            std::string::npos)
      << read.err;
  EXPECT_EQ(read.out.find("Reading"), std::string::npos) << read.out;
  EXPECT_FALSE(fs::exists(out));

  read = runZorvjtag({"--cable", "sim", "nor-read", "--product", "OBRIN", "--raw", "--size", "1K", out});
  EXPECT_EQ(read.status, 0) << read.out << read.err;
  EXPECT_NE(read.out.find("  Unknown device, no CFI: the bus is read as it is\n"), std::string::npos) << read.out;
  EXPECT_EQ(slurp(out).size(), 1024u);
  read = runZorvjtag({"--cable", "sim", "nor-verify", "--product", "OBRIN", "--raw", out});
  EXPECT_EQ(read.status, 0) << read.out << read.err;
  fs::remove(out);

  read = runZorvjtag(
      {"--cable", "sim", "nor-read", "--product", "OBRIN", "--type", "S29GL064M", "--base", "1", "--size", "1K", out});
  EXPECT_EQ(read.status, 1) << read.out << read.err;
  EXPECT_NE(read.err.find("Base 0x1 is odd: a 16-bit bus reads whole words, from an even address"), std::string::npos)
      << read.err;
  EXPECT_FALSE(fs::exists(out));
}

TEST(ReadCommands, InterruptedReadExitsWith130AndLeavesNoFile) {
  const std::string out = spit("interrupted.bin", "an older backup");
  const auto run = runZorvjtag({"--cable", "sim", "nand-read", "--product", "OBRIN", "--size", "all", out},
                               "  Reading from 0x0 ... ");
  EXPECT_EQ(run.status, 130) << run.out << run.err;
  EXPECT_NE(run.out.find("  STOP.\n"), std::string::npos) << run.out;
  EXPECT_EQ(slurp(out), "an older backup");
  EXPECT_FALSE(fs::exists(out + ".part"));
  fs::remove(out);
}

#ifndef _WIN32
// A closed terminal (SIGHUP) and a reader that went away (`| head -1`) stop the job as Ctrl-C
// does, even in a long read that prints nothing more until it ends: no partial file is left
// beside the older file.
TEST(ReadCommands, HangUpAndAClosedOutputStopTheReadAndLeaveNoFile) {
  for (const int signal : {SIGHUP, SIGPIPE}) {
    SCOPED_TRACE(signal == SIGHUP ? "SIGHUP" : "closed stdout");
    const std::string out = spit("hung_up.bin", "an older backup");
    const auto run = runZorvjtag({"--cable", "sim", "nand-read", "--product", "OBRIN", "--size", "all", out},
                                 "  Reading from 0x0 ... ", signal);
    EXPECT_EQ(run.status, 130) << run.out << run.err;
    if (signal == SIGHUP) {
      EXPECT_NE(run.out.find("  STOP.\n"), std::string::npos) << run.out;
    }
    EXPECT_EQ(slurp(out), "an older backup");
    for (const auto& entry : fs::directory_iterator(fs::path(out).parent_path())) {
      EXPECT_FALSE(entry.path().string().starts_with(out + ".")) << entry.path();
    }
    fs::remove(out);
  }
}
#endif

}  // namespace
