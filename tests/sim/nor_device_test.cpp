#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "sim/board.h"
#include "sim/nor_attach.h"
#include "sim/nor_chip.h"
#include "sim/veskar_debug.h"

namespace zorv::sim {
namespace {

NorChip makeChip(const char* name, bool wordMode) { return NorChip(*findNorPart(name), wordMode); }

// Word-mode command addresses of the AMD-style parts.
void unlock(NorChip& chip, uint64_t tck = 0) {
  chip.write(0x555, 0xAA, tck);
  chip.write(0x2AA, 0x55, tck);
}

TEST(NorChip, AutoselectCodesInEveryMode) {
  NorChip gl = makeChip("S29GL064M", true);
  unlock(gl);
  gl.write(0x555, 0x90, 0);
  EXPECT_EQ(gl.read(0, 0), 0x01u);
  EXPECT_EQ(gl.read(1, 0), 0x227Eu);
  gl.write(0, 0xF0, 0);
  EXPECT_EQ(gl.read(1, 0), 0xFFFFu);

  NorChip al = makeChip("S29AL004D", false);  // byte mode: A-1 is the lowest address line
  al.write(0xAAA, 0xAA, 0);
  al.write(0x555, 0x55, 0);
  al.write(0xAAA, 0x90, 0);
  EXPECT_EQ(al.read(2, 0), 0xB9u);

  NorChip en = makeChip("EN29LV040A", false);
  unlock(en);
  en.write(0x555, 0x90, 0);
  EXPECT_EQ(en.read(0x000, 0), 0x7Fu);
  EXPECT_EQ(en.read(0x100, 0), 0x1Cu);
  EXPECT_EQ(en.read(0x001, 0), 0x4Fu);
}

TEST(NorChip, ProgramOnlyClearsBitsAndTogglesWhileBusy) {
  NorChip chip = makeChip("S29AL008D", true);
  chip.setByte(0x10, 0xF0);
  chip.setByte(0x11, 0xFF);
  unlock(chip, 100);
  chip.write(0x555, 0xA0, 100);
  chip.write(0x08, 0x120F, 100);
  const uint32_t a = chip.read(0x08, 200);
  const uint32_t b = chip.read(0x08, 300);
  EXPECT_EQ((a ^ b) & 0x40, 0x40u);
  EXPECT_EQ(a & 0x80, 0x80u);  // DQ7 shows the complement of the data's bit 7
  EXPECT_EQ(chip.read(0x08, 100 + NorTiming{}.programTicks), 0x1200u);
  // A write while busy goes nowhere.
  unlock(chip, 100);
  EXPECT_EQ(chip.byteAt(0x10), 0x00);
}

TEST(NorChip, SectorEraseClearsOnlyItsSector) {
  NorChip chip = makeChip("S29AL008D", true);  // 15 x 64 KB, then 32, 8, 8, 16 KB
  chip.setByte(0xF7FFF, 0x00);
  chip.setByte(0xF8000, 0x00);
  chip.setByte(0xF9FFF, 0x00);
  chip.setByte(0xFA000, 0x00);
  unlock(chip);
  chip.write(0x555, 0x80, 0);
  unlock(chip);
  chip.write(0xF8000 / 2, 0x30, 0);
  EXPECT_TRUE(chip.busy(1));
  EXPECT_FALSE(chip.busy(NorTiming{}.eraseTicks));
  EXPECT_EQ(chip.byteAt(0xF7FFF), 0x00);
  EXPECT_EQ(chip.byteAt(0xF8000), 0xFF);
  EXPECT_EQ(chip.byteAt(0xF9FFF), 0xFF);
  EXPECT_EQ(chip.byteAt(0xFA000), 0x00);
  ASSERT_EQ(chip.erasures().size(), 1u);
  EXPECT_EQ(chip.erasures()[0], (std::pair<uint32_t, uint32_t>{0xF8000, 0x2000}));
}

TEST(NorChip, SstErasesFourKilobyteSectorsOrWholeBlocks) {
  for (const auto& [command, length] : {std::pair<uint32_t, uint32_t>{0x30, 0x1000}, {0x50, 0x10000}}) {
    NorChip chip = makeChip("SST39VF6401", true);
    chip.setByte(0x10000, 0);
    chip.setByte(0x11000, 0);
    chip.write(0x5555, 0xAA, 0);
    chip.write(0x2AAA, 0x55, 0);
    chip.write(0x5555, 0x80, 0);
    chip.write(0x5555, 0xAA, 0);
    chip.write(0x2AAA, 0x55, 0);
    chip.write(0x10000 / 2, command, 0);
    EXPECT_EQ(chip.byteAt(0x10000), 0xFF);
    EXPECT_EQ(chip.byteAt(0x11000), length > 0x1000 ? 0xFF : 0x00) << command;
  }
  // The CFI query needs the unlock cycles on this part.
  NorChip sst = makeChip("SST39VF6401", true);
  sst.write(0x55, 0x98, 0);
  EXPECT_EQ(sst.read(0x10, 0), 0xFFFFu);
  sst.write(0x5555, 0xAA, 0);
  sst.write(0x2AAA, 0x55, 0);
  sst.write(0x5555, 0x98, 0);
  EXPECT_EQ(sst.read(0x10, 0), uint32_t{'Q'});
  EXPECT_EQ(sst.read(0x31, 0), 0x7Fu);  // second region: 128 blocks
  EXPECT_EQ(sst.read(0x34, 0), 0x01u);  // of 64 KB
}

TEST(NorChip, WriteBufferStaysInsideOnePage) {
  NorChip chip = makeChip("S29GL128M", true);
  std::vector<std::string> violations;
  chip.setViolationSink([&](const std::string& text) { violations.push_back(text); });
  unlock(chip);
  chip.write(0x100, 0x25, 0);
  chip.write(0x100, 1, 0);
  chip.write(0x10F, 0x1234, 0);
  chip.write(0x110, 0x5678, 0);  // the next 32-byte page
  EXPECT_EQ(violations.size(), 1u);
  EXPECT_EQ(chip.byteAt(0x21E), 0xFF);
  // The aborted load shows its status (DQ1) until the write-to-buffer-abort reset; a plain reset
  // does not end it, and neither does a new command.
  chip.write(0, 0xF0, 0);
  unlock(chip);
  chip.write(0x100, 0x25, 0);
  EXPECT_EQ(chip.read(0x100, 0) & 0x02, 0x02u);
  EXPECT_NE(chip.read(0x100, 0), chip.read(0x100, 0));
  unlock(chip);
  chip.write(0x555, 0xF0, 0);
  EXPECT_EQ(chip.read(0x100, 0), 0xFFFFu);

  unlock(chip);
  chip.write(0x100, 0x25, 0);
  chip.write(0x100, 1, 0);
  chip.write(0x100, 0x1234, 0);
  chip.write(0x101, 0x5678, 0);
  chip.write(0x101, 0x29, 0);
  EXPECT_EQ(chip.read(0x101, NorTiming{}.bufferTicks), 0x5678u);
  EXPECT_EQ(chip.byteAt(0x200), 0x34);
  EXPECT_EQ(violations.size(), 1u);
}

// A program that does not take runs past its limit: status with DQ5 until the reset command. One
// that takes shows no DQ5 and ignores a reset while it runs.
TEST(NorChip, AFailedProgramShowsStatusUntilReset) {
  NorChip chip = makeChip("EN29LV040A", false);
  chip.setProgramFail(0x10);
  const uint64_t ticks = NorTiming{}.programTicks;
  unlock(chip);
  chip.write(0x555, 0xA0, 0);
  chip.write(0x0F, 0x00, 0);
  chip.write(0, 0xF0, 1);
  EXPECT_EQ(chip.read(0x0F, ticks - 1) & 0x20, 0u);
  EXPECT_EQ(chip.read(0x0F, ticks), 0x00u);

  unlock(chip, ticks);
  chip.write(0x555, 0xA0, ticks);
  chip.write(0x10, 0x00, ticks);
  const uint64_t late = 2 * ticks;
  EXPECT_EQ(chip.read(0x10, late) & 0x20, 0x20u);
  EXPECT_NE(chip.read(0x20, late), chip.read(0x20, late));
  unlock(chip, late);
  chip.write(0x555, 0xA0, late);  // goes nowhere
  chip.write(0x20, 0xF0, late);
  EXPECT_EQ(chip.read(0x10, late), 0xFFu);
  EXPECT_TRUE(chip.readsArray(late));
}

TEST(NorAttach, RefusesBoardsThatCannotExist) {
  for (const char* options : {"nor=NOPE", "nor=EN29LV040A,norwidth=16", "nor=S29GL064M,interleave=2",
                              "nor=S29GL064M,norwidth=8", "norcs=7", "norcs=9", "chip=VESKAR,nor=S29GL064M",
                              "norprogramfail=xyz", "norload=/dev/zero"}) {
    EXPECT_THROW(makeBoard(options), std::invalid_argument) << options;
  }
  EXPECT_NO_THROW(makeBoard("chip=TQR2400,norcs=7"));
  EXPECT_NO_THROW(makeBoard("nor=none"));
}

TEST(NorAttach, PlainSimHasANorDevice) {
  BoardOptions options = parseBoardOptions("");
  Board board(options);
  const AttachedNor nor = attachNorDevice(board, options);
  ASSERT_NE(nor.bank, nullptr);
  EXPECT_EQ(nor.bank->chip(0).part().name, std::string("S29GL064M"));
  EXPECT_EQ(nor.bank->busWidth(), 16);
}

// Shifts a frame written character 0 first and returns what came out.
std::string shiftFrame(VeskarDebugRegister& reg, const std::string& frame) {
  reg.capture(0);
  std::string out;
  for (char c : frame) {
    out += reg.tdo() ? '1' : '0';
    reg.shift(c == '1');
  }
  reg.update(0);
  return out;
}

TEST(VeskarDebug, EntrySequenceThenFramesOnTheConfigurationRegister) {
  BoardOptions options = parseBoardOptions("chip=VESKAR");
  Board board(options);
  VeskarDebugRegister reg(board, nullptr);
  const std::string wordRead = "10001" "00000001000" "10000000000000000000010000010000" "0001" +
                               std::string(32 + 34, '0') + "1";
  EXPECT_EQ(shiftFrame(reg, wordRead).substr(87, 32), std::string(32, '0'));  // not in debug mode yet
  shiftFrame(reg, "00000");
  shiftFrame(reg, "100101");
  shiftFrame(reg, "00011");
  ASSERT_TRUE(reg.debugMode());
  EXPECT_EQ(shiftFrame(reg, wordRead).substr(87, 32), "00000000000000000000000000000111");
  const std::string wordWrite = "10010" "01000001000" "10000000000000000000010000010000" "0000"
                                "00000000000000001111111111110000" + std::string(32, '0') + "1";
  shiftFrame(reg, wordWrite);
  EXPECT_EQ(reg.configRegister(), 0xFFF0u);
  EXPECT_TRUE(board.violations().empty());
  shiftFrame(reg, wordWrite.substr(0, 100));
  EXPECT_EQ(board.violations().size(), 1u);
}

}  // namespace
}  // namespace zorv::sim
