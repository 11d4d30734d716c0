#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "nand/nand_flash.h"
#include "nand/nand_job.h"
#include "page/recording_page.h"
#include "readback/losing_port.h"
#include "readback/output_file.h"
#include "readback/read_job.h"
#include "sim/board.h"
#include "sim/nand_device.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes pattern(size_t size, unsigned seed = 1) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
  return bytes;
}

Bytes slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// No partial file of a read to out is left beside it.
bool partialFileLeft(const fs::path& out) {
  const std::string stem = out.filename().string() + ".";
  for (const auto& entry : fs::directory_iterator(out.parent_path())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(stem) && name.ends_with(".part")) return true;
  }
  return false;
}

void spit(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A virtual board with a NAND device, a page, and scratch files for one test.
struct NandBoard {
  std::unique_ptr<sim::Board> board;
  sim::NandDevice* device = nullptr;
  RecordingPage page;
  ReadSettings settings;
  fs::path out;
  fs::path image;

  NandBoard(TargetProduct chip, uint8_t code, sim::NandDeviceConfig config = {}) {
    board = std::make_unique<sim::Board>(sim::parseBoardOptions(std::string("chip=") + sim::simChip(chip).name));
    config.deviceCode = code;
    device = &sim::attachNandDevice(*board, config);
    settings.flash = ReadFlash::Nand;
    settings.product = chip;
    static int serial = 0;
    const std::string stem =
        (fs::temp_directory_path() / ("zorv_nandread_" + std::to_string(getpid()) + "_" + std::to_string(++serial)))
            .string();
    out = stem + ".out";
    image = stem + ".bin";
    settings.outputPath = out.string();
    settings.imagePath = image.string();
  }
  ~NandBoard() {
    std::error_code ignored;
    fs::remove(out, ignored);
    fs::remove(image, ignored);
    fs::remove(out.string() + ".part", ignored);
  }
  uint32_t blockSize() const { return device->geometry().blockSize(); }
  uint32_t pageSize() const { return device->geometry().pageSize; }
  void run(ReadMode mode) {
    settings.mode = mode;
    page.log.clear();
    page.boxes.clear();
    restoreProductImages();
    runReadJob(page, *board, settings);
  }
  // The nand download of image from block, as the user would run it before reading back.
  void download(const Bytes& bytes, uint32_t block, bool oob = false) {
    spit(image, bytes);
    NandSettings nand;
    nand.product = settings.product;
    nand.block = block;
    nand.imagePath = image.string();
    nand.oob = oob;
    nand.verify = oob;
    downloadPage.log.clear();
    downloadPage.boxes.clear();
    restoreProductImages();
    runNandJob(downloadPage, *board, nand);
    ASSERT_EQ(downloadPage.boxes, std::vector<std::string>{"Download Complete."}) << downloadPage.log;
  }
  RecordingPage downloadPage;
};

TEST(NandReadJob, RoundTripOnEveryProduct) {
  for (int p = 0; p < kProductCount; ++p) {
    // Small pages on every product, large pages once. The first block is bad, so the download
    // writes the image into the next one and the read must pass over it the same way.
    for (uint8_t code : {uint8_t{0x75}, uint8_t{0xDA}}) {
      if (code == 0xDA && p != Obrin) continue;
      const auto chip = static_cast<TargetProduct>(p);
      sim::NandDeviceConfig config;
      config.factoryBadBlocks = {2};
      NandBoard nand(chip, code, config);
      const Bytes image = pattern(2 * nand.pageSize() + 100, p);
      nand.download(image, 2);
      nand.settings.block = 2;
      nand.settings.size = image.size();
      nand.run(ReadMode::Read);
      EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Read Complete."}) << nand.page.log;
      EXPECT_EQ(slurp(nand.out), image) << p << " " << int{code};
      EXPECT_NE(nand.page.log.find("BAD block num #\r\n[0002]\r\n"), std::string::npos) << nand.page.log;
      EXPECT_FALSE(fs::exists(nand.out.string() + ".part"));
      EXPECT_TRUE(nand.board->violations().empty()) << nand.board->violations().front();
      EXPECT_EQ(nand.page.events.back().what, "unlock");
    }
  }
}

TEST(NandReadJob, RawReadsBadBlocksAndOobFollowsEachPageWithItsSpare) {
  sim::NandDeviceConfig config;
  config.factoryBadBlocks = {1};
  NandBoard nand(Obrin, 0x75, config);
  const uint32_t block = nand.blockSize();
  const Bytes data = pattern(1024);
  nand.device->preload(2 * block, data);

  // From the bad block 1: the read passes over it to block 2.
  nand.settings.block = 1;
  nand.settings.size = 1024;
  nand.run(ReadMode::Read);
  EXPECT_EQ(slurp(nand.out), data);

  // Raw: block 1 as it reads, all zeros on this part.
  nand.settings.raw = true;
  nand.run(ReadMode::Read);
  EXPECT_EQ(slurp(nand.out), Bytes(1024, 0x00));

  // Each 512-byte page, then its 16 spare bytes.
  nand.settings.block = 2;
  nand.settings.raw = false;
  nand.settings.oob = true;
  nand.run(ReadMode::Read);
  Bytes oob;
  for (uint32_t page = 0; page < 2; ++page) {
    oob.insert(oob.end(), data.begin() + page * 512, data.begin() + (page + 1) * 512);
    for (uint32_t s = 0; s < 16; ++s) oob.push_back(nand.device->spareByte(2 * block / 512 + page, s));
  }
  EXPECT_EQ(slurp(nand.out), oob);

  // Padded: the bad block's place holds 0xFF, so offsets stay as on the flash.
  nand.settings.block = 1;
  nand.settings.oob = false;
  nand.settings.padBad = true;
  nand.settings.size = block + 1024;
  nand.run(ReadMode::Read);
  Bytes padded(block, 0xFF);
  padded.insert(padded.end(), data.begin(), data.end());
  EXPECT_EQ(slurp(nand.out), padded);
  nand.settings.padBad = false;
  nand.settings.oob = true;

  // A large page carries 64 spare bytes, or 32 when the fourth ID byte says 8 per 512.
  for (const auto& [id4, spare] : {std::pair<uint8_t, size_t>{0x15, 64}, {0x11, 32}}) {
    sim::NandDeviceConfig large;
    large.idByte4Set = true;
    large.idByte4 = id4;
    NandBoard big(Veskar, 0xDA, large);
    big.settings.size = 2048;
    big.settings.oob = true;
    big.run(ReadMode::Read);
    EXPECT_EQ(slurp(big.out).size(), 2048 + spare) << int{id4};
  }

  // Spare areas come only in whole pages.
  nand.settings.block = 2;
  nand.settings.size = 100;
  nand.run(ReadMode::Read);
  EXPECT_EQ(nand.page.boxes,
            std::vector<std::string>{"With the spare areas the size must be whole pages of 0x200 bytes"});
}

// A backup with the spare areas, an erase, and a restore from the backup: every part's pages come
// back with their spare areas, and a block with a factory marker is never erased nor written.
TEST(NandReadJob, SpareAreasSurviveABackupEraseAndRestoreOnEveryPart) {
  for (uint8_t code : {uint8_t{0x75}, uint8_t{0x76}, uint8_t{0xF1}, uint8_t{0xDA}, uint8_t{0xDC}, uint8_t{0xD3}}) {
    sim::NandDeviceConfig config;
    config.markOnlyBlocks = {1};  // its erase would work, and clear the marker
    NandBoard nand(Veskar, code, config);
    const sim::NandGeometry& g = nand.device->geometry();
    const uint32_t marker = g.largePage ? 0 : 5;
    const uint32_t first = 2 * g.pagesPerBlock;  // block 2's first page
    const Bytes main0 = pattern(g.pageSize, 1), main1 = pattern(g.pageSize, 2);
    Bytes spare0 = pattern(g.spareSize, 3);
    spare0[marker] = 0xFF;  // a good block's own marker
    nand.device->preload(first * g.pageSize, main0);
    nand.device->preload((first + 1) * g.pageSize, main1);  // its spare area stays erased
    nand.device->preloadSpare(first, spare0);
    nand.device->preload(g.blockSize() + 7, {0x12});
    const Bytes markedPage = nand.device->mainBytes(g.blockSize(), g.pageSize);

    nand.settings.block = 1;
    nand.settings.size = 2 * g.pageSize;
    nand.settings.oob = true;
    nand.run(ReadMode::Read);
    ASSERT_EQ(nand.page.boxes, std::vector<std::string>{"Read Complete."}) << nand.page.log;
    const Bytes backup = slurp(nand.out);
    ASSERT_EQ(backup.size(), 2 * (g.pageSize + g.spareSize));

    nand.settings.count = 2;
    nand.run(ReadMode::Erase);
    ASSERT_EQ(nand.device->storedPages(), (std::vector<uint32_t>{g.pagesPerBlock, g.pagesPerBlock + 1}));

    // Not whole records: refused before anything is erased.
    Bytes torn = backup;
    torn.push_back(0);
    spit(nand.image, torn);
    NandSettings restore;
    restore.product = Veskar;
    restore.block = 1;
    restore.imagePath = nand.image.string();
    restore.oob = true;
    RecordingPage refused;
    restoreProductImages();
    runNandJob(refused, *nand.board, restore);
    EXPECT_EQ(refused.boxes.size(), 1u);
    EXPECT_EQ(refused.log.find("Erasing"), std::string::npos) << refused.log;

    nand.download(backup, 1, true);
    EXPECT_EQ(nand.device->mainBytes(first * g.pageSize, g.pageSize), main0) << int{code};
    EXPECT_EQ(nand.device->mainBytes((first + 1) * g.pageSize, g.pageSize), main1);
    for (uint32_t i = 0; i < g.spareSize; ++i) {
      EXPECT_EQ(nand.device->spareByte(first, i), spare0[i]) << int{code} << " " << i;
      EXPECT_EQ(nand.device->spareByte(first + 1, i), 0xFF) << int{code} << " " << i;
    }
    EXPECT_EQ(nand.device->mainBytes(g.blockSize(), g.pageSize), markedPage);
    EXPECT_EQ(nand.device->spareByte(g.pagesPerBlock, marker), 0x00);
    for (uint32_t block : nand.device->eraseLog()) EXPECT_NE(block, 1u) << int{code};
    for (uint32_t page : nand.device->programLog()) EXPECT_NE(page / g.pagesPerBlock, 1u) << int{code};
    // The page with an erased spare area took no spare bytes; the other took them.
    EXPECT_EQ(nand.device->programLog(), (std::vector<uint32_t>{first, first + 1}));

    // The read-back compare looks at the spare areas too.
    nand.run(ReadMode::Verify);
    EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Verify Complete."}) << nand.page.log;
    Bytes changed = backup;
    changed[g.pageSize + 9] ^= 0x01;
    spit(nand.image, changed);
    nand.run(ReadMode::Verify);
    EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Verify ERROR"}) << nand.page.log;
    EXPECT_TRUE(nand.board->violations().empty()) << nand.board->violations().front();
  }
}

// A --raw copy keeps the bad blocks' spare areas, markers and all; written back with --oob, a
// marker would land in a good block and make it bad for good. Refused before anything is erased.
TEST(NandReadJob, ARawCopyWithMarkersIsRefusedBeforeAnyErase) {
  struct Case {
    uint8_t code;
    bool secondPageOnly;
    uint32_t size;
    std::string box;
  };
  const std::string howTo = ": written back, it would mark a good block bad. Make the image with nand-read --oob "
                            "without --raw, which leaves the bad blocks out";
  const Case cases[] = {
      {0x75, false, 3 * 0x4000, "Block 1 of the image carries a bad-block marker (spare byte 5 of its page 0 is 0x00)"},
      {0xDA, true, 2 * 2048, "Block 0 of the image carries a bad-block marker (spare byte 0 of its page 1 is 0x00)"},
  };
  for (const Case& c : cases) {
    sim::NandDeviceConfig config;
    (c.secondPageOnly ? config.secondPageMarkBlocks : config.factoryBadBlocks) = {c.code == 0x75 ? 1u : 0u};
    NandBoard nand(Veskar, c.code, config);
    nand.settings.size = c.size;
    nand.settings.raw = true;
    nand.settings.oob = true;
    nand.run(ReadMode::Read);
    ASSERT_EQ(nand.page.boxes, std::vector<std::string>{"Read Complete."}) << nand.page.log;
    fs::copy_file(nand.out, nand.image, fs::copy_options::overwrite_existing);
    NandSettings restore;
    restore.product = Veskar;
    restore.block = 4;
    restore.imagePath = nand.image.string();
    restore.oob = true;
    RecordingPage page;
    restoreProductImages();
    runNandJob(page, *nand.board, restore);
    EXPECT_EQ(page.boxes, std::vector<std::string>{c.box + howTo}) << int{c.code};
    EXPECT_EQ(page.log.find("Erasing"), std::string::npos) << page.log;
    EXPECT_TRUE(nand.device->eraseLog().empty());
    EXPECT_TRUE(nand.device->programLog().empty());
  }
}

// A size that ends inside a bad block gives exactly that many bytes, the padding with --oob in whole
// page+spare records. The bad block is the device's last, so padding that ran past the size would
// run into its end.
TEST(NandReadJob, PaddingABadBlockStopsAtTheSize) {
  sim::NandDeviceConfig config;
  config.factoryBadBlocks = {2047};
  NandBoard nand(Veskar, 0x75, config);
  const uint32_t block = nand.blockSize();
  const Bytes data = pattern(block);
  nand.device->preload(2046 * block, data);
  nand.settings.block = 2046;
  nand.settings.padBad = true;
  nand.settings.size = block + 1000;
  nand.run(ReadMode::Read);
  ASSERT_EQ(nand.page.boxes, std::vector<std::string>{"Read Complete."}) << nand.page.log;
  Bytes expected = data;
  expected.resize(block + 1000, 0xFF);
  EXPECT_EQ(slurp(nand.out), expected);

  nand.settings.oob = true;
  nand.settings.size = block + 2 * 512;
  nand.run(ReadMode::Read);
  ASSERT_EQ(nand.page.boxes, std::vector<std::string>{"Read Complete."}) << nand.page.log;
  expected.clear();
  for (uint32_t page = 0; page < 32; ++page) {
    expected.insert(expected.end(), data.begin() + page * 512, data.begin() + (page + 1) * 512);
    for (uint32_t i = 0; i < 16; ++i) expected.push_back(nand.device->spareByte(2046 * 32 + page, i));
  }
  expected.resize(expected.size() + 2 * (512 + 16), 0xFF);
  EXPECT_EQ(slurp(nand.out), expected);
}

// A file left under the name a read picks for its partial file is never written into: the read
// takes the next free name, and the result holds only what was read.
TEST(NandReadJob, AFileLeftUnderAPartialNameIsNeverWrittenInto) {
  NandBoard nand(Veskar, 0x75);
  const Bytes data = pattern(1024);
  nand.device->preload(0, data);
  // The names the next reads will pick, found from one taken and given back.
  std::string taken;
  {
    OutputFile probe(nand.out.string());
    ASSERT_TRUE(probe.open());
    taken = probe.partPath();
  }
  const size_t dash = taken.rfind('-');
  ASSERT_NE(dash, std::string::npos) << taken;
  const std::string stem = taken.substr(0, dash + 1);
  const unsigned next = static_cast<unsigned>(std::stoul(taken.substr(dash + 1))) + 1;
  const Bytes stale(4096, 0x5A);
  std::vector<fs::path> left;
  for (unsigned n = next; n < next + 3; ++n) {
    left.push_back(stem + std::to_string(n) + ".part");
    spit(left.back(), stale);
  }
  nand.settings.size = data.size();
  nand.run(ReadMode::Read);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Read Complete."}) << nand.page.log;
  EXPECT_EQ(slurp(nand.out), data);
  for (const fs::path& path : left) {
    EXPECT_EQ(slurp(path), stale) << path;
    fs::remove(path);
  }
}

// A block whose erase fails during a download is marked, so that the read-back commands pass over
// it as the download did.
TEST(NandReadJob, ABlockThatFailedItsEraseIsMarkedAndPassedOverAfterwards) {
  sim::NandDeviceConfig config;
  config.eraseFailBlocks = {1};
  NandBoard nand(Veskar, 0x75, config);
  const Bytes image = pattern(nand.blockSize() + 700);
  nand.download(image, 0);
  EXPECT_NE(nand.downloadPage.log.find("  Block 1 failed and is marked bad\r\n"), std::string::npos)
      << nand.downloadPage.log;
  nand.run(ReadMode::Verify);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Verify Complete."}) << nand.page.log;
  nand.run(ReadMode::BadScan);
  EXPECT_NE(nand.page.log.find("BAD block num #\r\n[0001]\r\n"), std::string::npos) << nand.page.log;
  EXPECT_EQ(nand.device->spareByte(nand.blockSize() / 512, 5), 0x00);
  EXPECT_EQ(nand.device->spareByte(nand.blockSize() / 512 + 1, 5), 0x00);
}

TEST(NandReadJob, RangesPastTheEndAreRefusedBeforeAnyRead) {
  // VESKAR's short boundary register keeps the whole-block read quick.
  NandBoard nand(Veskar, 0x75);
  const uint32_t last = 2047;
  nand.device->preload(last * nand.blockSize() + 10, {0x12, 0x34});
  nand.settings.block = last;
  nand.settings.size = nand.blockSize() + 1;
  nand.run(ReadMode::Read);
  EXPECT_EQ(nand.page.boxes,
            std::vector<std::string>{"The range runs past the end of the device (0x4000 bytes from block 2047)"});
  EXPECT_EQ(nand.page.log.find("Reading"), std::string::npos);
  EXPECT_FALSE(fs::exists(nand.out));
  EXPECT_FALSE(fs::exists(nand.out.string() + ".part"));

  nand.settings.block = 2048;
  nand.run(ReadMode::Read);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Block 2048 is past the end of the device (2048 blocks)"});

  // To the end: the last block, whole.
  nand.settings.block = last;
  nand.settings.toEnd = true;
  nand.run(ReadMode::Read);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Read Complete."});
  Bytes expected(nand.blockSize(), 0xFF);
  expected[10] = 0x12;
  expected[11] = 0x34;
  EXPECT_EQ(slurp(nand.out), expected);

  nand.settings.block = 2040;
  nand.settings.count = 9;
  nand.run(ReadMode::Erase);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"The range runs past the end of the device (2048 blocks)"});
  EXPECT_TRUE(nand.device->eraseLog().empty());

  // Nothing asked for is refused, never reported as done.
  fs::remove(nand.out);
  nand.settings.toEnd = false;
  nand.settings.size = 0;
  nand.run(ReadMode::Read);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Nothing to read: the size is 0"});
  EXPECT_FALSE(fs::exists(nand.out));
  nand.settings.count = 0;
  nand.run(ReadMode::Erase);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Nothing to erase: the count is 0"});
  EXPECT_TRUE(nand.device->eraseLog().empty());
  spit(nand.image, {});
  nand.run(ReadMode::Verify);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Nothing to verify: the image file is empty"});
}

TEST(NandReadJob, VerifyPlacesTheImageAsTheDownloadAndReportsTheFirstDifference) {
  sim::NandDeviceConfig config;
  config.factoryBadBlocks = {5};
  NandBoard nand(Ika, 0x75, config);
  const Bytes image = pattern(1500);
  nand.download(image, 5);
  nand.settings.block = 5;
  nand.run(ReadMode::Verify);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Verify Complete."}) << nand.page.log;

  // One bit the flash lost, in the block after the bad one, where the download put the image.
  const uint32_t at = 6 * nand.blockSize() + 1000;
  const uint8_t written = image[1000];
  nand.device->preload(at, {static_cast<uint8_t>(written ^ 0x01)});
  nand.run(ReadMode::Verify);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Verify ERROR"});
  char expected[120];
  std::snprintf(expected, sizeof expected, "  ERROR, ADDR: 0x%X\r\n    [Write: 0x%02X, Read: 0x%02X]\r\nError.\r\n", at,
                written, written ^ 0x01);
  EXPECT_NE(nand.page.log.find(expected), std::string::npos) << nand.page.log;
}

TEST(NandReadJob, EraseNeverErasesAMarkedBlockAndListsIt) {
  sim::NandDeviceConfig config;
  config.factoryBadBlocks = {2};
  config.markOnlyBlocks = {4};  // its erase would work, and clear the marker
  config.secondPageMarkBlocks = {5};
  NandBoard nand(Veskar, 0x75, config);
  nand.device->preload(nand.blockSize() + 100, Bytes(100, 0x00));
  nand.settings.block = 1;
  nand.settings.count = 4;
  nand.run(ReadMode::Erase);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Erase Complete."});
  EXPECT_EQ(nand.device->eraseLog(), (std::vector<uint32_t>{1, 3}));
  EXPECT_NE(nand.page.log.find("  Erasing .... OK.\r\nBAD block num #\r\n[0002]\r\n[0004]\r\n"), std::string::npos)
      << nand.page.log;
  EXPECT_NE(nand.device->spareByte(4 * nand.blockSize() / 512, 5), 0xFF);
  EXPECT_EQ(nand.device->mainBytes(nand.blockSize() + 100, 100), Bytes(100, 0xFF));

  // A marker in the second page only marks the block as well.
  nand.settings.block = 5;
  nand.settings.count = 1;
  nand.run(ReadMode::Erase);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Erase Complete."});
  EXPECT_EQ(nand.device->eraseLog(), (std::vector<uint32_t>{1, 3}));
  EXPECT_NE(nand.page.log.find("BAD block num #\r\n[0005]\r\n"), std::string::npos) << nand.page.log;
  nand.run(ReadMode::BadScan);
  EXPECT_NE(nand.page.log.find("BAD block num #\r\n[0002]\r\n[0004]\r\n[0005]\r\n  Bad blocks: 3 of 2048"),
            std::string::npos)
      << nand.page.log;
}

TEST(NandReadJob, EraseFailureIsAnError) {
  sim::NandDeviceConfig config;
  config.eraseFailBlocks = {1};
  NandBoard nand(Obrin, 0x75, config);
  nand.settings.count = 3;
  nand.run(ReadMode::Erase);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"ERASE ERROR."});
  EXPECT_NE(nand.page.log.find("Erase failed #\r\n[0001]\r\n"), std::string::npos) << nand.page.log;
}

// TDO that sticks during a read-back job: what it reads is the cable's, not the flash's. The job
// stops with the cable's line; no block is listed as bad or failed, nothing more is erased.
TEST(NandReadJob, ATdoThatSticksIsNamedAsTheCable) {
  const auto stuckAfter = [](uint8_t command, bool level) {
    sim::NandDeviceConfig config;
    config.forceTdo = true;
    config.tdoAfter = command;
    config.tdoLevel = level;
    return config;
  };
  // High from the first erase's status on: every erase would read failed.
  NandBoard erase(Veskar, 0x75, stuckAfter(0x70, true));
  erase.settings.count = 4;
  erase.run(ReadMode::Erase);
  EXPECT_NE(erase.page.log.find("  Cable: the NAND answers with ID FF FF FF FF, not EC 75 A5 00 as at the start"),
            std::string::npos)
      << erase.page.log;
  EXPECT_EQ(erase.page.log.find("Erase failed"), std::string::npos) << erase.page.log;
  EXPECT_EQ(erase.page.boxes, std::vector<std::string>{"ERASE ERROR."});
  EXPECT_EQ(erase.device->eraseLog(), std::vector<uint32_t>{0});

  // Low from the first marker read on: R/B never rises, for the cable, not the device.
  NandBoard scan(Veskar, 0x75, stuckAfter(0x50, false));
  scan.run(ReadMode::BadScan);
  EXPECT_NE(scan.page.log.find("  Cable: TDO does not carry the chip's answers (its instruction register captured "
                               "0000, not ..01)"),
            std::string::npos)
      << scan.page.log;
  EXPECT_EQ(scan.page.boxes, std::vector<std::string>{"Read ERROR"});

  // High from the first page read of a verify: the difference is the cable's.
  NandBoard verify(Veskar, 0x75, stuckAfter(0x00, true));
  verify.device->preload(0, pattern(512));
  spit(verify.image, pattern(512));
  verify.run(ReadMode::Verify);
  EXPECT_NE(verify.page.log.find("  Verifying... \r\n  Cable: the NAND answers with ID FF FF FF FF"),
            std::string::npos)
      << verify.page.log;
  EXPECT_EQ(verify.page.log.find("[Write:"), std::string::npos) << verify.page.log;
  EXPECT_EQ(verify.page.boxes, std::vector<std::string>{"Verify ERROR"});
}

// TDO stuck high from the end of the identification on: every page reads erased and every marker
// good, which no read, verify or scan may take for the flash's answer.
TEST(NandReadJob, ADeadCableIsNeverTakenForAnErasedFlash) {
  sim::NandDeviceConfig config;
  config.forceTdo = true;
  config.tdoAfter = 0xFF;
  const std::string cable = "  Cable: the NAND answers with ID FF FF FF FF, not EC 75 A5 00 as at the start";
  NandBoard read(Veskar, 0x75, config);
  read.settings.size = 2 * read.blockSize();
  read.run(ReadMode::Read);
  EXPECT_NE(read.page.log.find("  Reading from 0x0 ... \r\n" + cable), std::string::npos) << read.page.log;
  EXPECT_EQ(read.page.boxes, std::vector<std::string>{"Read ERROR"});
  EXPECT_FALSE(fs::exists(read.out));
  EXPECT_FALSE(partialFileLeft(read.out));
  EXPECT_EQ(read.page.progressPosition, 50) << "stops at the first block boundary";

  NandBoard verify(Veskar, 0x75, config);
  spit(verify.image, Bytes(512, 0xFF));
  verify.run(ReadMode::Verify);
  EXPECT_NE(verify.page.log.find("  Verifying... \r\n" + cable), std::string::npos) << verify.page.log;
  EXPECT_EQ(verify.page.boxes, std::vector<std::string>{"Verify ERROR"});

  NandBoard scan(Veskar, 0x75, config);
  scan.run(ReadMode::BadScan);
  EXPECT_NE(scan.page.log.find("  Scanning... \r\n" + cable), std::string::npos) << scan.page.log;
  EXPECT_EQ(scan.page.boxes, std::vector<std::string>{"Read ERROR"});
  EXPECT_EQ(scan.page.progressPosition, 3) << "stops after 64 of 2048 blocks";
}

// One glitch that reads a good block's marker as 0x00: the marker read again says otherwise, so
// the block is neither passed over nor listed, and the job ends on the cable's line.
TEST(NandReadJob, AMarkerThatReadsDifferentlyTwiceIsTheCables) {
  sim::NandDeviceConfig config;
  config.forceTdo = true;
  config.tdoAtRead = true;
  config.tdoLevel = false;
  config.tdoAfter = 0x30;
  config.tdoScans = 1;  // the first marker read
  for (const ReadMode mode : {ReadMode::Read, ReadMode::BadScan}) {
    NandBoard nand(Obrin, 0xDA, config);
    nand.settings.size = 0x800;
    nand.run(mode);
    EXPECT_NE(nand.page.log.find("\r\n  Cable: the NAND's bad-block marker at 0x0 read 0x00, then 0xFF: the "
                                 "answers through the cable change\r\n"),
              std::string::npos)
        << nand.page.log;
    EXPECT_EQ(nand.page.log.find("BAD block"), std::string::npos) << nand.page.log;
    EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Read ERROR"});
    EXPECT_FALSE(fs::exists(nand.out));
  }
}

// WP# held low: the erase stops before its first block, naming the write protection.
TEST(NandReadJob, AWriteProtectedPartIsNamedBeforeAnyErase) {
  sim::NandDeviceConfig config;
  config.writeProtect = true;
  NandBoard nand(Veskar, 0x75, config);
  nand.settings.count = 4;
  nand.run(ReadMode::Erase);
  EXPECT_NE(nand.page.log.find("  Erasing \r\n  " + std::string(kNandWriteProtectedText) +
                               " (its status reads 0x40, I/O7 low): nothing was erased\r\nError.\r\n"),
            std::string::npos)
      << nand.page.log;
  EXPECT_EQ(nand.page.log.find("Erase failed"), std::string::npos) << nand.page.log;
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{kNandWriteProtectedText});
  EXPECT_TRUE(nand.device->eraseLog().empty());
}

TEST(NandReadJob, BadScanListsEveryMarkedBlockThenTheirCount) {
  sim::NandDeviceConfig config;
  config.factoryBadBlocks = {0, 7, 2047};
  NandBoard nand(Veskar, 0x75, config);
  nand.run(ReadMode::BadScan);
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Scan Complete."});
  EXPECT_NE(nand.page.log.find("  Scanning... OK.\r\nBAD block num #\r\n[0000]\r\n[0007]\r\n[2047]\r\n"
                               "  Bad blocks: 3 of 2048\r\n"),
            std::string::npos)
      << nand.page.log;
  EXPECT_TRUE(nand.device->eraseLog().empty());
  EXPECT_TRUE(nand.device->programLog().empty());
}

TEST(NandReadJob, StoppedOrFailedReadLeavesNoFileAndKeepsAnOldOne) {
  NandBoard nand(Veskar, 0x75);
  spit(nand.out, {1, 2, 3});
  nand.settings.size = 4 * 512;
  nand.page.onEvent = [](RecordingPage& page, const RecordingPage::Event& event) {
    if (event.what == "bytes" && event.text == "1024 / 2048 [Bytes]") page.stopRequested = 1;
  };
  nand.run(ReadMode::Read);
  EXPECT_TRUE(nand.page.boxes.empty());
  EXPECT_NE(nand.page.log.find("  STOP.\r\n"), std::string::npos);
  EXPECT_EQ(nand.page.stopRequested.load(), 0);
  EXPECT_EQ(slurp(nand.out), (Bytes{1, 2, 3}));
  EXPECT_FALSE(fs::exists(nand.out.string() + ".part"));
  EXPECT_FALSE(partialFileLeft(nand.out));
  nand.page.onEvent = nullptr;

  // A device that stops answering.
  sim::NandDeviceConfig hung;
  hung.stuckBusy = true;
  NandBoard busy(Veskar, 0x75, hung);
  busy.settings.size = 512;
  busy.settings.raw = true;
  busy.run(ReadMode::Read);
  EXPECT_EQ(busy.page.boxes.size(), 1u);
  EXPECT_FALSE(fs::exists(busy.out));
  EXPECT_FALSE(fs::exists(busy.out.string() + ".part"));
  EXPECT_FALSE(partialFileLeft(busy.out));
  // A marker read that a reset cannot end is a failure, not a bad block.
  busy.settings.count = 2;
  for (const ReadMode mode : {ReadMode::Erase, ReadMode::BadScan}) {
    busy.run(mode);
    EXPECT_EQ(busy.page.boxes, std::vector<std::string>{"Read ERROR"});
    EXPECT_EQ(busy.page.log.find("BAD block"), std::string::npos) << busy.page.log;
    EXPECT_EQ(busy.page.events.back().what, "unlock");
  }
  EXPECT_TRUE(busy.device->eraseLog().empty());

  // The range needs more good blocks than the device has left.
  sim::NandDeviceConfig lastBad;
  lastBad.factoryBadBlocks = {2047};
  NandBoard shortOfBlocks(Veskar, 0x75, lastBad);
  shortOfBlocks.settings.block = 2046;
  shortOfBlocks.settings.size = shortOfBlocks.blockSize() + 1;
  shortOfBlocks.run(ReadMode::Read);
  EXPECT_EQ(shortOfBlocks.page.boxes, std::vector<std::string>{"Read ERROR"});
  EXPECT_NE(shortOfBlocks.page.log.find("No good block left"), std::string::npos) << shortOfBlocks.page.log;
  EXPECT_FALSE(fs::exists(shortOfBlocks.out));
  EXPECT_FALSE(partialFileLeft(shortOfBlocks.out));
}

// A link lost in the middle of a read fails it with the cause named; no file is left.
TEST(NandReadJob, LostLinkFailsTheReadAndLeavesNoFile) {
  uint64_t total = 0;
  {
    NandBoard whole(Veskar, 0x75);
    whole.settings.size = 3 * 512;
    LosingPort counting(*whole.board);
    restoreProductImages();
    runReadJob(whole.page, counting, whole.settings);
    ASSERT_EQ(whole.page.boxes, std::vector<std::string>{"Read Complete."});
    total = counting.writes;
  }
  NandBoard nand(Veskar, 0x75);
  nand.settings.size = 3 * 512;
  LosingPort losing(*nand.board);
  losing.limit = total * 2 / 3;
  restoreProductImages();
  runReadJob(nand.page, losing, nand.settings);
  EXPECT_NE(nand.page.log.find("  Cable: link to the test board lost\r\nError.\r\n"), std::string::npos)
      << nand.page.log;
  EXPECT_EQ(nand.page.boxes, std::vector<std::string>{"Read ERROR"});
  EXPECT_FALSE(fs::exists(nand.out));
  EXPECT_FALSE(fs::exists(nand.out.string() + ".part"));
}

}  // namespace
}  // namespace zorv
