#include "nand/nand_job.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "chain/chain_description.h"
#include "link/jtag_cable.h"
#include "nand/bad_block_list.h"
#include "nand/nand_flash.h"
#include "page/idle_pipe.h"
#include "text/number_text.h"
#include "page/recording_page.h"
#include "sim/board.h"
#include "sim/nand_device.h"
#include "extra/extra_job.h"
#include "nor/nor_job.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::string format(const char* pattern, unsigned a, unsigned b = 0) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

Bytes pattern(size_t size, unsigned seed = 1) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
  return bytes;
}

// One NAND job on a virtual board, its page and its image file.
struct JobRun {
  std::unique_ptr<sim::Board> board;
  sim::NandDevice* device = nullptr;
  RecordingPage page;
  NandSettings settings;
  fs::path file;
  uint32_t blockSize = 0;

  JobRun(TargetProduct chip, uint8_t code, sim::NandDeviceConfig config = {}, const std::string& moreOptions = "") {
    board = std::make_unique<sim::Board>(
        sim::parseBoardOptions(std::string("chip=") + sim::simChip(chip).name + moreOptions));
    if (code != 0) {
      config.deviceCode = code;
      device = &sim::attachNandDevice(*board, config);
      blockSize = device->geometry().blockSize();
    }
    settings.product = chip;
    static int serial = 0;
    file = fs::temp_directory_path() /
           ("zorv_nand_" + std::to_string(getpid()) + "_" + std::to_string(++serial) + ".bin");
  }
  ~JobRun() {
    std::error_code ignored;
    fs::remove(file, ignored);
  }
  void writeImage(const Bytes& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    settings.imagePath = file.string();
  }
  void run() {
    restoreProductImages();
    runNandJob(page, *board, settings);
  }
  // The image sits in blocks, in order, and nothing else on the device holds data.
  void expectImageIn(const std::vector<uint32_t>& blocks, const Bytes& image) const {
    std::set<uint32_t> pages;
    const uint32_t pagesPerBlock = device->geometry().pagesPerBlock;
    for (size_t i = 0; i < blocks.size(); ++i) {
      const size_t offset = i * blockSize;
      const size_t length = std::min<size_t>(blockSize, image.size() - offset);
      Bytes expected(image.begin() + static_cast<long>(offset), image.begin() + static_cast<long>(offset + length));
      expected.resize(blockSize, 0xFF);
      EXPECT_EQ(device->mainBytes(blocks[i] * blockSize, blockSize), expected) << "block " << blocks[i];
      for (uint32_t p = 0; p < pagesPerBlock; ++p) pages.insert(blocks[i] * pagesPerBlock + p);
    }
    for (uint32_t stored : device->storedPages()) EXPECT_TRUE(pages.count(stored)) << "page " << stored << " changed";
  }
};

std::string idLine(TargetProduct chip) {
  const uint32_t v = sim::simChip(chip).idcode;
  char text[80];
  std::snprintf(text, sizeof text, "  JTAG ID: Ver(0x%01X), Part(0x%04X), Maker(0x%03X)\r\n", v >> 28,
                (v >> 16) & 0xFFF, (v >> 4) & 0xFFF);
  return text;
}

std::string head(TargetProduct chip, uint8_t code, const fs::path& image) {
  const char* label = code == 0x75 ? "32MB(5608)" : "256MB(2G08)";
  return "[Download to NAND]\r\n  Image: " + image.string() + "\r\n" + idLine(chip) +
         format("  Maker: 0xEC, Dev: 0x%X (", code) + label + ")\r\n";
}

TEST(NandJob, SuccessfulRunOnEveryProductAndPageSize) {
  for (int p = 0; p < kProductCount; ++p) {
    for (uint8_t code : {uint8_t{0x75}, uint8_t{0xDA}}) {
      const auto chip = static_cast<TargetProduct>(p);
      JobRun job(chip, code);
      const uint32_t pageSize = job.device->geometry().pageSize;
      const Bytes image = pattern(2 * pageSize + 100, static_cast<unsigned>(p));
      job.writeImage(image);
      job.settings.block = 3;
      job.settings.verify = 1;
      job.run();
      const uint32_t base = 3 * job.blockSize;
      const auto size = static_cast<unsigned>(image.size());
      EXPECT_EQ(job.page.log, head(chip, code, job.file) + format("  BASE: 0x%X, SIZE: 0x%X\r\n", base, size) +
                                  "  Erasing . OK.\r\n" + format("  Programming to 0x%X ... ", base) +
                                  "Done.\r\n  Verifying... OK.\r\n\r\n")
          << p << " " << int(code);
      EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."});
      job.expectImageIn({3}, image);
      EXPECT_EQ(job.device->eraseLog(), std::vector<uint32_t>{3});
      EXPECT_TRUE(job.board->violations().empty()) << job.board->violations().front();
      EXPECT_EQ(job.page.byteCount, format("%d / %d [Bytes]", size, size));
      EXPECT_EQ(job.page.progressPosition, 100);
      EXPECT_EQ(job.page.events.front().what, "lock");
      EXPECT_EQ(job.page.events.back().what, "unlock");
      EXPECT_EQ(job.page.buttonCaption, "idle");
    }
  }
}

// Every scan pads for the devices around the product; the others only ever see BYPASS.
TEST(NandJob, DownloadsThroughAChainOfOtherDevices) {
  JobRun job(Ika, 0xDA, {}, ",chain=2/0x0000A001:target:32:5/0x12345679");
  job.settings.chain = parseChainText("2:0x0000A001,target,32,5:0x12345679");
  const Bytes image = pattern(2 * job.device->geometry().pageSize + 100);
  job.writeImage(image);
  job.settings.verify = 1;
  job.run();
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."}) << job.page.log;
  job.expectImageIn({0}, image);
  EXPECT_TRUE(job.board->violations().empty());
  for (const sim::ChainTap& tap : job.board->otherTaps()) EXPECT_TRUE(tap.foreignInstructions().empty());
}

// A chain description, a product or an IDCODE that is not the board's stops the job before EXTEST.
TEST(NandJob, AWrongChainProductOrIdcodeFailsBeforeAnyExtest) {
  const struct {
    TargetProduct product;
    const char* chain;
    const char* cause;
  } cases[] = {
      {Obrin, "target,8", "  Chain: device 2 (8) captures no 01 at bit 4 of the instruction registers: the lengths do "
                          "not match the chain given\r\n"},
      {Obrin, "8,target,3", "  Chain: 12 instruction register bits answer, the chain given has 15\r\n"},
      {Obrin, "8:0x06413041,target", "  Chain: device 1 (8:0x06413041) answers no IDCODE, expected 0x06413041\r\n"},
      {Veskar, "8,target", "  JTAG ID: read 0x00AECADD (OBRIN), expected 0x0022B5E1 (mask 0x0FFFFFFF)\r\n"},
      // Without a description the other device shifts the code by its bypass bit.
      {Obrin, "", "  JTAG ID: read 0x015D95BA, expected 0x00AECADD (mask 0x0FFFFFFF)\r\n"},
  };
  for (const auto& c : cases) {
    JobRun job(c.product, 0xDA, {}, ",chip=OBRIN,chain=8:target");
    job.settings.chain = parseChainText(c.chain);
    job.writeImage(pattern(100));
    job.run();
    EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Cannot read JTAG ID"}) << c.chain;
    EXPECT_NE(job.page.log.find(c.cause), std::string::npos) << job.page.log;
    EXPECT_EQ(job.board->extestLoads(), 0u) << c.chain;
    EXPECT_EQ(job.board->updateCount(), 0u);
    if (job.settings.chain.given()) {
      EXPECT_TRUE(job.board->otherTaps()[0].foreignInstructions().empty()) << c.chain;
    }
  }
}

// TQR2400 and IKA answer the same code; on the other one's board the count of the boundary
// register stops the job, and the cells get back what they captured: no pin changes.
TEST(NandJob, TheSameCodeOnAnotherChipFailsWithoutMovingAPin) {
  for (const auto& [product, board, cells] : {std::tuple{Tqr2400, "chip=IKA", 185}, std::tuple{Ika, "chip=TQR2400", 298}}) {
    JobRun job(product, 0, {}, std::string(",") + board);
    JtagCable prime(*job.board);
    prime.detectPort();
    prime.shiftIr("0000", 4);
    std::string pins(static_cast<size_t>(cells), '0');
    for (size_t i = 0; i < pins.size(); i += 3) pins[i] = '1';
    prime.shiftDr(pins.data(), cells);
    prime.resetTap();
    job.writeImage(pattern(100));
    job.run();
    EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Cannot read JTAG ID"});
    const std::string cause = "  Boundary register: " + std::to_string(cells) + " cells, " +
                              (product == Ika ? "IKA has 185" : "TQR2400 has 298") + "\r\n";
    EXPECT_NE(job.page.log.find(cause), std::string::npos) << job.page.log;
    EXPECT_EQ(job.board->updateCount(), 2u) << "the priming scan and the count's";
    EXPECT_EQ(job.board->drivenPins(), pins);
  }
}

TEST(NandJob, BlankPagesSkippedOnRequestStillReadBackExactly) {
  JobRun job(Ika, 0x75);
  const uint32_t pageSize = job.device->geometry().pageSize;
  // Blank pages first, in the middle, and as the short last page.
  Bytes image = pattern(6 * pageSize + 300);
  for (uint32_t blankPage : {0u, 3u, 6u}) {
    std::fill(image.begin() + blankPage * pageSize, image.begin() + std::min<size_t>((blankPage + 1) * pageSize, image.size()),
              uint8_t{0xFF});
  }
  job.writeImage(image);
  job.settings.verify = 1;
  job.settings.skipBlank = true;
  job.run();
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."});
  EXPECT_TRUE(job.page.log.ends_with("Done.\r\n  Verifying... OK.\r\n  Blank pages skipped: 3\r\n\r\n")) << job.page.log;
  job.expectImageIn({0}, image);
  EXPECT_EQ(job.device->programLog(), (std::vector<uint32_t>{1, 2, 4, 5}));
}

TEST(NandJob, EraseDotsWrapAtSeventyTwo) {
  sim::NandDeviceConfig config;
  config.programFailBlocks = {0};
  JobRun job(Veskar, 0x75, config);
  job.writeImage(Bytes(140 * job.blockSize, 0x5A));
  job.run();
  const std::string dots = "  Erasing " + std::string(59, '.') + "\r\n    " + std::string(72, '.') +
                           "\r\n    " + std::string(9, '.') + " OK.\r\n";
  EXPECT_NE(job.page.log.find(dots), std::string::npos) << job.page.log;
  EXPECT_TRUE(job.page.log.ends_with("  Programming to 0x0 ... \r\n  Write ERROR, ADDR: 0x0\r\n"
                                     "  Block 0 failed and could not be marked bad\r\n\r\n"));
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Programming Error"});
  EXPECT_EQ(job.device->eraseLog().size(), 140u);
  EXPECT_TRUE(job.device->storedPages().empty());
}

TEST(NandJob, FailedErasesAreListedTenToAGroup) {
  // Every other block, as worn blocks come (a run of them in a row stops the job).
  sim::NandDeviceConfig config;
  for (uint32_t b = 1; b <= 23; b += 2) config.eraseFailBlocks.insert(b);
  config.programFailBlocks = {0};
  JobRun job(Ika, 0x75, config);
  job.writeImage(Bytes(25 * job.blockSize, 0x11));
  job.run();
  std::string list = "BAD block num #\r\n";
  for (unsigned b = 1; b <= 23; b += 2) list += (b == 21 ? "\r\n" : "") + format("[%04u]\r\n", b);
  EXPECT_NE(job.page.log.find(" OK.\r\n" + list + "  Programming to 0x0 ... "), std::string::npos) << job.page.log;
}

TEST(NandJob, BadBlockListKeepsItsCapacity) {
  sim::NandDeviceConfig config;
  for (uint32_t b = 0; b < 260; b += 2) config.eraseFailBlocks.insert(b);
  config.programFailBlocks = {1};
  JobRun job(Veskar, 0x75, config);
  job.writeImage(Bytes(260 * job.blockSize, 0x22));
  job.run();
  EXPECT_EQ(nandBadBlocks().count, NandBadBlockList::kCapacity);
  EXPECT_EQ(nandBadBlocks().notListed, 2u);
  EXPECT_NE(job.page.log.find("[0254]\r\n  and 2 more\r\n  Programming"), std::string::npos);
  // Every block whose erase failed was passed over (and marked bad in its first two pages); the
  // image's first program went to block 1, which then refused its mark too.
  std::vector<uint32_t> programs;
  for (uint32_t b = 0; b < 260; b += 2) programs.insert(programs.end(), {b * 32, b * 32 + 1});
  programs.insert(programs.end(), {1 * 32, 1 * 32, 1 * 32 + 1});
  EXPECT_EQ(job.device->programLog(), programs);
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Programming Error"});
}

// A port whose owner refuses access: it answers as absent.
class RefusedPort : public PortIo {
 public:
  bool grantAccess() override { return false; }
  void write(uint16_t, uint8_t) override {}
  uint8_t read(uint16_t) override { return 0xFF; }
};

TEST(NandJob, FailuresBeforeTheEraseEndTheJobWithTheirBox) {
  struct Case {
    const char* name;
    TargetProduct product;
    std::string boardOptions;
    uint8_t code;
    std::string path;  // "" none, "image" a good image
    std::vector<std::string> boxes;
  };
  const std::string missing = "/nonexistent/zorv.bin";
  const std::string directory = fs::temp_directory_path().string();
  const zorv::testing::IdlePipe pipe(directory, "zorv_nand_fifo_" + std::to_string(getpid()));
  ASSERT_TRUE(pipe.made());
  const std::string fifo = pipe.path();
  const Case cases[] = {
      {"no port", Obrin, "noport", 0xDA, "image", {"Cannot get LPT Base."}},
      {"other chip", Obrin, "chip=IKA", 0xDA, "image", {"Cannot read JTAG ID"}},
      {"no board", Tqr2400, "chip=TQR2400,noboard", 0xDA, "image", {"Cannot read JTAG ID"}},
      {"no NAND", Ika, "chip=IKA", 0, "image", {"Cannot Support NAND."}},
      {"no image", Veskar, "chip=VESKAR", 0x75, "", {"No image file"}},
      {"missing", Obrin, "", 0x75, missing, {"Cannot open " + missing}},
      {"directory", Obrin, "", 0x75, directory, {"Cannot open " + directory}},
      {"device", Obrin, "", 0x75, "/dev/zero", {"Cannot open /dev/zero"}},
      {"FIFO nobody writes to", Obrin, "", 0x75, fifo, {"Cannot open " + fifo}},
  };
  for (const Case& c : cases) {
    auto board = std::make_unique<sim::Board>(sim::parseBoardOptions(c.boardOptions));
    sim::NandDevice* device = nullptr;
    if (c.code != 0) {
      sim::NandDeviceConfig config;
      config.deviceCode = c.code;
      device = &sim::attachNandDevice(*board, config);
    }
    JobRun files(Obrin, 0);
    files.writeImage(Bytes(100, 1));
    RecordingPage page;
    NandSettings settings;
    settings.product = c.product;
    settings.imagePath = c.path == "image" ? files.file.string() : c.path;
    restoreProductImages();
    runNandJob(page, *board, settings);
    EXPECT_EQ(page.boxes, c.boxes) << c.name;
    EXPECT_TRUE(page.log.ends_with("\r\n\r\n")) << c.name;
    EXPECT_EQ(page.log.find("Erasing"), std::string::npos) << c.name;
    EXPECT_EQ(page.buttonCaption, "idle") << c.name;
    for (const auto& event : page.events) EXPECT_NE(event.text, "STOP") << c.name;
    if (device) {
      EXPECT_TRUE(device->eraseLog().empty()) << c.name;
    }
  }


  RefusedPort refused;
  RecordingPage page;
  runNandJob(page, refused, NandSettings{});
  EXPECT_EQ(page.boxes, (std::vector<std::string>{"Couldn't access giveio device", "Cannot get LPT Base."}));

  JobRun unknown(Obrin, 0xDA);
  unknown.settings.product = 7;
  unknown.run();
  EXPECT_TRUE(unknown.page.boxes.empty());
  EXPECT_EQ(unknown.page.log, "[Download to NAND]\r\n\r\n");
}

TEST(NandJob, ImageSizeAgainstTheDevice) {
  JobRun whole(Veskar, 0x75);
  whole.writeImage({});
  fs::resize_file(whole.file, 0x2000000);
  whole.run();
  EXPECT_EQ(whole.page.boxes, std::vector<std::string>{"File size is too big"});
  EXPECT_TRUE(whole.device->eraseLog().empty());

  // One byte less is taken: every block is erased (the last one without a dot), then STOP.
  JobRun almost(Veskar, 0x75);
  almost.writeImage({});
  fs::resize_file(almost.file, 0x2000000 - 1);
  almost.page.onEvent = [](RecordingPage& page, const RecordingPage::Event& event) {
    if (event.what == "button" && event.text == "STOP") page.stopRequested = 1;
  };
  almost.run();
  EXPECT_TRUE(almost.page.boxes.empty());
  EXPECT_EQ(almost.device->eraseLog().size(), 2048u);
  const size_t from = almost.page.log.find("  Erasing ");
  const std::string dots = almost.page.log.substr(from, almost.page.log.find(" OK.", from) - from);
  EXPECT_EQ(std::count(dots.begin(), dots.end(), '.'), 2047);
  EXPECT_TRUE(almost.page.log.ends_with("  Programming to 0x0 ...   STOP.\r\nDone.\r\n\r\n"));

  // An image that would run past the last block is refused before anything is erased.
  for (const char* block : {"2047", "0xFFFFFFFF", "0x800"}) {
    JobRun late(Veskar, 0x75);
    late.writeImage(Bytes(late.blockSize + 1, 3));
    late.settings.block = parseBlockNumber(block);
    late.run();
    EXPECT_EQ(late.page.boxes,
              std::vector<std::string>{format("File does not fit from block %u", parseBlockNumber(block))});
    EXPECT_TRUE(late.device->eraseLog().empty());
    EXPECT_EQ(late.page.log.find("BASE"), std::string::npos);
  }
}

TEST(NandJob, EmptyImageAndBlockNumbers) {
  for (const char* block : {"0x10", "16", "0X10"}) {
    JobRun job(Veskar, 0xDA);
    job.writeImage({});
    job.settings.block = parseBlockNumber(block);
    job.settings.verify = 1;
    job.run();
    const unsigned base = std::string(block) == "0X10" ? 0 : 16 * 0x20000;
    EXPECT_EQ(job.page.log, head(Veskar, 0xDA, job.file) + format("  BASE: 0x%X, SIZE: 0x0\r\n", base) +
                                "  Erasing  OK.\r\n" + format("  Programming to 0x%X ... ", base) +
                                "Done.\r\n  Verifying... OK.\r\n\r\n");
    EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."});
    EXPECT_TRUE(job.device->eraseLog().empty());
    EXPECT_TRUE(job.device->programLog().empty());
  }
  EXPECT_EQ(parseBlockNumber(""), 0u);
  EXPECT_EQ(parseBlockNumber("  42"), 42u);
  EXPECT_EQ(parseBlockNumber("12abc"), 12u);
  EXPECT_EQ(parseBlockNumber("0x1fG"), 31u);
  EXPECT_EQ(parseBlockNumber("0x"), 0u);
  EXPECT_EQ(parseBlockNumber("-1"), 0u);
  EXPECT_EQ(parseBlockNumber("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(parseBlockNumber("4294967296"), 0xFFFFFFFFu) << "never wraps onto a low block";
}

TEST(NandJob, EraseTimeoutGoesOnAndThenFailsTheProgram) {
  sim::NandDeviceConfig config;
  config.stuckBusy = true;
  JobRun job(Veskar, 0x75, config);
  job.writeImage(Bytes(100, 7));
  job.run();
  EXPECT_TRUE(job.page.log.ends_with("  Erasing \r\n ERROR. ADDR: 0x0 OK.\r\n  Programming to 0x0 ... "
                                     "\r\n  Erase ERROR, ADDR: 0x0\r\n\r\n"))
      << job.page.log;
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Programming Error"});
  EXPECT_TRUE(job.device->programLog().empty());
}

TEST(NandJob, VerifyMismatch) {
  sim::NandDeviceConfig config;
  config.flipBit = true;
  config.flipAddress = 0x20005;
  config.flipMask = 0xFF;
  JobRun job(Obrin, 0xDA, config);
  job.writeImage(Bytes(2048, 0xFF));
  job.settings.block = 1;
  job.settings.verify = 1;
  job.run();
  EXPECT_TRUE(job.page.log.ends_with("Done.\r\n  Verifying...   ERROR, ADDR: 0x20005\r\n"
                                     "    [Write: 0xFF, Read: 0x00]\r\nError.\r\n\r\n"))
      << job.page.log;
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Verify ERROR"});
}

// With the spare areas, the read-back compares them too: a part (or a path) that drops the spare
// bytes fails the verify at the first one.
TEST(NandJob, VerifyWithSpareAreasComparesThem) {
  sim::NandDeviceConfig config;
  config.dropSpare = true;
  JobRun job(Obrin, 0x75, config);
  Bytes record = pattern(512 + 16);
  record[512 + 5] = 0xFF;  // a good block's marker
  record[512] = 0x3C;
  job.writeImage(record);
  job.settings.oob = true;
  job.settings.verify = 1;
  job.run();
  EXPECT_TRUE(job.page.log.ends_with("Done.\r\n  Verifying...   ERROR, ADDR: 0x0, SPARE BYTE: 0x0\r\n"
                                     "    [Write: 0x3C, Read: 0xFF]\r\nError.\r\n\r\n"))
      << job.page.log;
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Verify ERROR"});
}

TEST(NandJob, ImageFileChangingUnderTheJob) {
  // Gone before the verify pass.
  JobRun gone(Tqr2400, 0x75);
  gone.writeImage(pattern(1000));
  gone.settings.verify = 1;
  gone.page.onEvent = [&gone](RecordingPage&, const RecordingPage::Event& event) {
    if (event.text == "Done.\r\n") fs::remove(gone.file);
  };
  gone.run();
  EXPECT_EQ(gone.page.boxes, std::vector<std::string>{"Cannot open " + gone.file.string() + "\r\n"});
  EXPECT_TRUE(gone.page.log.ends_with("Done.\r\n\r\n"));

  // Shorter than it was: what could not be read is never programmed.
  JobRun shrunk(Ika, 0xDA);
  shrunk.writeImage(pattern(3 * 2048));
  shrunk.page.onEvent = [&shrunk](RecordingPage&, const RecordingPage::Event& event) {
    if (event.text == "STOP") fs::resize_file(shrunk.file, 2048 + 10);
  };
  shrunk.run();
  EXPECT_EQ(shrunk.page.boxes, std::vector<std::string>{"Cannot read " + shrunk.file.string()});
  EXPECT_EQ(shrunk.device->programLog(), std::vector<uint32_t>{0});
  EXPECT_EQ(shrunk.page.log.find("Done."), std::string::npos);

  // Longer before the verify pass: only the bytes programmed are compared.
  JobRun grown(Obrin, 0x75);
  const Bytes image = pattern(700);
  grown.writeImage(image);
  grown.settings.verify = 1;
  grown.page.onEvent = [&grown](RecordingPage&, const RecordingPage::Event& event) {
    if (event.text == "Done.\r\n") std::ofstream(grown.file, std::ios::app) << "tail bytes";
  };
  grown.run();
  EXPECT_EQ(grown.page.boxes, std::vector<std::string>{"Download Complete."});
  grown.expectImageIn({0}, image);
}

TEST(NandJob, StopInTheProgramPass) {
  JobRun job(Obrin, 0xDA);
  const Bytes image = pattern(3 * 2048);
  job.writeImage(image);
  job.settings.verify = 1;
  job.page.onEvent = [](RecordingPage& page, const RecordingPage::Event& event) {
    if (event.what == "bytes" && event.text == "2048 / 6144 [Bytes]") page.stopRequested = 1;
  };
  job.run();
  EXPECT_TRUE(job.page.log.ends_with("  Programming to 0x0 ...   STOP.\r\nDone.\r\n\r\n")) << job.page.log;
  EXPECT_TRUE(job.page.boxes.empty());
  EXPECT_EQ(job.page.stopRequested.load(), 0);
  EXPECT_EQ(job.device->programLog(), std::vector<uint32_t>{0});
  job.expectImageIn({0}, Bytes(image.begin(), image.begin() + 2048));
}

TEST(NandJob, StopInTheVerifyPass) {
  JobRun job(Veskar, 0x75);
  const Bytes image = pattern(3 * 512);
  job.writeImage(image);
  job.settings.verify = 1;
  bool verifying = false;
  job.page.onEvent = [&verifying](RecordingPage& page, const RecordingPage::Event& event) {
    if (event.text == "  Verifying... ") verifying = true;
    if (verifying && event.what == "bytes" && event.text == "512 / 1536 [Bytes]") page.stopRequested = 1;
  };
  job.run();
  EXPECT_TRUE(job.page.log.ends_with("Done.\r\n  Verifying...   STOP.\r\n\r\n")) << job.page.log;
  EXPECT_TRUE(job.page.boxes.empty());
  EXPECT_EQ(job.page.stopRequested.load(), 0);
  job.expectImageIn({0}, image);
}

TEST(NandJob, BadBlocksArePassedOverInProgramAndVerify) {
  sim::NandDeviceConfig config;
  config.factoryBadBlocks = {1};
  JobRun job(Veskar, 0x75, config);
  // Old contents beyond the erase range: block 2 must be erased before it takes the image's tail,
  // block 3 must stay as it was.
  const Bytes old = Bytes(2 * job.blockSize, 0x00);
  job.device->preload(2 * job.blockSize, old);
  const Bytes image = pattern(job.blockSize + 1000);
  job.writeImage(image);
  job.settings.verify = 1;
  job.run();
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."}) << job.page.log;
  EXPECT_NE(job.page.log.find(" OK.\r\nBAD block num #\r\n[0001]\r\n  Programming to 0x0 ... Done.\r\n"
                              "  Verifying... OK.\r\n"),
            std::string::npos)
      << job.page.log;
  EXPECT_EQ(job.device->eraseLog(), (std::vector<uint32_t>{0, 2})) << "a marked block is never erased";
  EXPECT_EQ(job.device->mainBytes(3 * job.blockSize, job.blockSize), Bytes(job.blockSize, 0x00));
  EXPECT_EQ(job.device->mainBytes(0, job.blockSize), Bytes(image.begin(), image.begin() + job.blockSize));
  Bytes tail(image.begin() + job.blockSize, image.end());
  tail.resize(job.blockSize, 0xFF);
  EXPECT_EQ(job.device->mainBytes(2 * job.blockSize, job.blockSize), tail);
  EXPECT_TRUE(job.board->violations().empty());
}

TEST(NandJob, RunningOutOfGoodBlocksNeverWrapsToTheStart) {
  sim::NandDeviceConfig config;
  config.factoryBadBlocks = {2047};
  JobRun job(Veskar, 0x75, config);
  job.writeImage(pattern(job.blockSize + 10));
  job.settings.block = 2046;
  job.run();
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Not enough good blocks"});
  EXPECT_TRUE(job.page.log.ends_with("\r\n  No good block left before the end of the device\r\n\r\n")) << job.page.log;
  for (uint32_t page : job.device->storedPages()) EXPECT_EQ(page / 32, 2046u);
  EXPECT_EQ(job.device->programLog().size(), 32u);
}

TEST(NandJob, FactoryMarkedBlockIsPassedOverWithoutAnErase) {
  // The maker may mark the first page, the second, or both.
  for (const bool secondPageOnly : {false, true}) {
    for (uint8_t code : {uint8_t{0x75}, uint8_t{0xDA}}) {
      sim::NandDeviceConfig config;
      (secondPageOnly ? config.secondPageMarkBlocks : config.markOnlyBlocks) = {0};
      JobRun job(Veskar, code, config);
      const Bytes image = pattern(700);
      job.writeImage(image);
      job.settings.verify = 1;
      job.run();
      EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."}) << job.page.log;
      // Listed like a block whose erase fails, here the only one of the range.
      EXPECT_NE(job.page.log.find(format("  Erasing .\r\n ERROR. ADDR: 0x%X OK.\r\nBAD block num #\r\n[0000]\r\n",
                                         job.blockSize) +
                                  "  Programming to 0x0 ... Done.\r\n  Verifying... OK.\r\n"),
                std::string::npos)
          << job.page.log;
      // The marked block is never erased; the block the data moves to is erased before it is programmed.
      EXPECT_EQ(job.device->eraseLog(), (std::vector<uint32_t>{1}));
      const uint32_t pagesPerBlock = job.device->geometry().pagesPerBlock;
      for (uint32_t page : job.device->programLog()) EXPECT_EQ(page / pagesPerBlock, 1u) << "page " << page;
      EXPECT_EQ(job.device->spareByte(secondPageOnly ? 1 : 0, code == 0x75 ? 5 : 0), 0x00) << "the marker stays";
      Bytes moved = image;
      moved.resize(job.blockSize, 0xFF);
      EXPECT_EQ(job.device->mainBytes(job.blockSize, job.blockSize), moved);
      EXPECT_TRUE(job.board->violations().empty()) << job.board->violations().front();
    }
  }
}

TEST(NandJob, AMarkerReadThatTimesOutCountsTheBlockAsBad) {
  struct Case {
    uint8_t code;
    uint8_t hangAfter;
    uint32_t count;
    std::vector<uint32_t> erased;
  };
  const Case cases[] = {
      {0x75, 0x50, 1, {1}},     // before the erase
      {0xDA, 0x30, 1, {1}},     // before the erase
      {0xDA, 0x30, 3, {0, 1}},  // after the erase, in the program pass
  };
  for (const Case& c : cases) {
    sim::NandDeviceConfig config;
    config.hangAfter = c.hangAfter;
    config.hangAfterCount = c.count;
    JobRun job(Veskar, c.code, config);
    const Bytes image = pattern(100);
    job.writeImage(image);
    job.settings.verify = 1;
    job.run();
    const std::string erasePass =
        c.erased.size() == 2 ? "  Erasing . OK.\r\n"
                             : format("  Erasing .\r\n ERROR. ADDR: 0x%X OK.\r\nBAD block num #\r\n[0000]\r\n",
                                      job.blockSize);
    EXPECT_NE(job.page.log.find(erasePass + "  Programming to 0x0 ... Done.\r\n  Verifying... OK.\r\n"),
              std::string::npos)
        << job.page.log;
    EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."});
    EXPECT_EQ(job.device->eraseLog(), c.erased);
    job.expectImageIn({1}, image);
    EXPECT_TRUE(job.board->violations().empty()) << job.board->violations().front();
  }
}

TEST(NandJob, AProgramThatStaysBusyFails) {
  sim::NandDeviceConfig config;
  config.hangAfter = 0x10;
  config.hangAfterCount = 2;
  JobRun job(Tqr2400, 0xDA, config);
  job.writeImage(pattern(3 * 2048));
  job.settings.verify = 1;
  job.run();
  EXPECT_TRUE(job.page.log.ends_with("  Programming to 0x0 ... \r\n  Write ERROR, ADDR: 0x800\r\n\r\n"))
      << job.page.log;
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Programming Error"});
  EXPECT_EQ(job.device->programLog(), (std::vector<uint32_t>{0, 1}));
}

TEST(NandJob, PageSizesOtherThan2048AreRefusedBeforeErasing) {
  for (uint8_t fourth : {uint8_t{0x14}, uint8_t{0x16}}) {
    sim::NandDeviceConfig config;
    config.idByte4Set = true;
    config.idByte4 = fourth;
    JobRun job(Veskar, 0xDA, config);
    job.writeImage(pattern(100));
    job.run();
    EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Cannot Support NAND."}) << int(fourth);
    EXPECT_TRUE(job.device->eraseLog().empty());
    EXPECT_TRUE(job.device->programLog().empty());
  }
}

TEST(NandJob, ExactFitAtTheDeviceEndFromALaterBlock) {
  JobRun job(Veskar, 0x75);
  const Bytes image = pattern(2 * job.blockSize);
  job.writeImage(image);
  job.settings.block = 2046;
  job.settings.verify = 1;
  job.run();
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."}) << job.page.log;
  EXPECT_NE(job.page.log.find("  Erasing . OK.\r\n  Programming to 0x1FF8000 ... Done.\r\n"), std::string::npos)
      << job.page.log;
  EXPECT_EQ(job.device->eraseLog(), (std::vector<uint32_t>{2046, 2047}));
  job.expectImageIn({2046, 2047}, image);
}

TEST(NandJob, AFailedEraseOfTheLastBlockLogsItsErrorLine) {
  // The same log whether the block refuses its erase or is never erased for its factory marker.
  for (bool marked : {false, true}) {
    sim::NandDeviceConfig config;
    (marked ? config.factoryBadBlocks : config.eraseFailBlocks) = {1};
    JobRun job(Obrin, 0x75, config);
    const Bytes image = pattern(2 * job.blockSize);
    job.writeImage(image);
    job.run();
    EXPECT_NE(job.page.log.find("  Erasing ..\r\n ERROR. ADDR: 0x8000 OK.\r\nBAD block num #\r\n[0001]\r\n"
                                "  Programming to 0x0 ... Done.\r\n"),
              std::string::npos)
        << marked << job.page.log;
    EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."});
    EXPECT_EQ(job.device->mainBytes(2 * job.blockSize, job.blockSize),
              Bytes(image.begin() + job.blockSize, image.end()));
  }
}

// No block written with a bad-block marker: programs that only carry data leave the spare areas
// erased.
void expectNoMarks(const JobRun& job, const std::string& what) {
  const uint32_t marker = job.device->geometry().largePage ? 0 : 5;
  for (uint32_t page : job.device->storedPages())
    EXPECT_EQ(job.device->spareByte(page, marker), 0xFF) << what << ": page " << page << " marked";
}

// TDO that sticks high or low, or glitches, at a point of any command of a download: the job stops
// with the cable's line, marks no block and erases nothing after the point.
TEST(NandJob, ACableThatFailsMidJobCostsNoBlock) {
  struct Point {
    uint8_t command;
    uint32_t count;
    uint32_t scans;  // 0: stuck for good
    bool highOnly = false;  // a short low on R/B only makes a busy device look busy a little longer
  };
  // Small pages: two blocks erased (0x50 reads each marker, 0x70 #1 is the write-protect test
  // before them, #2 and #3 their erases' status, #4 the first program's), 33 pages programmed and
  // read back with 0x00.
  const Point smallPoints[] = {{0xFF, 1, 0},  {0x50, 1, 0},  {0x70, 1, 0}, {0x60, 1, 0}, {0xD0, 1, 0},
                               {0x70, 2, 0},  {0x60, 2, 0},  {0x70, 3, 0}, {0x80, 1, 0}, {0x10, 1, 0},
                               {0x70, 4, 0},  {0x80, 33, 0}, {0x00, 30, 0}, {0x70, 2, 4}, {0x70, 4, 4},
                               {0x10, 2, 5, true}};
  // Large pages: one block (0x30 #1 and #2 its markers, #3 the program pass's marker test, #4 on
  // the read-back; 0x70 #1 the write-protect test), three pages.
  const Point largePoints[] = {{0x30, 1, 0}, {0x70, 1, 0}, {0x60, 1, 0}, {0x70, 2, 0}, {0x80, 2, 0},
                               {0x70, 4, 0}, {0x30, 5, 0}, {0x70, 3, 4}};
  for (const uint8_t code : {uint8_t{0x75}, uint8_t{0xDA}}) {
    const bool small = code == 0x75;
    const auto* points = small ? smallPoints : largePoints;
    const size_t count = small ? std::size(smallPoints) : std::size(largePoints);
    for (size_t i = 0; i < count; ++i) {
      for (const bool level : {false, true}) {
        const Point& point = points[i];
        if (point.highOnly && !level) continue;
        sim::NandDeviceConfig config;
        config.forceTdo = true;
        config.tdoAfter = point.command;
        config.tdoAfterCount = point.count;
        config.tdoLevel = level;
        config.tdoScans = point.scans;
        JobRun job(Veskar, code, config);
        const std::string what = format("0x%X: TDO %u", code, level) +
                                 format(" from command 0x%02X #%u", point.command, point.count) +
                                 format(" for %u scans", point.scans);
        job.writeImage(pattern(small ? job.blockSize + 512 : 3 * 2048));
        job.settings.verify = 1;
        job.run();
        ASSERT_GE(job.device->erasesWhenTdoForced(), 0) << what << ": the point was never reached";
        EXPECT_NE(job.page.log.find("\n  Cable: "), std::string::npos) << what << "\n" << job.page.log;
        EXPECT_EQ(job.page.log.find("Block "), std::string::npos) << what << "\n" << job.page.log;
        EXPECT_TRUE(std::find(job.page.boxes.begin(), job.page.boxes.end(), "Download Complete.") ==
                    job.page.boxes.end())
            << what;
        EXPECT_LE(job.device->eraseLog().size(), static_cast<size_t>(job.device->erasesWhenTdoForced()) + 1)
            << what << ": erased past the failure";
        expectNoMarks(job, what);
      }
    }
  }
}

// Blocks that fail their erase one after another, while the device still gives its ID: after three
// the job stops, naming the cable, and marks none of them; a run that a good block ends is the
// blocks' own, and they are marked.
TEST(NandJob, ARunOfFailedErasesStopsTheJobAndMarksNone) {
  sim::NandDeviceConfig config;
  config.eraseFailBlocks = {0, 1, 3, 4, 5};
  JobRun job(Veskar, 0x75, config);
  job.writeImage(pattern(6 * job.blockSize));
  job.run();
  EXPECT_TRUE(job.page.log.ends_with("  Erasing .....\r\n ERROR. ADDR: 0x14000\r\n"
                                     "  Cable: 3 blocks in a row failed their erase (the last at 0x14000) although "
                                     "the NAND still gives its ID: the cable is suspect, none of them was marked "
                                     "bad\r\n  Block 0 failed and is marked bad\r\n  Block 1 failed and is marked "
                                     "bad\r\n\r\n"))
      << job.page.log;
  EXPECT_TRUE(job.page.boxes.empty());
  EXPECT_EQ(job.device->eraseLog(), (std::vector<uint32_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(job.device->programLog(), (std::vector<uint32_t>{0, 1, 32, 33})) << "blocks 0 and 1 marked, 3-5 not";
}

// A marker that one glitch reads as 0x00 costs its block nothing: read again, it says otherwise,
// and the job stops on the cable's line before erasing anything. WP# held low stops the job
// before any erase, naming it, instead of failing block after block.
TEST(NandJob, AMarkerGlitchOrWriteProtectCostsNoBlock) {
  sim::NandDeviceConfig glitch;
  glitch.forceTdo = true;
  glitch.tdoAtRead = true;
  glitch.tdoLevel = false;
  glitch.tdoAfter = 0x30;
  glitch.tdoScans = 1;
  JobRun marker(Obrin, 0xDA, glitch);
  marker.writeImage(pattern(2048));
  marker.run();
  EXPECT_TRUE(marker.page.log.ends_with("  Erasing \r\n ERROR. ADDR: 0x0\r\n  Cable: the NAND's bad-block marker at "
                                        "0x0 read 0x00, then 0xFF: the answers through the cable change\r\n\r\n"))
      << marker.page.log;
  EXPECT_EQ(marker.page.log.find("BAD block"), std::string::npos) << marker.page.log;
  EXPECT_TRUE(marker.device->eraseLog().empty());
  EXPECT_TRUE(marker.device->programLog().empty());
  // The same glitch on the program pass's marker test of the erased block.
  glitch.tdoAfterCount = 3;
  JobRun erased(Obrin, 0xDA, glitch);
  erased.writeImage(pattern(2048));
  erased.run();
  EXPECT_NE(erased.page.log.find("  Programming to 0x0 ... \r\n  Cable: the NAND's bad-block marker at 0x0 read 0x00, "
                                 "then 0xFF"),
            std::string::npos)
      << erased.page.log;
  EXPECT_TRUE(erased.device->programLog().empty());

  sim::NandDeviceConfig protect;
  protect.writeProtect = true;
  JobRun job(Veskar, 0x75, protect);
  job.writeImage(pattern(4 * job.blockSize));
  job.run();
  EXPECT_TRUE(job.page.log.ends_with("  Erasing \r\n  " + std::string(kNandWriteProtectedText) +
                                     " (its status reads 0x40, I/O7 low): nothing was erased\r\n\r\n"))
      << job.page.log;
  EXPECT_EQ(job.page.boxes, std::vector<std::string>{kNandWriteProtectedText});
  EXPECT_TRUE(job.device->eraseLog().empty());
  EXPECT_TRUE(job.device->programLog().empty());
}

// TDO high for good from the program pass's marker test on: the marker reads unmarked, the page
// of padding is skipped and reads back as the image has it, which is no success while the device
// is not itself.
TEST(NandJob, PaddingVerifiedThroughADeadCableIsNoSuccess) {
  sim::NandDeviceConfig config;
  config.forceTdo = true;
  config.tdoAfter = 0x30;
  config.tdoAfterCount = 3;
  JobRun padding(Obrin, 0xDA, config);
  padding.writeImage(Bytes(2048, 0xFF));
  padding.settings.skipBlank = 1;
  padding.settings.verify = 1;
  padding.run();
  EXPECT_NE(padding.page.log.find("  Verifying... \r\n  Cable: the NAND answers with ID FF FF FF FF"),
            std::string::npos)
      << padding.page.log;
  EXPECT_EQ(padding.page.boxes, std::vector<std::string>{"Verify ERROR"});
}

// WP# that goes low during the job fails the erase or program that follows: the status says so,
// and the job stops naming it, blaming and marking no block.
TEST(NandJob, WriteProtectMidJobMarksNoBlock) {
  for (const uint8_t command : {uint8_t{0x60}, uint8_t{0x80}}) {
    sim::NandDeviceConfig config;
    config.writeProtect = config.writeProtectLater = true;
    config.writeProtectAfter = command;
    config.writeProtectAfterCount = 2;
    JobRun job(Veskar, 0x75, config);
    const std::string at = format("WP# low from command 0x%02X #2", command);
    job.writeImage(pattern(3 * job.blockSize));
    job.run();
    EXPECT_NE(job.page.log.find("\r\n  Cable: the NAND's status 0x41 says it is write-protected: its WP# line went "
                                "low during the job\r\n"),
              std::string::npos)
        << at << job.page.log;
    EXPECT_EQ(job.page.log.find("Block "), std::string::npos) << at << job.page.log;
    if (command == 0x60) {
      EXPECT_EQ(job.device->eraseLog().size(), 2u) << at;
    }
    expectNoMarks(job, at);
  }
}

TEST(NandJob, PinsLeftByAnotherJobAreIdledBeforeTheDeviceIsSelected) {
  restoreProductImages();
  for (int p = 0; p < kProductCount; ++p) {
    const auto chip = static_cast<TargetProduct>(p);
    const std::string options = std::string("chip=") + sim::simChip(chip).name;
    // Pin toggling ends with every toggled pin low, nWE and nRE among them.
    auto toggled = sim::makeBoard(options + ",nand=none");
    RecordingPage togglePage;
    ExtraSettings toggle;
    toggle.product = p;
    int readings = 0;
    runExtraJob(togglePage, *toggled, toggle, [&togglePage, &readings] {
      if (++readings == 4) togglePage.stopRequested.store(1);
      return int64_t{readings} * 60;
    });
    ASSERT_NE(togglePage.log.find("STOP."), std::string::npos) << togglePage.log;
    if (chip == Veskar) {
      // A NOR job on VESKAR leaves the start of its last debug frame in the same image.
      auto norBoard = sim::makeBoard(options + ",nand=none");
      JobRun files(chip, 0);
      files.writeImage(pattern(64));
      RecordingPage norPage;
      NorSettings nor;
      nor.product = p;
      nor.flashType = 9;
      nor.imagePath = files.file.string();
      runNorJob(norPage, *norBoard, nor);
      ASSERT_EQ(norPage.boxes, std::vector<std::string>{"Download Complete."}) << norPage.log;
    }
    JobRun job(chip, 0xDA);
    job.writeImage(pattern(3000));
    runNandJob(job.page, *job.board, job.settings);
    EXPECT_EQ(job.page.boxes, std::vector<std::string>{"Download Complete."}) << p << job.page.log;
    EXPECT_TRUE(job.board->violations().empty()) << p << " " << job.board->violations().front();
  }
  restoreProductImages();
}

}  // namespace
}  // namespace zorv
