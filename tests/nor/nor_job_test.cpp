#include "nor/nor_job.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "nor/flash_types.h"
#include "page/idle_pipe.h"
#include "page/recording_page.h"
#include "readback/losing_port.h"
#include "sim/board.h"
#include "sim/nor_attach.h"
#include "targets/catalogue.h"
#include "text/number_text.h"

// GCC 12 at -O3 sees an overlap that cannot happen in an inlined "(" + std::string concatenation
// (its bug 105651).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

namespace zorv {
namespace {

std::vector<uint8_t> imageBytes(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// What the flash held before the job: anything but erased flash, so that a stray erase shows.
uint8_t before(uint32_t offset) { return static_cast<uint8_t>((offset * 29u + 3u) | 0x01u) & 0x7Fu; }

class NorJobTest : public ::testing::Test {
 protected:
  void SetUp() override { restoreProductImages(); }

  void makeBoard(const std::string& options) {
    sim::BoardOptions parsed = sim::parseBoardOptions(options);
    board = std::make_unique<sim::Board>(parsed);
    nor = sim::attachNorDevice(*board, parsed);
    ASSERT_TRUE(parsed.deviceOptions.empty());
  }

  std::string writeImage(const std::vector<uint8_t>& bytes) {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) c = c == '/' ? '_' : c;
    const std::string path = ::testing::TempDir() + "nor_job_image_" + std::to_string(getpid()) + "_" + name + ".bin";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // Fills the first `window` bytes of the flash with the before() pattern.
  void prefill(uint32_t window) {
    window_ = std::min(window, nor.sizeBytes());
    for (uint32_t o = 0; o < window_; ++o) nor.setBusByte(o, before(o));
  }

  void run(const NorSettings& s) { runNorJob(page, *board, s); }

  NorSettings settings(int product, int type, int width, const std::vector<uint8_t>& image, int interleave = 1) {
    NorSettings s;
    s.product = product;
    s.flashType = type;
    s.width = width;
    s.interleave = interleave;
    s.imagePath = writeImage(image);
    return s;
  }

  bool erased(uint32_t offset) const {
    for (const auto& [start, length] : nor.erasedRanges()) {
      if (offset >= start && offset - start < length) return true;
    }
    return false;
  }

  // The device holds the image at start (its first `written` bytes, when a job stopped early);
  // every other byte of the prefilled window is erased flash inside an erased sector or untouched.
  void expectFlash(uint32_t start, const std::vector<uint8_t>& image, size_t written) {
    int mismatches = 0;
    for (uint32_t o = 0; o < window_ && mismatches < 5; ++o) {
      uint8_t expected = before(o);
      if (o >= start && o - start < written) {
        expected = image[o - start];
      } else if (erased(o)) {
        expected = 0xFF;
      }
      if (nor.busByte(o) != expected) {
        ++mismatches;
        ADD_FAILURE() << "offset 0x" << std::hex << o << ": 0x" << int{nor.busByte(o)} << ", expected 0x"
                      << int{expected};
      }
    }
    // Only sectors the image reaches were erased.
    for (const auto& [offset, length] : nor.erasedRanges()) {
      EXPECT_TRUE(offset < start + image.size() && offset + length > start)
          << "erased 0x" << std::hex << offset << " + 0x" << length;
    }
    EXPECT_TRUE(board->violations().empty()) << board->violations().front();
  }

  std::unique_ptr<sim::Board> board;
  sim::AttachedNor nor;
  RecordingPage page;
  uint32_t window_ = 0;
};

TEST_F(NorJobTest, SuccessfulRunLogsExactlyAndRefreshesEveryHundredth) {
  makeBoard("chip=OBRIN,nor=S29AL008D");
  prefill(0x20000);
  const auto image = imageBytes(1000);
  const NorSettings s = settings(Obrin, S29al008d, 16, image);
  run(s);
  EXPECT_EQ(page.log,
            "[Download to NOR]\r\n"
            "  Image: " + s.imagePath + "\r\n"
            "  Type: S29AL008D, Interleave: 1, Width: 16\r\n"
            "  JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)\r\n"
            "  Maker: 0x0001, Device: 0x22DA (S29AL008D)\r\n"
            "  Erasing . OK.\r\n"
            "  Programming and Verifying to 0x0 ... OK.\r\n"
            "  Download Time: 0 [sec]\r\n"
            "\r\n");
  EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."});
  EXPECT_EQ(page.byteCount, "1000 / 1000 [Bytes]");
  EXPECT_EQ(page.progressPosition, 100);
  int refreshes = 0;
  std::vector<std::string> buttons;
  for (const auto& e : page.events) {
    refreshes += e.what == "bytes";
    if (e.what == "button") buttons.push_back(e.text + (e.enabled ? "+" : "-"));
  }
  EXPECT_EQ(refreshes, 1 + 100);  // the reset, then every 10 bytes
  EXPECT_EQ(buttons, (std::vector<std::string>{"STOP+", "STOP-"}));
  EXPECT_EQ(page.buttonCaption, "idle");
  EXPECT_FALSE(page.locked);
  expectFlash(0, image, image.size());
}

TEST_F(NorJobTest, ClockShowsTheSecondsAtTheLastRefresh) {
  makeBoard("chip=IKA,nor=S29AL008D");
  const auto image = imageBytes(150);
  page.onEvent = [](RecordingPage& p, const RecordingPage::Event& e) {
    if (e.what == "bytes") p.clock += 2;
  };
  run(settings(Ika, S29al008d, 16, image));
  // step 1 rounds up to 2: one refresh per word, 75 in all after the reset, each two seconds on.
  EXPECT_NE(page.log.find("  Download Time: 152 [sec]\r\n"), std::string::npos) << page.log;
  EXPECT_EQ(page.elapsed, "02 : 32");
}

struct TypeCase {
  const char* name;
  const char* board;
  int product;
  int type;
  int width;
  int interleave;
  const char* base;
  const char* block;
  uint32_t size;
  uint32_t start;  // bus offset in the flash
  const char* finalCount;
};

// Cases print as their names (the default would dump the struct's bytes, padding included).
void PrintTo(const TypeCase& c, std::ostream* os) { *os << c.name; }

class NorJobTypes : public NorJobTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(NorJobTypes, WritesTheImageAndNothingElse) {
  const TypeCase& c = GetParam();
  makeBoard(c.board);
  prefill(c.start + c.size + 0x20000);
  const auto image = imageBytes(c.size, c.size);
  NorSettings s = settings(c.product, c.type, c.width, image, c.interleave);
  s.base = readHexAddressText(c.base);
  s.block = readSectorText(c.block);
  run(s);
  EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."}) << page.log;
  EXPECT_EQ(page.byteCount, c.finalCount);
  const int logged = c.product == Veskar ? (c.start == 0 && c.size == 100 ? En29lv010a : En29lv040a) : c.type;
  EXPECT_NE(page.log.find("(" + std::string(flashTypeLogName(logged)) + ")\r\n"), std::string::npos) << page.log;
  expectFlash(c.start, image, image.size());
}

INSTANTIATE_TEST_SUITE_P(
    EveryTypeAndProduct, NorJobTypes,
    ::testing::Values(
        TypeCase{"En010aTqr", "chip=TQR2400,nor=EN29LV010A", Tqr2400, En29lv010a, 8, 1, "0", "2", 300, 0x8000,
                 "300 / 300 [Bytes]"},
        TypeCase{"En040aIkaByteBus", "chip=IKA,nor=EN29LV040A", Ika, En29lv040a, 8, 1, "0", "1", 257, 0x10000,
                 "257 / 257 [Bytes]"},
        TypeCase{"Am040bObrin", "chip=OBRIN,nor=AM29LV040B", Obrin, Am29lv040b, 8, 1, "0", "0", 200, 0,
                 "200 / 200 [Bytes]"},
        TypeCase{"Am040bInterleaved", "chip=OBRIN,nor=AM29LV040B,interleave=2", Obrin, Am29lv040b, 8, 2, "0", "1",
                 301, 0x20000, "302 / 301 [Bytes]"},
        TypeCase{"En040aInterleavedTqr", "chip=TQR2400,nor=EN29LV040A,interleave=2", Tqr2400, En29lv040a, 8, 2,
                 "0", "0", 64, 0, "64 / 64 [Bytes]"},
        TypeCase{"Al004dByteModeIka", "chip=IKA,nor=S29AL004D,norwidth=8", Ika, S29al004d, 8, 1, "0", "10", 300,
                 0x7C000, "300 / 300 [Bytes]"},
        TypeCase{"Al008dByteModeTqr", "chip=TQR2400,nor=S29AL008D,norwidth=8", Tqr2400, S29al008d, 8, 1, "0", "18",
                 123, 0xFC000, "123 / 123 [Bytes]"},
        TypeCase{"Al008dWordIka", "chip=IKA,nor=S29AL008D", Ika, S29al008d, 16, 1, "0", "16", 77, 0xF8000,
                 "78 / 77 [Bytes]"},
        TypeCase{"Gl064mBuffers", "chip=OBRIN,nor=S29GL064M", Obrin, S29gl064m, 16, 1, "0", "1", 100, 0x10000,
                 "100 / 100 [Bytes]"},
        TypeCase{"Gl128mOddBuffer", "chip=TQR2400,nor=S29GL128M", Tqr2400, S29gl128m, 16, 1, "0", "0", 33, 0,
                 "34 / 33 [Bytes]"},
        TypeCase{"K8d6316Ika", "chip=IKA,nor=K8D6316", Ika, K8d6316, 16, 1, "0", "8", 600, 0x10000,
                 "600 / 600 [Bytes]"},
        TypeCase{"Sst6401PastFirst4K", "chip=IKA,nor=SST39VF6401", Ika, Sst39vf6401, 16, 1, "0", "1", 4096 + 64,
                 0x10000, "4160 / 4160 [Bytes]"},
        TypeCase{"En010aSecondRegion", "chip=TQR2400,nor=EN29LV010A,norcs=1", Tqr2400, En29lv010a, 8, 1,
                 "0x20000000", "1", 50, 0x4000, "50 / 50 [Bytes]"},
        TypeCase{"VeskarDetects4F", "chip=VESKAR", Veskar, AutoDetect, 8, 1, "0x0", "1", 200, 0x10000,
                 "200 / 200 [Bytes]"},
        TypeCase{"VeskarDetects6E", "chip=VESKAR,nor=EN29LV010A", Veskar, AutoDetect, 8, 1, "0x0", "0", 100, 0,
                 "100 / 100 [Bytes]"}),
    [](const ::testing::TestParamInfo<TypeCase>& param) { return std::string(param.param.name); });

TEST_F(NorJobTest, VeskarLogsItsBankRegisterAndDetectedType) {
  makeBoard("chip=VESKAR,nor=EN29LV010A");
  NorSettings s = settings(Veskar, AutoDetect, 8, imageBytes(10));
  run(s);
  EXPECT_NE(page.log.find("  Maker: 0x001C, Device: 0x006E (EN29LV010A)\r\n"
                          "  VESKAR BANK0 REG: 0x080000410,\r\n"
                          "  CONFIG Value: 0x0000FFF0\r\n"
                          "  Erasing . OK.\r\n"),
            std::string::npos)
      << page.log;
  EXPECT_EQ(page.log.find("Type:"), std::string::npos);
  EXPECT_EQ(nor.debug->configRegister(), 0xFFF0u);
}

TEST_F(NorJobTest, EmptyImageWritesNothing) {
  makeBoard("chip=OBRIN,nor=S29GL064M");
  prefill(0x20000);
  run(settings(Obrin, S29gl064m, 16, {}));
  EXPECT_NE(page.log.find("  Erasing  OK.\r\n  Programming and Verifying to 0x0 ... OK.\r\n  Download Time: 0 [sec]\r\n"),
            std::string::npos)
      << page.log;
  EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."});
  EXPECT_EQ(page.byteCount, "0 / 0 [Bytes]");
  EXPECT_TRUE(nor.erasedRanges().empty());
  expectFlash(0, {}, 0);
}

TEST_F(NorJobTest, BlankUnitsAndBuffersSkippedOnRequestStillReadBackExactly) {
  struct Case {
    const char* board;
    int type;
    uint32_t piece;  // a unit or a write buffer, in bytes
    const char* logLine;
  };
  for (const Case c : {Case{"chip=OBRIN,nor=S29AL008D", S29al008d, 2, "  Blank units skipped: 3\r\n"},
                       Case{"chip=OBRIN,nor=S29GL064M", S29gl064m, 32, "  Blank write buffers skipped: 3\r\n"}}) {
    makeBoard(c.board);
    prefill(0x10000);
    // Blank pieces first, in the middle, and as the odd last piece (padded with 0xFF).
    auto image = imageBytes(6 * c.piece + 1);
    for (uint32_t blank : {0u, 3u, 6u}) {
      std::fill(image.begin() + blank * c.piece, image.begin() + std::min<size_t>((blank + 1) * c.piece, image.size()),
                uint8_t{0xFF});
    }
    // Blank in its low byte only: the unit is not blank and must be programmed.
    std::fill(image.begin() + c.piece, image.begin() + 2 * c.piece, uint8_t{0xFF});
    image[c.piece + 1] = 0x12;
    NorSettings s = settings(Obrin, c.type, 16, image);
    s.skipBlank = true;
    RecordingPage piecePage;
    restoreProductImages();
    runNorJob(piecePage, *board, s);
    EXPECT_EQ(piecePage.boxes, std::vector<std::string>{"Download Complete."}) << piecePage.log;
    EXPECT_TRUE(piecePage.log.ends_with(std::string(c.logLine) + "\r\n")) << piecePage.log;
    expectFlash(0, image, image.size());
    EXPECT_EQ(nor.programOperations(), 4u) << c.board;
  }
}

TEST_F(NorJobTest, UnchangedSectorsAreNeitherErasedNorProgrammed) {
  makeBoard("chip=IKA,nor=K8D6316");  // eight sectors of 8 KiB first
  prefill(0x10000);
  const auto image = imageBytes(0x6000 + 100);
  // Sectors 0 and 2 hold the image already; sector 1 differs in one high byte; sector 3 holds the
  // image's last 100 bytes but not erased flash after them.
  for (uint32_t o = 0; o < image.size(); ++o) nor.setBusByte(o, image[o]);
  nor.setBusByte(0x2000 + 1235, static_cast<uint8_t>(image[0x2000 + 1235] ^ 0x10));
  NorSettings s = settings(Ika, K8d6316, 16, image);
  s.skipUnchanged = true;
  run(s);
  EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."}) << page.log;
  EXPECT_NE(page.log.find("  Erasing .. OK.\r\n"), std::string::npos) << page.log;
  EXPECT_TRUE(page.log.ends_with("  Unchanged sectors skipped: 2\r\n\r\n")) << page.log;
  EXPECT_EQ(nor.erasedRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x2000, 0x2000}, {0x6000, 0x2000}}));
  EXPECT_EQ(nor.programOperations(), (0x2000 + 100) / 2);
  for (uint32_t o = 0; o < image.size(); ++o) ASSERT_EQ(nor.busByte(o), image[o]) << std::hex << o;
  EXPECT_EQ(nor.busByte(0x6000 + 100), 0xFF);

  // Write buffers, 64 KiB sectors: sector 0 holds the image; sector 1 its last 100 bytes but for one
  // high byte, then erased flash.
  makeBoard("chip=IKA,nor=S29GL064M");
  const auto buffered = imageBytes(0x10000 + 100, 2);
  for (uint32_t o = 0; o < 0x20000; ++o) nor.setBusByte(o, o < buffered.size() ? buffered[o] : 0xFF);
  nor.setBusByte(0x10000 + 51, static_cast<uint8_t>(buffered[0x10000 + 51] ^ 0x10));
  NorSettings b = settings(Ika, S29gl064m, 16, buffered);
  b.skipUnchanged = true;
  RecordingPage bufferedPage;
  restoreProductImages();
  runNorJob(bufferedPage, *board, b);
  EXPECT_EQ(bufferedPage.boxes, std::vector<std::string>{"Download Complete."}) << bufferedPage.log;
  EXPECT_TRUE(bufferedPage.log.ends_with("  Unchanged sectors skipped: 1\r\n\r\n")) << bufferedPage.log;
  EXPECT_EQ(nor.erasedRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{0x10000, 0x10000}}));
  EXPECT_EQ(nor.programOperations(), 4u);  // 100 bytes in write buffers of 32
  for (uint32_t o = 0x10000; o < buffered.size(); ++o) ASSERT_EQ(nor.busByte(o), buffered[o]) << std::hex << o;
}

TEST_F(NorJobTest, StopWhileReadingForUnchangedSectorsErasesNothing) {
  makeBoard("chip=IKA,nor=K8D6316");
  prefill(0x10000);
  page.onEvent = [](RecordingPage& p, const RecordingPage::Event& e) {
    if (e.what == "bytes" && e.text.rfind("8192 / ", 0) == 0) p.stopRequested = 1;
  };
  NorSettings s = settings(Ika, K8d6316, 16, imageBytes(0x4000));
  s.skipUnchanged = true;
  run(s);
  EXPECT_TRUE(page.log.ends_with("(K8D6316)\r\n  STOP.\r\n\r\n")) << page.log;
  EXPECT_TRUE(page.boxes.empty());
  EXPECT_EQ(page.stopRequested.load(), 0);
  EXPECT_TRUE(nor.erasedRanges().empty());
  expectFlash(0, {}, 0);
  EXPECT_EQ(page.outcome(), JobOutcome::Stopped);
}

TEST_F(NorJobTest, LinkLostWhileReadingForUnchangedSectorsIsNamedAndErasesNothing) {
  makeBoard("chip=IKA,nor=K8D6316");
  prefill(0x10000);
  LosingPort port(*board);
  page.onEvent = [&port](RecordingPage&, const RecordingPage::Event& e) {
    if (e.what == "bytes" && e.text.rfind("8192 / ", 0) == 0) port.limit = port.writes + 1;
  };
  NorSettings s = settings(Ika, K8d6316, 16, imageBytes(0x4000));
  s.skipUnchanged = true;
  runNorJob(page, port, s);
  EXPECT_NE(page.log.find("  Cable: link to the test board lost\r\n"), std::string::npos) << page.log;
  EXPECT_EQ(page.log.find("ERROR"), std::string::npos) << page.log;
  EXPECT_EQ(page.boxes, std::vector<std::string>{"Cable: link to the test board lost"});
  EXPECT_TRUE(nor.erasedRanges().empty());
  EXPECT_EQ(page.outcome(), JobOutcome::Failed);
}

// Every refusal: the box, and the flash left as it was.
struct FailureCase {
  const char* name;
  const char* board;
  int product;
  int type;
  int width;
  const char* base;
  const char* block;
  uint32_t size;
  const char* box;
  const char* logTail;  // the log must end with this
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class NorJobFailures : public NorJobTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(NorJobFailures, ShowTheirBoxAndLeaveTheFlashAlone) {
  const FailureCase& c = GetParam();
  makeBoard(c.board);
  prefill(0x10000);
  NorSettings s = settings(c.product, c.type, c.width, imageBytes(c.size));
  s.base = readHexAddressText(c.base);
  s.block = readSectorText(c.block);
  run(s);
  EXPECT_EQ(page.boxes, std::vector<std::string>{c.box}) << page.log;
  const std::string tail = c.logTail;
  ASSERT_GE(page.log.size(), tail.size()) << page.log;
  EXPECT_EQ(page.log.substr(page.log.size() - tail.size()), tail) << page.log;
  EXPECT_EQ(page.log.find("STOP"), std::string::npos);
  for (const auto& e : page.events) EXPECT_NE(e.what, "button") << "offered STOP";
  EXPECT_FALSE(page.locked);
  EXPECT_TRUE(nor.erasedRanges().empty() || std::string(c.box) == "ERASE ERROR.");
  for (uint32_t o = 0; o < window_; ++o) {
    if (nor.busByte(o) != before(o) && !erased(o)) {
      ADD_FAILURE() << "offset " << o << " changed";
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryRefusal, NorJobFailures,
    ::testing::Values(
        FailureCase{"NoPort", "chip=OBRIN,noport", Obrin, S29gl064m, 16, "0", "0", 10, "Cannot find LPT PORT",
                    ".bin\r\n\r\n"},
        FailureCase{"WrongChip", "chip=IKA", Obrin, S29gl064m, 16, "0", "0", 10, "Cannot read OBRIN JTAG ID",
                    "Width: 16\r\n  JTAG ID: read 0xE1E1E1E0, expected 0x00AECADD (mask 0x0FFFFFFF)\r\n\r\n"},
        // The same code: only the boundary register's length tells the two apart.
        FailureCase{"SameCodeOtherChip", "chip=IKA", Tqr2400, S29gl064m, 16, "0", "0", 10,
                    "Cannot read TQR2400 JTAG ID", "Maker(0x15B)\r\n  Boundary register: 185 cells, TQR2400 has 298\r\n\r\n"},
        FailureCase{"TypeOnAWrongBus", "chip=OBRIN", Obrin, S29gl064m, 8, "0", "0", 10,
                    "Cannot support for your flash setting.", "Maker(0xCAD)\r\n\r\n"},
        FailureCase{"AutoDetectOffVeskar", "chip=OBRIN", Obrin, AutoDetect, 8, "0", "0", 10,
                    "Cannot support for your flash setting.", "Maker(0xCAD)\r\n\r\n"},
        FailureCase{"NoTypeChosen", "chip=OBRIN", Obrin, -1, 16, "0", "0", 10, "Cannot support for your flash setting.",
                    "Maker(0xCAD)\r\n\r\n"},
        FailureCase{"DebugModeRefused", "chip=VESKAR,veskarnodebug", Veskar, AutoDetect, 8, "0x0", "0", 10,
                    "Cannot run debug mode on VESKAR", "Maker(0xB5E)\r\n\r\n"},
        FailureCase{"ConfigRegisterStuck", "chip=VESKAR,veskarcfgmask=F", Veskar, AutoDetect, 8, "0x0", "0", 10,
                    "Cannot set flash config register of VESKAR", "Maker(0xB5E)\r\n\r\n"},
        FailureCase{"WrongDeviceCode", "chip=OBRIN,nor=S29AL008D", Obrin, S29gl064m, 16, "0", "0", 10,
                    "Unknown FLASH ID", "Device: 0x22DA (S29GL064M)\r\n\r\n"},
        FailureCase{"VeskarUnknownDevice", "chip=VESKAR,nor=S29AL004D", Veskar, AutoDetect, 8, "0x0", "0", 10,
                    "Unknown FLASH ID", "(Unknow)\r\n  VESKAR BANK0 REG: 0x080000410,\r\n"
                                        "  CONFIG Value: 0x0000FFF0\r\n\r\n"},
        FailureCase{"NoQuery", "chip=OBRIN,nornocfi", Obrin, S29gl064m, 16, "0", "0", 10,
                    "Cannot get flash Qeury INFO.", "(S29GL064M)\r\n\r\n"},
        FailureCase{"OffBoundary", "chip=TQR2400,nor=EN29LV010A", Tqr2400, En29lv010a, 8, "1000", "0", 10,
                    "Writing address is not on sector boundary", "(EN29LV010A)\r\n\r\n  ERROR. ADDR: 0x0\r\n"},
        FailureCase{"BlockPast32Bits", "chip=TQR2400,nor=EN29LV010A", Tqr2400, En29lv010a, 8, "0", "4294967296", 10,
                    "Writing address is not on sector boundary", "(EN29LV010A)\r\n\r\n  ERROR. ADDR: 0x0\r\n"},
        FailureCase{"BasePast32Bits", "chip=OBRIN", Obrin, S29gl064m, 16, " 0x100000000", "0", 10,
                    "Base address 0x100000000 does not fit in 32 bits", "Width: 16\r\n\r\n"},
        FailureCase{"BlockPastTheTable", "chip=TQR2400,nor=EN29LV010A", Tqr2400, En29lv010a, 8, "0", "8", 10,
                    "Writing address is not on sector boundary", "(EN29LV010A)\r\n\r\n  ERROR. ADDR: 0x0\r\n"},
        FailureCase{"ImagePastTheEnd", "chip=VESKAR,nor=EN29LV010A", Veskar, AutoDetect, 8, "0x0", "7", 0x4001,
                    "Image runs past the end of the flash",
                    "CONFIG Value: 0x0000FFF0\r\n\r\n  ERROR. ADDR: 0x0\r\n"},
        FailureCase{"ObrinHasNoTopRegion", "chip=OBRIN", Obrin, S29gl064m, 16, "E0000000", "0", 10,
                    "No chip select serves the base address 0xE0000000", "Width: 16\r\n\r\n"},
        FailureCase{"EraseNeverEnds", "chip=VESKAR,nor=EN29LV010A,norerasestuck=4005", Veskar, AutoDetect, 8, "0x0",
                    "0", 0x4100, "ERASE ERROR.", "  Erasing .\r\n  ERROR. ADDR: 0x4000\r\n"}),
    [](const ::testing::TestParamInfo<FailureCase>& param) { return std::string(param.param.name); });

TEST_F(NorJobTest, MissingOrUnreadableImage) {
  makeBoard("chip=OBRIN");
  NorSettings s = settings(Obrin, S29gl064m, 16, {});
  s.imagePath.clear();
  run(s);
  s.imagePath = ::testing::TempDir() + "no/such/image.bin";
  run(s);
  EXPECT_EQ(page.boxes, (std::vector<std::string>{"No image file", "Cannot open file"}));
  EXPECT_TRUE(nor.erasedRanges().empty());
}

TEST_F(NorJobTest, ImagesThatAreNotRegularFilesAreRefused) {
  makeBoard("chip=OBRIN");
  const zorv::testing::IdlePipe pipe(::testing::TempDir(), "nor_job_fifo_" + std::to_string(getpid()));
  ASSERT_TRUE(pipe.made());
  const std::string fifo = pipe.path();
  NorSettings s = settings(Obrin, S29gl064m, 16, {});
  // A FIFO that nobody writes to must not hold the job.
  for (const std::string& path : {::testing::TempDir(), std::string("/dev/null"), std::string("/dev/zero"), fifo}) {
    s.imagePath = path;
    run(s);
  }
  EXPECT_EQ(page.boxes, std::vector<std::string>(4, "Cannot open file"));
  EXPECT_TRUE(nor.erasedRanges().empty());
}

TEST_F(NorJobTest, AWordWhoseHighByteNeverProgramsFails) {
  makeBoard("chip=IKA,nor=S29AL008D,norprogramfail=11");
  const auto image = imageBytes(32);
  ASSERT_NE(image[0x11], 0xFF);
  run(settings(Ika, S29al008d, 16, image));
  char tail[120];
  std::snprintf(tail, sizeof tail, "\r\n  Write to 0x10 failed\r\n  Data: 0x%X, Read: 0x%X\r\n", image[0x10] | image[0x11] << 8,
                0xFF00 | image[0x10]);
  EXPECT_NE(page.log.find(tail), std::string::npos) << page.log;
  EXPECT_TRUE(page.boxes.empty());
}

// The top sectors of the largest part set every address line from A17 to A23 on each product whose bus
// reaches past 1 MB; a line placed on the wrong cell sends the data elsewhere.
TEST_F(NorJobTest, HighSectorsReachEveryUpperAddressLine) {
  const auto image = imageBytes(64);
  for (const int product : {Obrin, Tqr2400, Ika}) {
    SCOPED_TRACE(product);
    restoreProductImages();
    page.boxes.clear();
    makeBoard(std::string("chip=") + (product == Obrin ? "OBRIN" : product == Ika ? "IKA" : "TQR2400") +
              ",nor=S29GL128M");
    const uint32_t start = 0xFE0000;  // sector 127 of 128 KB
    for (uint32_t o = 0; o < 0x100; ++o) nor.setBusByte(start + o, before(o));
    NorSettings s = settings(product, S29gl128m, 16, image);
    s.block = 127;
    run(s);
    EXPECT_EQ(page.boxes, std::vector<std::string>{"Download Complete."}) << page.log;
    for (uint32_t o = 0; o < 0x100; ++o) {
      ASSERT_EQ(nor.busByte(start + o), o < image.size() ? image[o] : 0xFF) << std::hex << o;
    }
    EXPECT_EQ(nor.erasedRanges(), (std::vector<std::pair<uint32_t, uint32_t>>{{start, 0x20000}}));
  }
}

TEST_F(NorJobTest, AUnitThatNeverReadsBackEndsTheWrite) {
  makeBoard("chip=VESKAR,norprogramfail=10005");
  prefill(0x20000);
  const auto image = imageBytes(16);
  NorSettings s = settings(Veskar, AutoDetect, 8, image);
  s.block = 1;
  run(s);
  char tail[120];
  std::snprintf(tail, sizeof tail, "\r\n  Write to 0x10005 failed\r\n  Data: 0x%X, Read: 0x%X\r\n  Download Time: 0 [sec]\r\n\r\n",
                image[5], before(0x10005) | 0xFFu);
  EXPECT_EQ(page.log.substr(page.log.size() - std::string(tail).size()), tail) << page.log;
  EXPECT_TRUE(page.boxes.empty());
  expectFlash(0x10000, image, 5);
}

TEST_F(NorJobTest, AWriteBufferThatNeverEndsIsAWriteError) {
  makeBoard("chip=IKA,nor=S29GL064M,norprogramfail=22");
  prefill(0x10000);
  const auto image = imageBytes(64);
  run(settings(Ika, S29gl064m, 16, image));
  EXPECT_NE(page.log.find("  Programming and Verifying to 0x0 ...   Write ERROR, ADDR: 0x20\r\n"
                          "  Download Time: 0 [sec]\r\n\r\n"),
            std::string::npos)
      << page.log;
  EXPECT_EQ(page.boxes, std::vector<std::string>{"WRITE ERROR."});
  // The second buffer went in, but for the byte that never takes.
  auto held = image;
  held[0x22] = 0xFF;
  expectFlash(0, held, held.size());
}

TEST_F(NorJobTest, StopInTheUnitLoop) {
  makeBoard("chip=OBRIN,nor=S29AL008D");
  prefill(0x20000);
  const auto image = imageBytes(400);
  page.onEvent = [](RecordingPage& p, const RecordingPage::Event& e) {
    if (e.what == "bytes" && e.text.rfind("8 / ", 0) == 0) p.stopRequested = 1;
  };
  run(settings(Obrin, S29al008d, 16, image));
  EXPECT_NE(page.log.find("to 0x0 ...   Stop.\r\n  Download Time: 0 [sec]\r\n\r\n"), std::string::npos) << page.log;
  EXPECT_TRUE(page.boxes.empty());
  EXPECT_EQ(page.stopRequested.load(), 0);
  EXPECT_EQ(page.byteCount, "8 / 400 [Bytes]");
  expectFlash(0, image, 8);
}

TEST_F(NorJobTest, StopInTheBufferLoop) {
  makeBoard("chip=OBRIN,nor=S29GL064M");
  prefill(0x20000);
  const auto image = imageBytes(200);
  page.onEvent = [](RecordingPage& p, const RecordingPage::Event& e) {
    if (e.what == "bytes" && e.text.rfind("64 / ", 0) == 0) p.stopRequested = 1;
  };
  run(settings(Obrin, S29gl064m, 16, image));
  EXPECT_NE(page.log.find("to 0x0 ...   Stop.\r\n  Download Time: 0 [sec]\r\n"), std::string::npos) << page.log;
  EXPECT_TRUE(page.boxes.empty());
  expectFlash(0, image, 64);
}

TEST_F(NorJobTest, StopBeforeTheFirstChunk) {
  makeBoard("chip=OBRIN,nor=S29GL064M");
  prefill(0x20000);
  page.onEvent = [](RecordingPage& p, const RecordingPage::Event& e) {
    if (e.what == "button" && e.enabled) p.stopRequested = 1;
  };
  run(settings(Obrin, S29gl064m, 16, imageBytes(200)));
  EXPECT_NE(page.log.find("to 0x0 ...   STOP.\r\n  Download Time: 0 [sec]\r\n"), std::string::npos) << page.log;
  expectFlash(0, imageBytes(200), 0);
}

TEST_F(NorJobTest, RefusedPortAccessIsReportedAndTheJobGoesOn) {
  struct RefusingBoard : sim::Board {
    using sim::Board::Board;
    bool grantAccess() override { return false; }
  };
  sim::BoardOptions options = sim::parseBoardOptions("chip=OBRIN,noport");
  RefusingBoard refusing(options);
  runNorJob(page, refusing, settings(Obrin, S29gl064m, 16, {}));
  EXPECT_EQ(page.boxes, (std::vector<std::string>{"Couldn't access giveio device", "Cannot find LPT PORT"}));
}

TEST_F(NorJobTest, UnknownProductDoesNothing) {
  makeBoard("chip=OBRIN");
  const NorSettings s = settings(7, S29gl064m, 16, {});
  run(s);
  EXPECT_EQ(page.log, "[Download to NOR]\r\n  Image: " + s.imagePath + "\r\n\r\n");
  EXPECT_TRUE(page.boxes.empty());
}

}  // namespace
}  // namespace zorv
