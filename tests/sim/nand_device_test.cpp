#include "sim/nand_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "nand/nand_flash.h"
#include "sim/board.h"
#include "targets/catalogue.h"

namespace zorv::sim {
namespace {

using Bytes = std::vector<uint8_t>;

// The program's own NAND layer on a board made from an option text.
struct Probe {
  std::unique_ptr<Board> board;
  JtagCable cable;
  std::unique_ptr<NandTarget> target;
  NandFlash flash;

  explicit Probe(const std::string& options, TargetProduct chip = Obrin)
      : board(makeBoard(options)), cable(*board), target(makeNandTarget(chip)) {
    restoreProductImages();
    cable.detectPort();
    cable.resetTap();
    char name[8];
    flash.bind(cable, *target, name);
    cable.loadExtest();
    flash.readId(cable, *target);
    flash.lookupSize();
    flash.setChipEnable(cable, '0');
  }
  bool hasViolation(const std::string& text) const {
    for (const auto& v : board->violations())
      if (v.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST(NandDevice, BoardOptions) {
  EXPECT_EQ(Probe("").flash.id[1], 0xDA) << "a plain board carries a NAND part";
  EXPECT_EQ(Probe("chip=VESKAR", Veskar).flash.id[1], 0xDA);
  EXPECT_EQ(Probe("nand=0x75").flash.id[1], 0x75);
  EXPECT_EQ(Probe("nand=none").flash.lookupSize(), -1);
  for (const char* bad : {"nand=0x79", "nand=big", "nandbad=", "nandbad=3:x", "nandflip=5/0", "nandflip=5/0x100",
                          "nandmarkonly=", "nandbusyafter=0x100", "nandbusyafter=0x10/0", "nandid4=0x100", "nandload=/dev/zero", "nandtdo=2@0x70",
                          "nandtdo=1", "nandtdo=1@0x100", "nandtdo=0@0x70/0", "nandtdo=1@0x70+0", "nandtdoread=2@0x30",
                          "nandtdo=1@0xFF,nandtdoread=0@0x30", "nandwp=0x100", "nandwp=0x80/0"})
    EXPECT_THROW(makeBoard(bad), std::invalid_argument) << bad;
  EXPECT_NO_THROW(makeBoard("nandbad=3:7,nanderasefail=5,nandprogfail=9,nandbusy,nandflip=0x20005/0xFF,"
                            "nandmarkonly=4,nandbusyafter=0x30/2,nandtdo=0@0x00/3+4,nanddropspare,nandwp"));
  EXPECT_NO_THROW(makeBoard("nandtdoread=0@0x30/2+1,nandwp=0x80/2"));
  EXPECT_EQ(Probe("nandid4=0x26").flash.id[3], 0x26);

  Probe faults("chip=IKA,nand=0x76,nandbad=3:7,nanderasefail=5,nandprogfail=9", Ika);
  NandFlash& f = faults.flash;
  const uint8_t byte = 0;
  EXPECT_EQ(f.isBadBlock(faults.cable, *faults.target, 3 * 0x4000), -1);
  EXPECT_EQ(f.isBadBlock(faults.cable, *faults.target, 7 * 0x4000), -1);
  EXPECT_EQ(f.isBadBlock(faults.cable, *faults.target, 5 * 0x4000), 0);
  EXPECT_EQ(f.eraseBlock(faults.cable, *faults.target, 3 * 0x4000), 1);
  EXPECT_EQ(f.eraseBlock(faults.cable, *faults.target, 5 * 0x4000), 1);
  EXPECT_EQ(f.eraseBlock(faults.cable, *faults.target, 6 * 0x4000), 0);
  EXPECT_EQ(f.programPage(faults.cable, *faults.target, 9 * 0x4000, &byte, 1), -1);
  EXPECT_EQ(f.programPage(faults.cable, *faults.target, 8 * 0x4000, &byte, 1), 0);
  EXPECT_TRUE(faults.board->violations().empty());

  Probe flipped("nandflip=0x801/0x81");
  Bytes page(4);
  flipped.flash.readPage(flipped.cable, *flipped.target, 0x800, page.data(), 4);
  EXPECT_EQ(page, (Bytes{0xFF, 0x7E, 0xFF, 0xFF}));
}

TEST(NandDevice, BusyLastsItsTckEdgesAndStorageIsSparse) {
  auto board = std::make_unique<Board>(parseBoardOptions("chip=TQR2400"));
  NandDeviceConfig config;
  config.deviceCode = 0xD3;
  NandDevice& device = attachNandDevice(*board, config);
  JtagCable cable(*board);
  auto target = makeNandTarget(Tqr2400);
  NandFlash flash;
  restoreProductImages();
  cable.detectPort();
  cable.resetTap();
  char name[8];
  flash.bind(cable, *target, name);
  cable.loadExtest();
  flash.readId(cable, *target);
  ASSERT_EQ(flash.lookupSize(), 0);
  flash.setChipEnable(cable, '0');

  const uint32_t last = 0x40000000u - 0x20000u;
  flash.writeCommand(cable, *target, 0x60);
  flash.writeAddress(cable, *target, BlockAddress, last);
  flash.writeCommand(cable, *target, 0xD0);
  const uint64_t started = board->tckCount();
  EXPECT_FALSE(device.ready(started));
  EXPECT_TRUE(device.ready(started + NandDevice::kEraseBusy));
  const uint64_t scans = board->updateCount();
  ASSERT_EQ(flash.waitReady(cable), 0);
  EXPECT_GT(board->updateCount() - scans, 5u) << "R/B low for several samples";

  const Bytes data = {1, 2, 3};
  ASSERT_EQ(flash.programPage(cable, *target, last + 0x800, data.data(), 3), 0);
  EXPECT_EQ(device.storedPages(), std::vector<uint32_t>{(last + 0x800) / 2048});
  EXPECT_EQ(device.mainBytes(last + 0x800, 4), (Bytes{1, 2, 3, 0xFF}));
  EXPECT_EQ(device.spareByte((last + 0x800) / 2048, 0), 0xFF) << "spare bytes are not programmed";
  EXPECT_TRUE(board->violations().empty());
}

// Raw bus cycles, none of the program's checks: what the part itself answers.
uint8_t rawStatus(Probe& p) {
  uint8_t status = 0;
  p.flash.writeCommand(p.cable, *p.target, 0x70);
  p.flash.readData(p.cable, *p.target, &status, 1);
  return status;
}

// WP# held low: I/O7 reads 0 at all times; a program or an erase changes nothing, never takes R/B
// low and reports the failure.
TEST(NandDevice, AWriteProtectedPartRefusesProgramAndErase) {
  const std::string file = ::testing::TempDir() + "zorv_nandwp.bin";
  {
    std::ofstream out(file, std::ios::binary);
    out.put('\x5A');
  }
  Probe p("nandwp,nandload=" + file);
  std::remove(file.c_str());
  EXPECT_EQ(rawStatus(p), 0x40);
  p.flash.writeCommand(p.cable, *p.target, 0x60);
  p.flash.writeAddress(p.cable, *p.target, BlockAddress, 0);
  p.flash.writeCommand(p.cable, *p.target, 0xD0);
  const uint64_t scans = p.board->updateCount();
  EXPECT_EQ(p.flash.waitReady(p.cable), 0);
  EXPECT_EQ(p.board->updateCount() - scans, 1u) << "R/B stays high";
  EXPECT_EQ(rawStatus(p), 0x41);
  const uint8_t zero = 0;
  p.flash.writeCommand(p.cable, *p.target, 0x80);
  p.flash.writeAddress(p.cable, *p.target, PageAddress, 0x800);
  p.flash.writeData(p.cable, *p.target, &zero, 1);
  p.flash.writeCommand(p.cable, *p.target, 0x10);
  EXPECT_EQ(p.flash.waitReady(p.cable), 0);
  EXPECT_EQ(rawStatus(p), 0x41);
  Bytes bytes(1);
  ASSERT_EQ(p.flash.readPage(p.cable, *p.target, 0, bytes.data(), 1), 0);
  EXPECT_EQ(bytes[0], 0x5A) << "not erased";
  ASSERT_EQ(p.flash.readPage(p.cable, *p.target, 0x800, bytes.data(), 1), 0);
  EXPECT_EQ(bytes[0], 0xFF) << "not programmed";
  EXPECT_TRUE(p.board->violations().empty()) << p.board->violations().front();
}

// nandtdoread glitches the byte read after the chosen command, not R/B before it.
TEST(NandDevice, AReadGlitchHitsTheByteReadOnce) {
  Probe p("nandtdoread=0@0x30/2+1");
  uint8_t marker[3] = {};
  for (uint8_t& byte : marker) ASSERT_EQ(p.flash.readSpare(p.cable, *p.target, 0, &byte, 1), 0);
  EXPECT_EQ(marker[0], 0xFF);
  EXPECT_EQ(marker[1], 0x00);
  EXPECT_EQ(marker[2], 0xFF);
}

TEST(NandDevice, ReportsProtocolViolations) {
  {
    Probe p("");
    p.flash.writeCommand(p.cable, *p.target, 0x60);
    p.flash.writeAddress(p.cable, *p.target, BlockAddress, 0);
    p.flash.writeCommand(p.cable, *p.target, 0xD0);
    p.flash.writeCommand(p.cable, *p.target, 0x00);  // no wait for ready
    EXPECT_TRUE(p.hasViolation("command 0x00 while busy"));
  }
  {
    Probe p("");
    p.flash.writeCommand(p.cable, *p.target, 0x70);
    p.flash.bsrImage[p.flash.pins.pinRe] = '0';  // read strobe with the chip still driving
    p.cable.shiftDr(p.flash.bsrImage, p.cable.bsrLength);
    EXPECT_TRUE(p.hasViolation("driven by both chip and device"));
  }
  {
    Probe p("nand=0xDA");
    p.flash.writeCommand(p.cable, *p.target, 0x60);
    p.flash.id[1] = 0xF1;  // two row cycles where the part needs three
    p.flash.writeAddress(p.cable, *p.target, BlockAddress, 0);
    p.flash.writeCommand(p.cable, *p.target, 0xD0);
    EXPECT_TRUE(p.hasViolation("2 address cycles before 0xD0, expected 3"));
  }
  {
    Probe p("nand=0x75");
    p.flash.writeCommand(p.cable, *p.target, 0x42);
    p.flash.writeCommand(p.cable, *p.target, 0x30);
    p.flash.writeCommand(p.cable, *p.target, 0x10);
    EXPECT_TRUE(p.hasViolation("unknown command 0x42"));
    EXPECT_TRUE(p.hasViolation("0x30 on a small-page device"));
    EXPECT_TRUE(p.hasViolation("0x10 without a program set-up"));
  }
}

}  // namespace
}  // namespace zorv::sim
