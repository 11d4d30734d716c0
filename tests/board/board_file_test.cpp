#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "board/board_file.h"

namespace zorv {
namespace {

// A NAND-only board around TQR2400, one line of it replaced or added.
std::string tqrBoard(const std::string& extra, const std::string& nandLine = "") {
  return "[target]\nproduct = \"TQR2400\"\n\n[nand]\nce = 199\nwe = 207\nre = 205\ncle = 201\nale = 203\nrb = 209\n"
         "io = [211, 213, 215, 217, 219, 221, 223, 225]\nio_direction = [212, 214, 216, 218, 220, 222, 224, 226]\n"
         "drive = 0\n" + nandLine + "\n[toggle]\nenable_level = 0\ntoggled = [\"1-8\"]\n" + extra;
}

std::string refusal(const std::string& text) {
  try {
    parseBoardFile(text, "dir/board.toml");
  } catch (const BoardFileError& error) {
    return error.what();
  }
  return "taken";
}

// A board file that cannot be taken is refused with its file, line and what was wrong; nothing it
// says is dropped silently (a mistyped key would lose a held pin).
TEST(BoardFile, RefusesWhatItCannotTakeNamingFileAndLine) {
  EXPECT_EQ(refusal(tqrBoard("")), "taken");
  EXPECT_EQ(refusal(tqrBoard("", "cel = 3\n")), "dir/board.toml:14: unknown key 'cel' in [nand]");
  EXPECT_EQ(refusal(tqrBoard("[hold]\n230 = 1\n\n[hodl]\n231 = 0\n")), "dir/board.toml:21: unknown key 'hodl'");
  EXPECT_EQ(refusal("[target\nproduct = 1\n").rfind("dir/board.toml:1: ", 0), 0u);
  EXPECT_EQ(refusal(tqrBoard("[hold]\n207 = 1\n")), "dir/board.toml:19: hold.207: cell 207 serves nand.we, which the jobs drive");
  EXPECT_EQ(refusal(tqrBoard("[hold]\n230 = 2\n")), "dir/board.toml:19: hold.230 must be 0 or 1");
  EXPECT_EQ(refusal(tqrBoard("", "").replace(tqrBoard("").find("ce = 199"), 8, "ce = 298")),
            "dir/board.toml:5: nand.ce: cell 298 is outside the boundary register (0 to 297)");
  EXPECT_EQ(refusal(tqrBoard("").replace(tqrBoard("").find("re = 205"), 8, "re = 207")),
            "dir/board.toml:7: nand.re: cell 207 already serves nand.we");
  EXPECT_EQ(refusal(tqrBoard("").replace(tqrBoard("").find("\"TQR2400\""), 9, "\"TQR24\"")),
            "dir/board.toml:2: 'TQR24' is not OBRIN, TQR2400, IKA or VESKAR");
  EXPECT_EQ(refusal("[target]\nbsdl = \"none.bsd\"\n"),
            "dir/board.toml:2: " + (std::filesystem::path("dir") / "none.bsd").string() + ": cannot be read: no such file");
  EXPECT_EQ(refusal("[target]\n"), "dir/board.toml:1: [target] names either a product or a BSDL file, exactly one of them");
  EXPECT_EQ(refusal("chain = \"target,x\"\n" + tqrBoard("")).rfind("dir/board.toml:1: chain: item 2 ('x'): ", 0), 0u);
}

// A chip whose boundary register is longer than the jobs' capture buffers is refused, never
// scanned past their end.
TEST(BoardFile, RefusesABoundaryRegisterLongerThanTheJobsHold) {
  const std::filesystem::path bsdl = std::filesystem::temp_directory_path() / ("zorv_long_" + std::to_string(getpid()) + ".bsd");
  std::string cells;
  for (int n = 0; n < 641; ++n) {
    cells.append("\"").append(std::to_string(n)).append(" (BC_1, *, INTERNAL, X)");
    cells.append(n < 640 ? ",\" &\n" : "\";\n");
  }
  std::ofstream(bsdl) << "entity LONG is port (TCK, TMS, TDI : in bit; TDO : out bit);\n"
                         "use STD_1149_1_2001.all;\n"
                         "attribute INSTRUCTION_LENGTH of LONG : entity is 4;\n"
                         "attribute INSTRUCTION_OPCODE of LONG : entity is \"EXTEST (0000), IDCODE (0001), BYPASS (1111)\";\n"
                         "attribute INSTRUCTION_CAPTURE of LONG : entity is \"0001\";\n"
                         "attribute IDCODE_REGISTER of LONG : entity is \"00000000000000000000000000000011\";\n"
                         "attribute BOUNDARY_LENGTH of LONG : entity is 641;\n"
                         "attribute BOUNDARY_REGISTER of LONG : entity is\n"
                      << cells << "end LONG;\n";
  const std::string board = "[target]\nbsdl = '" + bsdl.string() + "'\n";  // a literal string: no escapes
  EXPECT_NE(refusal(board).find("a boundary register of 641 cells is longer than the 640 the program holds"),
            std::string::npos)
      << refusal(board);
  std::filesystem::remove(bsdl);
}

// A held pin is at its level in the image every job starts from.
TEST(BoardFile, HeldPinsAreInTheImage) {
  const BoardFile board = parseBoardFile(tqrBoard("[hold]\n230 = 1\n231 = 0\n"), "board.toml");
  EXPECT_EQ(board.chip->image()[230], '1');
  EXPECT_EQ(board.chip->image()[231], '0');
  EXPECT_EQ(board.chip->heldCells.size(), 2u);
}

}  // namespace
}  // namespace zorv
