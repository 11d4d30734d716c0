#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "nor/flash_types.h"
#include "nor/nor_job.h"
#include "page/recording_page.h"
#include "readback/losing_port.h"
#include "readback/read_job.h"
#include "sim/board.h"
#include "sim/nor_attach.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Contents that tell every byte lane and every address apart.
uint8_t content(uint32_t offset) { return static_cast<uint8_t>((offset * 37u + (offset >> 8) * 11u + 5u) & 0xFF); }

// A virtual board with a NOR flash, a page, and scratch files for one test.
struct NorBoard {
  std::unique_ptr<sim::Board> board;
  sim::AttachedNor nor;
  RecordingPage page;
  ReadSettings settings;
  fs::path out;
  fs::path image;

  explicit NorBoard(const std::string& options) {
    sim::BoardOptions parsed = sim::parseBoardOptions(options);
    board = std::make_unique<sim::Board>(parsed);
    nor = sim::attachNorDevice(*board, parsed);
    settings.flash = ReadFlash::Nor;
    settings.product = parsed.chip;
    static int serial = 0;
    const std::string stem =
        (fs::temp_directory_path() / ("zorv_norread_" + std::to_string(getpid()) + "_" + std::to_string(++serial)))
            .string();
    out = stem + ".out";
    image = stem + ".bin";
    settings.outputPath = out.string();
    settings.imagePath = image.string();
  }
  ~NorBoard() {
    std::error_code ignored;
    fs::remove(out, ignored);
    fs::remove(image, ignored);
  }
  void bus(int type, int width, int interleave = 1) {
    settings.flashType = type;
    settings.width = width;
    settings.interleave = interleave;
  }
  void fill(uint32_t from, uint32_t count) {
    for (uint32_t o = from; o < from + count; ++o) nor.setBusByte(o, content(o));
  }
  Bytes flash(uint32_t from, uint32_t count) const {
    Bytes bytes;
    for (uint32_t o = from; o < from + count; ++o) bytes.push_back(nor.busByte(o));
    return bytes;
  }
  void run(ReadMode mode) {
    settings.mode = mode;
    page.log.clear();
    page.boxes.clear();
    restoreProductImages();
    runReadJob(page, *board, settings);
  }
};

struct NorCase {
  const char* name;
  const char* options;
  int type;
  int width;
  int interleave;
};

class NorReadEveryBus : public ::testing::TestWithParam<NorCase> {};

// Every product and flash type reads back what its flash holds, from the start of sector 1.
TEST_P(NorReadEveryBus, ReadsTheFlashAsItIs) {
  const NorCase& c = GetParam();
  const sim::NorPart* part = sim::findNorPart(c.name);
  ASSERT_NE(part, nullptr);
  // Sector 1 starts after sector 0, as the part's data sheet lays them out (both parts' side by side);
  // the SST part's sectors are its 64 KB blocks, the unit its erase takes.
  const uint32_t sector0 = part->sstCommands ? part->regions.back().second : part->regions.front().second;
  const uint32_t start = sector0 * static_cast<uint32_t>(c.interleave);
  for (TargetProduct chip : {Obrin, Tqr2400, Ika}) {
    NorBoard nor(std::string("chip=") + sim::simChip(chip).name + "," + c.options);
    nor.bus(c.type, c.width, c.interleave);
    nor.settings.block = 1;
    nor.settings.size = 0x41;  // odd, to end on half a 16-bit unit
    nor.fill(0, start + 0x100);
    nor.run(ReadMode::Read);
    ASSERT_EQ(nor.page.boxes, std::vector<std::string>{"Read Complete."}) << nor.page.log;
    EXPECT_EQ(slurp(nor.out), nor.flash(start, 0x41)) << sim::simChip(chip).name;
    EXPECT_TRUE(nor.board->violations().empty()) << nor.board->violations().front();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, NorReadEveryBus,
    ::testing::Values(NorCase{"EN29LV010A", "nor=EN29LV010A", En29lv010a, 8, 1},
                      NorCase{"EN29LV040A", "nor=EN29LV040A", En29lv040a, 8, 1},
                      NorCase{"AM29LV040B", "nor=AM29LV040B", Am29lv040b, 8, 1},
                      NorCase{"S29AL004D", "nor=S29AL004D,norwidth=8", S29al004d, 8, 1},
                      NorCase{"S29AL008D", "nor=S29AL008D", S29al008d, 16, 1},
                      NorCase{"S29GL064M", "nor=S29GL064M", S29gl064m, 16, 1},
                      NorCase{"S29GL128M", "nor=S29GL128M", S29gl128m, 16, 1},
                      NorCase{"K8D6316", "nor=K8D6316", K8d6316, 16, 1},
                      NorCase{"SST39VF6401", "nor=SST39VF6401", Sst39vf6401, 16, 1},
                      NorCase{"EN29LV040A", "nor=EN29LV040A,interleave=2", En29lv040a, 8, 2}),
    [](const ::testing::TestParamInfo<NorCase>& param) {
      return std::string(param.param.name) + "_w" + std::to_string(param.param.width) + "_i" +
             std::to_string(param.param.interleave);
    });

// nor, then nor-read, on every product: the image comes back. VESKAR has its flash only behind
// its debug-access register, so reading it back at all is reading through that path.
TEST(NorReadJob, RoundTripOnEveryProduct) {
  for (int p = 0; p < kProductCount; ++p) {
    const auto chip = static_cast<TargetProduct>(p);
    const bool veskar = chip == Veskar;
    NorBoard nor(std::string("chip=") + sim::simChip(chip).name + (veskar ? ",nor=EN29LV010A" : ",nor=S29AL008D"));
    Bytes image(301);
    for (size_t i = 0; i < image.size(); ++i) image[i] = content(static_cast<uint32_t>(i * 3 + p));
    std::ofstream(nor.image, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 301);
    NorSettings download;
    download.product = chip;
    download.flashType = veskar ? AutoDetect : S29al008d;
    download.width = veskar ? 8 : 16;
    download.block = 2;
    download.imagePath = nor.image.string();
    RecordingPage downloadPage;
    restoreProductImages();
    runNorJob(downloadPage, *nor.board, download);
    ASSERT_EQ(downloadPage.boxes, std::vector<std::string>{"Download Complete."}) << downloadPage.log;

    nor.bus(S29al008d, 16);
    nor.settings.block = 2;
    nor.settings.size = image.size();
    nor.run(ReadMode::Read);
    EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Read Complete."}) << nor.page.log;
    EXPECT_EQ(slurp(nor.out), image) << p;
    if (veskar) {
      EXPECT_NE(nor.page.log.find("(EN29LV010A)"), std::string::npos) << nor.page.log;
    }

    nor.run(ReadMode::Verify);
    EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Verify Complete."}) << nor.page.log;
  }
}

// The lines a NOR job logs between its header and its own work: its identification.
std::string identificationLines(const std::string& log) {
  std::string lines = log.substr(log.find("\r\n") + 2);
  for (const char* own : {"  Erasing ", "  BASE: "}) lines = lines.substr(0, lines.find(own));
  return lines;
}

// The download and a read-back identify the flash alike: the same board and bus give the same
// lines, whether the flash is found or refused.
TEST(NorReadJob, IdentifiesTheFlashAsTheDownloadDoes) {
  struct IdCase {
    const char* options;
    TargetProduct chip;
    int type;
    int width;
    int interleave;
  };
  for (const IdCase& c : {IdCase{"chip=OBRIN,nor=S29GL064M", Obrin, S29gl064m, 16, 1},
                          IdCase{"chip=IKA,nor=EN29LV040A,interleave=2", Ika, En29lv040a, 8, 2},
                          IdCase{"chip=VESKAR,nor=EN29LV010A", Veskar, AutoDetect, 8, 1},
                          IdCase{"chip=TQR2400,nor=S29GL064M", Tqr2400, S29gl064m, 8, 1}}) {
    NorBoard nor(c.options);
    std::ofstream(nor.image, std::ios::binary).write("\x12\x34", 2);
    nor.bus(c.type, c.width, c.interleave);
    nor.run(ReadMode::Verify);

    NorBoard target(c.options);
    NorSettings download;
    download.product = c.chip;
    download.flashType = c.type;
    download.width = c.width;
    download.interleave = c.interleave;
    download.imagePath = nor.image.string();
    RecordingPage downloadPage;
    restoreProductImages();
    runNorJob(downloadPage, *target.board, download);

    EXPECT_NE(identificationLines(nor.page.log).find("  JTAG ID: "), std::string::npos) << nor.page.log;
    EXPECT_EQ(identificationLines(nor.page.log), identificationLines(downloadPage.log)) << c.options;
  }
}

// A device code the table does not know: the read runs over the CFI size where the device answers
// the query for its bus; without it only on request (raw) on the bus as it is. It is never erased.
TEST(NorReadJob, AnUnknownDeviceIsReadOnTheBusAsItIs) {
  NorBoard bare("chip=VESKAR,nor=EN29LV040A,nordevice=A7,nornocfi");
  bare.fill(0, 0x20000);
  bare.settings.size = 0x20000;
  bare.run(ReadMode::Read);
  EXPECT_EQ(bare.page.boxes, std::vector<std::string>{"Unknown FLASH ID (Maker: 0x001C, Device: 0x00A7): not a known "
                                                      "type. Raw (--raw) reads the bus as it is"});
  EXPECT_FALSE(fs::exists(bare.out));
  bare.settings.raw = true;
  bare.run(ReadMode::Read);
  ASSERT_EQ(bare.page.boxes, std::vector<std::string>{"Read Complete."}) << bare.page.log;
  EXPECT_EQ(slurp(bare.out), bare.flash(0, 0x20000));
  EXPECT_NE(bare.page.log.find("Device: 0x00A7"), std::string::npos) << bare.page.log;

  NorBoard cfi("chip=OBRIN,nor=S29GL064M,nordevice=22FF");
  const uint32_t sector1 = sim::findNorPart("S29GL064M")->regions.front().second;
  cfi.bus(S29gl064m, 16);
  cfi.fill(0, sector1 + 0x100);
  cfi.settings.block = 1;
  cfi.settings.size = 0x41;
  cfi.run(ReadMode::Read);
  ASSERT_EQ(cfi.page.boxes, std::vector<std::string>{"Read Complete."}) << cfi.page.log;
  EXPECT_EQ(slurp(cfi.out), cfi.flash(sector1, 0x41));
  EXPECT_NE(cfi.page.log.find("  Unknown device; CFI size: 0x800000\r\n"), std::string::npos) << cfi.page.log;

  cfi.settings.count = 1;
  cfi.run(ReadMode::Erase);
  EXPECT_EQ(cfi.page.boxes, std::vector<std::string>{"Unknown FLASH ID"});
  EXPECT_TRUE(cfi.nor.erasedRanges().empty());
}

TEST(NorReadJob, VerifyReportsTheFirstDifference) {
  NorBoard nor("chip=IKA,nor=S29GL064M");
  nor.bus(S29gl064m, 16);
  nor.fill(0x10000, 0x200);
  Bytes image = nor.flash(0x10000, 0x200);
  std::ofstream(nor.image, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 0x200);
  nor.settings.block = 1;
  nor.run(ReadMode::Verify);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Verify Complete."}) << nor.page.log;

  nor.nor.setBusByte(0x101A3, static_cast<uint8_t>(content(0x101A3) ^ 0x80));
  nor.run(ReadMode::Verify);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Verify ERROR"});
  char expected[100];
  std::snprintf(expected, sizeof expected, "  ERROR, ADDR: 0x101A3\r\n    [Write: 0x%02X, Read: 0x%02X]\r\nError.\r\n",
                content(0x101A3), content(0x101A3) ^ 0x80);
  EXPECT_NE(nor.page.log.find(expected), std::string::npos) << nor.page.log;

  // A stop ends the job as stopped, without judging the chunk it cut short.
  nor.page.onEvent = [](RecordingPage& page, const RecordingPage::Event& event) {
    if (event.what == "bytes") page.stopRequested = 1;
  };
  for (const ReadMode mode : {ReadMode::Verify, ReadMode::Read}) {
    nor.settings.size = 0x200;
    nor.run(mode);
    EXPECT_TRUE(nor.page.boxes.empty()) << nor.page.log;
    EXPECT_TRUE(nor.page.log.ends_with("  STOP.\r\n\r\n")) << nor.page.log;
    EXPECT_EQ(nor.page.outcome(), JobOutcome::Stopped);
  }
  EXPECT_FALSE(fs::exists(nor.out));
}

TEST(NorReadJob, EraseUsesTheDownloadsRoutineAndStopsAtAStuckSector) {
  // EN29LV010A: eight 16 KiB sectors; VESKAR's short debug frames keep the stuck erase's polling
  // quick.
  NorBoard nor("chip=VESKAR,nor=EN29LV010A");
  nor.bus(En29lv010a, 8);
  nor.fill(0, 0x10000);
  nor.settings.block = 1;
  nor.settings.count = 2;
  nor.run(ReadMode::Erase);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Erase Complete."}) << nor.page.log;
  EXPECT_EQ(nor.nor.erasedRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x4000, 0x4000}, {0x8000, 0x4000}}));
  EXPECT_EQ(nor.flash(0x3FFF, 1), Bytes{content(0x3FFF)});
  EXPECT_EQ(nor.flash(0xC000, 1), Bytes{content(0xC000)});

  nor.settings.block = 7;
  nor.settings.count = 2;
  nor.run(ReadMode::Erase);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"The range runs past the end of the device (8 sectors)"});

  NorBoard stuck("chip=VESKAR,nor=EN29LV010A,norerasestuck=8000");
  stuck.bus(En29lv010a, 8);
  stuck.settings.block = 1;
  stuck.settings.count = 3;
  stuck.run(ReadMode::Erase);
  EXPECT_EQ(stuck.page.boxes, std::vector<std::string>{"ERASE ERROR."});
  EXPECT_NE(stuck.page.log.find("  Erasing .\r\n  ERROR. ADDR: 0x8000\r\nError.\r\n"), std::string::npos)
      << stuck.page.log;
}

TEST(NorReadJob, RangesPastTheEndAreRefusedAndAllReadsToTheEnd) {
  NorBoard nor("chip=VESKAR,nor=EN29LV010A");
  nor.fill(0x1C000, 0x4000);
  nor.settings.block = 7;  // the last 16 KiB sector
  nor.settings.size = 0x4001;
  nor.run(ReadMode::Read);
  EXPECT_EQ(nor.page.boxes,
            std::vector<std::string>{"The range runs past the end of the device (0x4000 bytes from sector 7)"});
  EXPECT_EQ(nor.page.log.find("Reading"), std::string::npos);
  EXPECT_FALSE(fs::exists(nor.out));

  nor.settings.toEnd = true;
  nor.run(ReadMode::Read);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Read Complete."}) << nor.page.log;
  EXPECT_EQ(slurp(nor.out), nor.flash(0x1C000, 0x4000));

  // Nothing asked for is refused, never reported as done.
  fs::remove(nor.out);
  nor.settings.toEnd = false;
  nor.settings.size = 0;
  nor.run(ReadMode::Read);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Nothing to read: the size is 0"});
  EXPECT_FALSE(fs::exists(nor.out));
  nor.settings.count = 0;
  nor.run(ReadMode::Erase);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Nothing to erase: the count is 0"});
  EXPECT_TRUE(nor.nor.erasedRanges().empty());
  std::ofstream(nor.image, std::ios::binary | std::ios::trunc).close();
  nor.run(ReadMode::Verify);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Nothing to verify: the image file is empty"});

  // A device at the very top of the address space ends at 2^32, not at 0.
  NorBoard top("chip=IKA,nor=S29AL008D,norcs=7");
  top.bus(S29al008d, 16);
  top.settings.base = 0xFFF00000u;
  top.fill(0xFC000, 0x4000);
  top.settings.block = 18;  // the last 16 KiB sector
  top.settings.toEnd = true;
  top.run(ReadMode::Read);
  EXPECT_EQ(top.page.boxes, std::vector<std::string>{"Read Complete."}) << top.page.log;
  EXPECT_EQ(slurp(top.out), top.flash(0xFC000, 0x4000));
  const Bytes head = top.flash(0xFC000, 0x100);
  std::ofstream(top.image, std::ios::binary).write(reinterpret_cast<const char*>(head.data()), 0x100);
  top.run(ReadMode::Verify);
  EXPECT_EQ(top.page.boxes, std::vector<std::string>{"Verify Complete."}) << top.page.log;
}

// VESKAR's bus refusing debug access ends the read with the download's box, not silently.
TEST(NorReadJob, VeskarBusRefusalIsShown) {
  NorBoard nor("chip=VESKAR,veskarnodebug,nor=EN29LV010A");
  nor.run(ReadMode::Read);
  EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Cannot run debug mode on VESKAR"});
  EXPECT_FALSE(fs::exists(nor.out));
}

// A link lost in the middle of a verify fails it with the cause named, never as equal.
TEST(NorReadJob, LostLinkFailsTheVerify) {
  uint64_t total = 0;
  for (const bool lose : {false, true}) {
    NorBoard nor("chip=VESKAR,nor=EN29LV010A");
    nor.fill(0, 0x200);
    const Bytes image = nor.flash(0, 0x200);
    std::ofstream(nor.image, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 0x200);
    nor.settings.mode = ReadMode::Verify;
    LosingPort port(*nor.board);
    port.limit = lose ? total * 2 / 3 : 0;
    restoreProductImages();
    runReadJob(nor.page, port, nor.settings);
    total = port.writes;
    if (!lose) {
      ASSERT_EQ(nor.page.boxes, std::vector<std::string>{"Verify Complete."}) << nor.page.log;
      continue;
    }
    EXPECT_NE(nor.page.log.find("  Cable: link to the test board lost\r\nError.\r\n"), std::string::npos)
        << nor.page.log;
    EXPECT_EQ(nor.page.boxes, std::vector<std::string>{"Verify ERROR"});
  }
}

}  // namespace
}  // namespace zorv
