#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "cli/run_zorvjtag.h"

namespace {

namespace fs = std::filesystem;
using zorv::testing::Outcome;
using zorv::testing::runZorvjtag;

// A temporary image of size bytes, removed with the object.
struct ImageFile {
  fs::path path;
  explicit ImageFile(size_t size) {
    static int serial = 0;
    path = fs::temp_directory_path() /
           ("zorv_nand_cli_" + std::to_string(getpid()) + "_" + std::to_string(++serial) + ".bin");
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 + 3));
  }
  ~ImageFile() {
    std::error_code ignored;
    fs::remove(path, ignored);
  }
};

TEST(NandCommand, ExitStatusOfEachOutcome) {
  const ImageFile image(3000);
  const Outcome written = runZorvjtag({"--cable", "sim:chip=IKA", "nand", "--product", "IKA", "--block", "2",
                                       image.path.string()});
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_TRUE(written.out.ends_with("  Programming to 0x40000 ... Done.\n\n")) << written.out;
  EXPECT_EQ(written.err, "Download Complete.\n");

  const Outcome failed = runZorvjtag(
      {"--cable", "sim:chip=IKA,nandbusyafter=0x10", "nand", "--product", "IKA", "--verify", image.path.string()});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "Programming Error\n");

  EXPECT_EQ(runZorvjtag({"--cable", "sim:chip=IKA", "nand", "--product", "IKA"}).status, 2) << "no image";
}

// TDO that sticks high once the NAND is identified (after the ID read's reset): the first erase
// reads failed, and the job stops there with the cable named instead of marking every block.
TEST(NandCommand, TdoStuckAfterTheIdReadStopsAtTheFirstBlock) {
  const ImageFile image(0x10000);
  const Outcome stuck = runZorvjtag({"--cable", "sim:chip=VESKAR,nandtdo=1@0xFF", "nand", "--product", "VESKAR",
                                     image.path.string()});
  EXPECT_EQ(stuck.status, 1);
  EXPECT_TRUE(stuck.out.ends_with("  Erasing \n ERROR. ADDR: 0x0\n  Cable: the NAND answers with ID FF FF FF FF, "
                                  "not EC DA 10 15 as at the start: TDO is stuck or the cable or the board's power "
                                  "came loose\n\n"))
      << stuck.out;
}

TEST(NandCommand, ASignalInTheProgramPassStopsTheJob) {
  const ImageFile image(0x200000);
  const Outcome stopped = runZorvjtag(
      {"--cable", "sim:chip=VESKAR", "nand", "--product", "VESKAR", "--verify", image.path.string()},
      "  Programming to 0x0 ... ");
  EXPECT_EQ(stopped.status, 130) << stopped.err;
  EXPECT_TRUE(stopped.out.ends_with("  Programming to 0x0 ...   STOP.\nDone.\n\n")) << stopped.out;
  EXPECT_EQ(stopped.err, "");
}

}  // namespace
