#include "nand/nand_flash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cable/recording_port.h"
#include "sim/board.h"
#include "sim/nand_device.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(NandAddressBytes, EveryDeviceCodeAndKind) {
  struct Case {
    uint8_t code;
    NandAddressKind kind;
    uint32_t address;
    Bytes expected;
  };
  const Case cases[] = {
      {0xDA, PageAddress, 0x123456, {0x56, 0x04, 0x46, 0x02, 0x00}},
      {0xDA, SpareAddress, 0x123456, {0x16, 0x08, 0x46, 0x02, 0x00}},
      {0xDA, BlockAddress, 0xFFE0000, {0xC0, 0xFF, 0x01}},
      {0xDC, PageAddress, 0x1FFFF800, {0x00, 0x00, 0xFF, 0xFF, 0x03}},
      {0xD3, BlockAddress, 0x3FFE0000, {0xC0, 0xFF, 0x07}},
      {0xD3, SpareAddress, 0x3FFE0000, {0x00, 0x08, 0xC0, 0xFF, 0x07}},
      {0xF1, PageAddress, 0x7FE0801, {0x01, 0x00, 0xC1, 0xFF}},
      {0xF1, SpareAddress, 0x7FE0000, {0x00, 0x08, 0xC0, 0xFF}},
      {0xF1, BlockAddress, 0x7FE0000, {0xC0, 0xFF}},
      {0x76, PageAddress, 0x2F20005, {0x05, 0x00, 0x79, 0x01}},
      {0x76, SpareAddress, 0x2F20005, {0x05, 0x00, 0x79, 0x01}},
      {0x76, BlockAddress, 0x2F20000, {0x00, 0x79, 0x01}},
      {0x75, PageAddress, 0x1FFC005, {0x05, 0xE0, 0xFF}},
      {0x75, SpareAddress, 0x4005, {0x05, 0x20, 0x00}},
      {0x75, BlockAddress, 0x1FFC000, {0xE0, 0xFF}},
  };
  for (const Case& c : cases) {
    uint8_t bytes[5] = {};
    const int n = nandAddressBytes(c.code, c.kind, c.address, bytes);
    EXPECT_EQ(Bytes(bytes, bytes + n), c.expected) << std::hex << int(c.code) << " kind " << c.kind;
  }
  uint8_t bytes[5];
  EXPECT_EQ(nandAddressBytes(0x79, PageAddress, 0, bytes), 0);
}

TEST(NandFlash, LookupSizeOfAnUnknownCodeChangesNothing) {
  NandFlash flash;
  flash.id[1] = 0x79;
  std::strcpy(flash.sizeLabel, "before");
  flash.totalSize = 7;
  EXPECT_EQ(flash.lookupSize(), -1);
  EXPECT_STREQ(flash.sizeLabel, "before");
  EXPECT_EQ(flash.totalSize, 7u);
  flash.id[1] = 0x76;
  EXPECT_EQ(flash.lookupSize(), 0);
  EXPECT_STREQ(flash.sizeLabel, "64MB(1208)");
  EXPECT_EQ(flash.totalSize, 0x4000000u);
  EXPECT_EQ(flash.blockSize, 0x4000);
}

TEST(NandFlash, ReadDataOfNothingShiftsNothingAndLeavesTheBusDriving) {
  restoreProductImages();
  for (int p = 0; p < kProductCount; ++p) {
    RecordingPort port;
    JtagCable cable(port);
    cable.dataPort = kLptDataPort;
    auto target = makeNandTarget(p);
    NandFlash flash;
    char name[8];
    flash.bind(cable, *target, name);
    const std::string before(flash.bsrImage);
    uint8_t none = 0;
    flash.readData(cable, *target, &none, 0);
    EXPECT_TRUE(port.accesses.empty());
    EXPECT_EQ(std::string(flash.bsrImage), before);
  }
}

// Records the bus cycles the device sees: "C90" command, "A05" address, "D12" data in, "R" read
// strobe. Wired like the board, so it also proves the cycles arrive on the right cells.
class BusRecorder : public sim::PinDevice {
 public:
  explicit BusRecorder(TargetProduct chip) : w_(sim::nandWiring(chip)) {}
  std::vector<std::string> cycles;
  void pinsUpdated(const char* cells, int, uint64_t) override {
    const bool we = cells[w_.we] == '1', re = cells[w_.re] == '1';
    if (cells[w_.ce] == '0') {
      if (we && !we_) {
        unsigned v = 0, bit = 1;
        for (int cell : w_.data) {
          if (cells[cell] == '1') v |= bit;
          bit <<= 1;
        }
        char text[8];
        const char kind = cells[w_.cle] == '1' ? 'C' : cells[w_.ale] == '1' ? 'A' : 'D';
        std::snprintf(text, sizeof text, "%c%02X", kind, v);
        cycles.push_back(text);
      }
      if (!re && re_) cycles.push_back("R");
    }
    we_ = we;
    re_ = re;
  }
  void capturePins(char*, int, uint64_t) override {}

 private:
  const sim::NandWiring& w_;
  bool we_ = true, re_ = true;
};

struct Rig {
  std::unique_ptr<sim::Board> board;
  sim::NandDevice* device = nullptr;
  BusRecorder* bus = nullptr;
  JtagCable cable;
  std::unique_ptr<NandTarget> target;
  NandFlash flash;

  Rig(TargetProduct chip, const sim::NandDeviceConfig& config)
      : board(std::make_unique<sim::Board>(sim::parseBoardOptions(std::string("chip=") + sim::simChip(chip).name))),
        cable(*board),
        target(makeNandTarget(chip)) {
    restoreProductImages();
    device = &sim::attachNandDevice(*board, config);
    bus = static_cast<BusRecorder*>(&board->attach(std::make_unique<BusRecorder>(chip)));
    cable.detectPort();
    cable.resetTap();
    char name[8];
    flash.bind(cable, *target, name);
    cable.loadExtest();
    flash.readId(cable, *target);
    flash.lookupSize();
    bus->cycles.clear();
  }
};

sim::NandDeviceConfig part(uint8_t code) {
  sim::NandDeviceConfig config;
  config.deviceCode = code;
  return config;
}

TEST(NandFlash, ReadIdClassifiesTheGeometry) {
  Rig large(Obrin, part(0xDA));
  EXPECT_EQ(Bytes(large.flash.id, large.flash.id + 4), (Bytes{0xEC, 0xDA, 0x10, 0x15}));
  EXPECT_EQ(large.flash.largePage, 1);
  EXPECT_EQ(large.flash.pageSize, 2048);
  EXPECT_EQ(large.flash.blockSize, 131072);
  EXPECT_EQ(large.flash.totalSize, 0x10000000u);
  Rig small(Ika, part(0x75));
  EXPECT_EQ(small.flash.largePage, 0);
  EXPECT_EQ(small.flash.pageSize, 512);
  EXPECT_EQ(small.flash.blockSize, 0x4000) << "set by lookupSize";
  uint8_t maker = 0, code = 0;
  char label[20];
  small.flash.getId(maker, code, label);
  EXPECT_EQ(maker, 0xEC);
  EXPECT_EQ(code, 0x75);
  EXPECT_STREQ(label, "32MB(5608)");
  EXPECT_TRUE(small.board->violations().empty());
}

TEST(NandFlash, BadBlockMarkerCycles) {
  sim::NandDeviceConfig config = part(0x75);
  config.factoryBadBlocks = {3};
  Rig rig(Tqr2400, config);
  rig.flash.setChipEnable(rig.cable, '0');
  EXPECT_EQ(rig.flash.isBadBlock(rig.cable, *rig.target, 3 * 0x4000), -1);
  // A bad marker counts once it reads so twice and the device still gives its ID.
  EXPECT_EQ(rig.bus->cycles, (std::vector<std::string>{"C00", "A05", "A60", "A00", "R", "C00", "A05", "A60", "A00", "R",
                                                       "C90", "A00", "R", "R", "R", "R"}))
      << "no 0x30";
  rig.bus->cycles.clear();
  EXPECT_EQ(rig.flash.isBadBlock(rig.cable, *rig.target, 2 * 0x4000), 0);

  sim::NandDeviceConfig largeConfig = part(0xDA);
  largeConfig.factoryBadBlocks = {2};
  Rig large(Veskar, largeConfig);
  large.flash.setChipEnable(large.cable, '0');
  EXPECT_EQ(large.flash.isBadBlock(large.cable, *large.target, 2 * 0x20000), -1);
  EXPECT_EQ(large.bus->cycles, (std::vector<std::string>{"C00", "A00", "A08", "A80", "A00", "A00", "C30", "R", "C00", "A00",
                                                         "A08", "A80", "A00", "A00", "C30", "R", "C90", "A00", "R", "R",
                                                         "R", "R"}));
  EXPECT_EQ(large.flash.isBadBlock(large.cable, *large.target, 1 * 0x20000), 0);
  EXPECT_TRUE(rig.board->violations().empty());
  EXPECT_TRUE(large.board->violations().empty());
}

TEST(NandFlash, FactoryMarkerIsReadFromTheSpareArea) {
  // Small pages: spare byte 5 through the 0x50 pointer, which is then set back to the main area.
  sim::NandDeviceConfig smallConfig = part(0x76);
  smallConfig.markOnlyBlocks = {3};
  Rig small(Ika, smallConfig);
  NandFlash& f = small.flash;
  f.setChipEnable(small.cable, '0');
  EXPECT_EQ(f.factoryMarker(small.cable, *small.target, 3 * 0x4000), 1);
  // Then, the marker being bad, the marker and the device's ID once more.
  EXPECT_EQ(small.bus->cycles, (std::vector<std::string>{"C50", "A05", "A60", "A00", "A00", "R", "C00", "C50", "A05",
                                                         "A60", "A00", "A00", "R", "C00", "C90", "A00", "R", "R", "R",
                                                         "R"}));
  EXPECT_EQ(f.isBadBlock(small.cable, *small.target, 3 * 0x4000), 0) << "main byte 5 holds no marker";
  EXPECT_EQ(f.factoryMarker(small.cable, *small.target, 2 * 0x4000), 0);
  const uint8_t byte = 0x42;
  ASSERT_EQ(f.programPage(small.cable, *small.target, 2 * 0x4000, &byte, 1), 0);
  EXPECT_EQ(small.device->mainBytes(2 * 0x4000, 1), Bytes{0x42});

  // Large pages: spare byte 0, column 2048.
  sim::NandDeviceConfig largeConfig = part(0xF1);
  largeConfig.markOnlyBlocks = {2};
  Rig large(Tqr2400, largeConfig);
  large.flash.setChipEnable(large.cable, '0');
  EXPECT_EQ(large.flash.factoryMarker(large.cable, *large.target, 2 * 0x20000), 1);
  EXPECT_EQ(large.bus->cycles, (std::vector<std::string>{"C00", "A00", "A08", "A80", "A00", "C30", "R", "C00", "A00",
                                                         "A08", "A80", "A00", "C30", "R", "C90", "A00", "R", "R", "R",
                                                         "R"}));
  EXPECT_EQ(large.flash.factoryMarker(large.cable, *large.target, 1 * 0x20000), 0);
  EXPECT_TRUE(small.board->violations().empty()) << small.board->violations().front();
  EXPECT_TRUE(large.board->violations().empty()) << large.board->violations().front();
}

TEST(NandFlash, EraseProgramReadOnEveryProduct) {
  for (int p = 0; p < kProductCount; ++p) {
    for (uint8_t code : {uint8_t{0x76}, uint8_t{0xF1}}) {
      Rig rig(static_cast<TargetProduct>(p), part(code));
      NandFlash& f = rig.flash;
      const uint32_t block = 5 * static_cast<uint32_t>(f.blockSize);
      Bytes data(40);
      for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 1);
      f.setChipEnable(rig.cable, '0');
      ASSERT_EQ(f.eraseBlock(rig.cable, *rig.target, block), 0);
      ASSERT_EQ(f.programPage(rig.cable, *rig.target, block + static_cast<uint32_t>(f.pageSize), data.data(), 40), 0);
      Bytes back(40);
      ASSERT_EQ(f.readPage(rig.cable, *rig.target, block + static_cast<uint32_t>(f.pageSize), back.data(), 40), 0);
      EXPECT_EQ(back, data) << p << " " << int(code);
      EXPECT_EQ(rig.device->mainBytes(block + static_cast<uint32_t>(f.pageSize), 40), data);
      // A second program can only clear bits.
      const Bytes zeros(4, 0x0F);
      ASSERT_EQ(f.programPage(rig.cable, *rig.target, block + static_cast<uint32_t>(f.pageSize), zeros.data(), 4), 0);
      EXPECT_EQ(rig.device->mainBytes(block + static_cast<uint32_t>(f.pageSize), 1)[0], data[0] & 0x0F);
      f.setChipEnable(rig.cable, '1');
      EXPECT_TRUE(rig.board->violations().empty()) << rig.board->violations().front();
    }
  }
}

TEST(NandFlash, DeviceFailuresAndTimeouts) {
  sim::NandDeviceConfig config = part(0xDA);
  config.eraseFailBlocks = {1};
  config.programFailBlocks = {2};
  Rig rig(Obrin, config);
  NandFlash& f = rig.flash;
  const uint8_t byte = 0;
  f.setChipEnable(rig.cable, '0');
  EXPECT_EQ(f.eraseBlock(rig.cable, *rig.target, 0x20000), 1);
  EXPECT_EQ(f.programPage(rig.cable, *rig.target, 0x40000, &byte, 1), -1);
  EXPECT_EQ(f.programPage(rig.cable, *rig.target, 0x60000, &byte, 1), 0);
  EXPECT_TRUE(rig.cable.linkFailure().empty()) << "the part's own failures";

  // A failure that TDO stuck high reads is the cable's: noted, and no block's.
  sim::NandDeviceConfig stuck = part(0xDA);
  stuck.forceTdo = true;
  stuck.tdoAfter = 0x60;
  Rig dead(Tqr2400, stuck);
  dead.flash.setChipEnable(dead.cable, '0');
  EXPECT_EQ(dead.flash.eraseBlock(dead.cable, *dead.target, 0x20000), -1);
  EXPECT_EQ(dead.cable.linkFailure().rfind("the NAND answers with ID FF FF FF FF, not EC DA 10 15", 0), 0u)
      << dead.cable.linkFailure();

  sim::NandDeviceConfig busy = part(0xDA);
  busy.stuckBusy = true;
  Rig hung(Veskar, busy);
  hung.flash.setChipEnable(hung.cable, '0');
  const uint64_t scans = hung.board->updateCount();
  EXPECT_EQ(hung.flash.waitReady(hung.cable), -1);
  EXPECT_EQ(hung.board->updateCount() - scans, uint64_t{kNandReadySamples});
  hung.bus->cycles.clear();
  EXPECT_EQ(hung.flash.eraseBlock(hung.cable, *hung.target, 0), -1);
  EXPECT_EQ(hung.bus->cycles, (std::vector<std::string>{"C60", "A00", "A00", "A00", "CD0"})) << "no status read";
}

}  // namespace
}  // namespace zorv
