#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bsdl/bsdl_files.h"
#include "cli/run_zorvjtag.h"

namespace {

using zorv::testing::bsdlFilePath;
using zorv::testing::Outcome;
using zorv::testing::runZorvjtag;

// A test file copied where the program takes its path as a file on every system: on Windows a path
// that starts with '/' reads as an option.
class TestFileCopy {
 public:
  explicit TestFileCopy(const std::string& name)
      : path_(std::filesystem::temp_directory_path() / ("zorv_bsdl_command_" + std::to_string(::getpid()) + "_" + name)) {
    std::filesystem::copy_file(bsdlFilePath(name), path_, std::filesystem::copy_options::overwrite_existing);
  }
  ~TestFileCopy() { std::filesystem::remove(path_); }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

TEST(BsdlCommand, PrintsTheSummaryAndAPortsCells) {
  const TestFileCopy hardCases("hard_cases.bsd");
  const TestFileCopy obrin("obrin.bsd");
  const Outcome summary = runZorvjtag({"bsdl", hardCases.path()});
  EXPECT_EQ(summary.status, 0) << summary.err;
  EXPECT_EQ(summary.err, "");
  EXPECT_EQ(summary.out,
            "Entity:              Hard_Case_Chip\n"
            "Instruction length:  5\n"
            "Opcodes, as written (the rightmost bit is shifted first):\n"
            "  BYPASS   11111\n"
            "  IDCODE   00010\n"
            "  EXTEST   00000, 10000\n"
            "  SAMPLE   00001\n"
            "  PRELOAD  00001\n"
            "IDCODE:              0x012340EF, mask 0x0FFFFFFF\n"
            "Boundary length:     16\n"
            "Cell entries:        18 (2 merged cells listed twice)\n"
            "Design warning:\n"
            "  Hold nReset high during EXTEST -- the reset line has no boundary cell; the \"safe\" values assume it.\n");

  const Outcome merged = runZorvjtag({"bsdl", hardCases.path(), "--port", "data(3)"});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(merged.out,
            "Port DATA(3) (inout):\n"
            "  input:    cell 5 (BC_1, INPUT)\n"
            "  output:   cell 5 (BC_1, OUTPUT3)\n"
            "  control:  cell 3, disable value 0 (PULL0)\n");
  const Outcome product = runZorvjtag({"bsdl", "--port", "NAND_CE_N", obrin.path()});
  EXPECT_EQ(product.out,
            "Port NAND_CE_N (out):\n"
            "  input:    none\n"
            "  output:   cell 170 (BC_1, OUTPUT2)\n"
            "  control:  none\n");
}

// A file the reader refuses fails the job with its file and line on standard error; so does a port
// the file does not have. A missing FILE is bad usage.
TEST(BsdlCommand, RefusalsNameTheFileAndLine) {
  const std::filesystem::path broken = std::filesystem::temp_directory_path() / ("zorv_bsdl_command_" + std::to_string(::getpid()) + "_broken.bsd");
  {
    std::ofstream out(broken, std::ios::binary);
    out << "entity X is\r\n  attribute INSTRUCTION_LENGTH of X : entity is 4;\r\n  attribute BOUNDARY_LENGTH of X : entity is 2;\r\nend X;\r\n";
  }
  const Outcome refused = runZorvjtag({"bsdl", broken.string()});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, broken.string() + ":3: BOUNDARY_LENGTH needs BOUNDARY_REGISTER\n");
  std::filesystem::remove(broken);

  const TestFileCopy obrin("obrin.bsd");
  const Outcome noPort = runZorvjtag({"bsdl", obrin.path(), "--port", "MEM_D"});
  EXPECT_EQ(noPort.status, 1);
  EXPECT_EQ(noPort.err, obrin.path() + ": MEM_D is a bit_vector(0 to 31): name one bit, as MEM_D(0)\n");
  const Outcome hugeBit = runZorvjtag({"bsdl", obrin.path(), "--port", "MEM_D(9999999999)"});
  EXPECT_EQ(hugeBit.status, 1);
  EXPECT_EQ(hugeBit.err, obrin.path() + ": MEM_D(9999999999) is not a bit of MEM_D(0 to 31)\n");
  EXPECT_EQ(runZorvjtag({"bsdl"}).status, 2);
}

}  // namespace
