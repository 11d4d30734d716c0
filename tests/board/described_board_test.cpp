#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "board/board_file.h"
#include "cli/run_zorvjtag.h"
#include "link/parallel_port_link.h"
#include "nand/nand_job.h"
#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "readback/read_job.h"
#include "sim/board.h"
#include "sim/nand_device.h"
#include "sim/nor_attach.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const std::string kBoardFile = std::string(ZORV_TEST_BOARDS) + "/kestrel9.toml";
constexpr int kWriteProtectCell = 0;  // FLASH_WP_N, held high by the board file

Bytes imageOf(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + (i >> 9));
  return bytes;
}

struct Scratch {
  fs::path image = fs::temp_directory_path() / ("zorv_kestrel_" + std::to_string(getpid()) + ".bin");
  fs::path output = fs::temp_directory_path() / ("zorv_kestrel_" + std::to_string(getpid()) + ".out");
  explicit Scratch(const Bytes& bytes) {
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove(image, ignored);
    fs::remove(output, ignored);
  }
  Bytes read() const {
    std::ifstream in(output, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

// What every EXTEST update of a run on the test board must leave: the held pin never low, the pins
// already at the board's levels when EXTEST took them, and no output left floating.
void expectHeldPinAndCleanBus(const sim::Board& board) {
  ASSERT_GT(board.extestLoads(), 0u);
  EXPECT_EQ(board.firstExtestLatches().at(kWriteProtectCell), '1');
  EXPECT_TRUE(board.everHigh().at(kWriteProtectCell));
  EXPECT_FALSE(board.everLow().at(kWriteProtectCell));
  EXPECT_EQ(board.violations(), std::vector<std::string>{});
}

// A chip known only from its BSDL file and a board file (another cell order, a 6-bit instruction
// register, a device before it on the chain, NAND direction cells apart from the data cells): a
// NAND download verifies, and reading it back gives the image exactly.
TEST(DescribedBoard, NandDownloadsVerifiesAndReadsExactly) {
  const BoardFile file = readBoardFile(kBoardFile);
  auto board = sim::makeBoard("board=" + kBoardFile + ",nand=0xF1");
  ParallelPortLink link(*board);
  const Bytes bytes = imageOf(2048 * 3 + 700);
  Scratch scratch(bytes);

  RecordingPage download;
  NandSettings nand;
  nand.product = -1;
  nand.board = file.chip;
  nand.chain = file.chain;
  nand.block = 2;
  nand.imagePath = scratch.image.string();
  nand.verify = 1;
  runNandJob(download, link, nand);
  EXPECT_EQ(download.boxes, std::vector<std::string>{"Download Complete."}) << download.log;
  EXPECT_NE(download.log.find("  Design warning: Hold FLASH_WP_N high"), std::string::npos);
  EXPECT_LT(download.log.find("  Design warning: "), download.log.find("  Maker: "));

  RecordingPage readBack;
  ReadSettings read;
  read.flash = ReadFlash::Nand;
  read.product = -1;
  read.board = file.chip;
  read.chain = file.chain;
  read.block = 2;
  read.size = bytes.size();
  read.outputPath = scratch.output.string();
  runReadJob(readBack, link, read);
  EXPECT_TRUE(scratch.read() == bytes) << readBack.log;
  expectHeldPinAndCleanBus(*board);
}

// The same board's 16-bit NOR bus (BYTE# high): a download verifies as it programs, and reading it
// back gives the image exactly, the flash around it untouched.
TEST(DescribedBoard, NorDownloadsAndReadsExactly) {
  const BoardFile file = readBoardFile(kBoardFile);
  sim::BoardOptions options = sim::parseBoardOptions("board=" + kBoardFile + ",nand=none");
  auto board = std::make_unique<sim::Board>(options);
  sim::AttachedNor nor = sim::attachNorDevice(*board, options);
  ParallelPortLink link(*board);
  for (uint32_t o = 0; o < 0x30000; ++o) nor.setBusByte(o, 0x5A);
  const Bytes bytes = imageOf(0x1000 + 77);
  Scratch scratch(bytes);

  RecordingPage download;
  NorSettings settings;
  settings.product = -1;
  settings.board = file.chip;
  settings.chain = file.chain;
  settings.flashType = flashTypeFromText(file.norType);
  settings.width = file.norWidth;
  settings.block = 1;  // the second 64 KiB sector
  settings.imagePath = scratch.image.string();
  runNorJob(download, link, settings);
  EXPECT_EQ(download.boxes, std::vector<std::string>{"Download Complete."}) << download.log;
  for (uint32_t o = 0; o < bytes.size(); ++o) ASSERT_EQ(nor.busByte(0x10000 + o), bytes[o]) << o;
  EXPECT_EQ(nor.busByte(0xFFFF), 0x5A);

  RecordingPage readBack;
  ReadSettings read;
  read.flash = ReadFlash::Nor;
  read.product = -1;
  read.board = file.chip;
  read.chain = file.chain;
  read.flashType = settings.flashType;
  read.width = 16;
  read.block = 1;
  read.size = bytes.size();
  read.outputPath = scratch.output.string();
  runReadJob(readBack, link, read);
  EXPECT_TRUE(scratch.read() == bytes) << readBack.log;
  expectHeldPinAndCleanBus(*board);
}

// BYTE# follows the board file's bus width: a file that says 8 on the board's 16-bit bus holds it
// low, which the part on the virtual board sees as a bus of the wrong width.
TEST(DescribedBoard, ByteSelectFollowsTheBoardFilesWidth) {
  std::ifstream in(kBoardFile);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.replace(text.find("width = 16"), 10, "width = 8");
  const BoardFile file = parseBoardFile(text, std::string(ZORV_TEST_BOARDS) + "/byte8.toml");
  auto board = sim::makeBoard("board=" + kBoardFile + ",nand=none");
  ParallelPortLink link(*board);
  Scratch scratch(imageOf(16));
  RecordingPage page;
  ReadSettings read;
  read.flash = ReadFlash::Nor;
  read.product = -1;
  read.board = file.chip;
  read.chain = file.chain;
  read.flashType = flashTypeFromText("S29GL064M");
  read.width = 16;
  read.size = 16;
  read.outputPath = scratch.output.string();
  runReadJob(page, link, read);
  ASSERT_FALSE(board->violations().empty());
  EXPECT_EQ(board->violations().front(), "NOR: BYTE# does not match the bus width");
}

// A board file that is not the board on the cable fails before any EXTEST: another chain, another
// chip's code, another product.
TEST(DescribedBoard, WrongChainOrCodeFailsBeforeExtest) {
  const fs::path dir = fs::temp_directory_path() / ("zorv_kestrel_dir_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ifstream bsdl(std::string(ZORV_TEST_BOARDS) + "/kestrel9.bsd");
  std::string text((std::istreambuf_iterator<char>(bsdl)), std::istreambuf_iterator<char>());
  text.replace(text.find("\"0011\" &"), 8, "\"0100\" &");  // another silicon version: another code
  std::ofstream(dir / "kestrel9.bsd") << text;
  std::ifstream boardText(kBoardFile);
  std::ofstream(dir / "kestrel9.toml") << boardText.rdbuf();

  struct Case {
    std::string sim;
    std::string boardFile;
    std::string cause;
  };
  const Case cases[] = {
      {"board=" + kBoardFile + ",chain=target", kBoardFile, "  Chain: "},
      {"board=" + kBoardFile + ",chain=8/0x0A51C093:target:5", kBoardFile, "  Chain: "},
      {"board=" + kBoardFile, (dir / "kestrel9.toml").string(), "  JTAG ID: read 0x39D424B7"},
      {"chip=TQR2400", std::string(ZORV_SHIPPED_BOARDS) + "/obrin.toml", "  JTAG ID: read 0x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sim + " " + c.boardFile);
    const BoardFile file = readBoardFile(c.boardFile);
    auto board = sim::makeBoard(c.sim);
    ParallelPortLink link(*board);
    RecordingPage page;
    NandSettings nand;
    nand.product = -1;
    nand.board = file.chip;
    nand.chain = file.chain;
    nand.imagePath = "/nonexistent";
    runNandJob(page, link, nand);
    EXPECT_NE(page.log.find(c.cause), std::string::npos) << page.log;
    EXPECT_EQ(board->extestLoads(), 0u);
    EXPECT_EQ(board->updateCount(), 0u);
  }
  const testing::Outcome product = testing::runZorvjtag(
      {"--cable", "sim:board=" + kBoardFile, "--board", kBoardFile, "idcode", "--product", "OBRIN"});
  EXPECT_EQ(product.status, 2);
  EXPECT_NE(product.err.find("is built around KESTREL9, not OBRIN"), std::string::npos) << product.err;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zorv
