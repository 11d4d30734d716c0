#include "targets/nand_target.h"

#include <gtest/gtest.h>

#include <string>

#include "cable/recording_port.h"
#include "sim/nand_device.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

struct Mapped {
  std::unique_ptr<NandTarget> target;
  NandPins pins;
  char* image = nullptr;
  char name[8] = {};
};

Mapped mapProduct(JtagCable& cable, int product) {
  Mapped m;
  m.target = makeNandTarget(product);
  m.target->init(cable, m.name, m.pins, m.image);
  return m;
}

TEST(NandTarget, FactoryKnowsExactlyTheFourProducts) {
  EXPECT_EQ(makeNandTarget(-1), nullptr);
  EXPECT_EQ(makeNandTarget(4), nullptr);
  RecordingPort port;
  JtagCable cable(port);
  const char* names[] = {"OBRIN", "TQR2400", "IKA", "VESKAR"};
  for (int p = 0; p < kProductCount; ++p) {
    Mapped m = mapProduct(cable, p);
    EXPECT_STREQ(m.name, names[p]);
    EXPECT_EQ(m.image, productImage(static_cast<TargetProduct>(p))) << "the shared image, never a copy";
    EXPECT_EQ(cable.bsrLength, chipDescriptor(static_cast<TargetProduct>(p)).bsrLength);
  }
}

TEST(NandTarget, PutDataByteWritesOnlyTheEightDataCells) {
  restoreProductImages();
  RecordingPort port;
  JtagCable cable(port);
  Mapped m = mapProduct(cable, Veskar);
  const std::string before(m.image);
  m.target->putDataByte(m.image, 0xA5);
  std::string expected = before;
  const std::pair<int, char> cells[] = {{16, '1'}, {18, '0'}, {20, '1'}, {22, '0'},
                                        {24, '0'}, {26, '1'}, {28, '0'}, {30, '1'}};
  for (auto [cell, level] : cells) expected[static_cast<size_t>(cell)] = level;
  EXPECT_EQ(std::string(m.image), expected);
}

TEST(NandTarget, GetDataByteReadsOnlyOnes) {
  RecordingPort port;
  JtagCable cable(port);
  Mapped m = mapProduct(cable, Tqr2400);
  std::string captured(298, '0');
  captured[211] = '1';
  captured[225] = '1';
  captured[213] = 'x';  // anything but '1' counts as 0
  EXPECT_EQ(m.target->getDataByte(captured.c_str()), 0x81);
}

TEST(NandTarget, BusDirectionRoundTripRestoresTheTemplate) {
  restoreProductImages();
  RecordingPort port;
  JtagCable cable(port);
  for (int p = 0; p < kProductCount; ++p) {
    Mapped m = mapProduct(cable, p);
    const std::string before(m.image);
    m.target->setBusDirection(m.image, kBusInput);
    EXPECT_NE(std::string(m.image), before) << p;
    m.target->setBusDirection(m.image, kBusOutput);
    EXPECT_EQ(std::string(m.image), before) << p;
  }
}

// The pin maps and the virtual board's wiring were written apart; any slip shows up here.
TEST(NandTarget, AgreesWithTheBoardWiringAndTheIdleTemplate) {
  restoreProductImages();
  RecordingPort port;
  JtagCable cable(port);
  for (int p = 0; p < kProductCount; ++p) {
    const sim::NandWiring& w = sim::nandWiring(static_cast<TargetProduct>(p));
    Mapped m = mapProduct(cable, p);
    EXPECT_EQ(m.pins.pinCe, w.ce);
    EXPECT_EQ(m.pins.pinWe, w.we);
    EXPECT_EQ(m.pins.pinRe, w.re);
    EXPECT_EQ(m.pins.pinRb, w.rb);
    EXPECT_EQ(m.pins.pinCle, w.cle);
    EXPECT_EQ(m.pins.pinAle, w.ale);
    std::string image(m.image);
    for (int n = 0; n < 8; ++n) {
      m.target->putDataByte(image.data(), static_cast<uint8_t>(1u << n));
      for (int k = 0; k < 8; ++k) EXPECT_EQ(image[w.data[k]], k == n ? '1' : '0') << p << " I/O" << k;
      std::string captured(image.size(), '0');
      captured[w.data[n]] = '1';
      EXPECT_EQ(m.target->getDataByte(captured.c_str()), 1u << n);
    }
    m.target->setBusDirection(image.data(), kBusOutput);
    for (int n = 0; n < 8; ++n) EXPECT_EQ(image[w.direction[n]], w.driveLevel) << p;
    // The reset template idles the bus: chip enable, strobes high, latches low, driving.
    const char* idle = chipDescriptor(static_cast<TargetProduct>(p)).resetTemplate;
    EXPECT_EQ(idle[w.ce], '1');
    EXPECT_EQ(idle[w.we], '1');
    EXPECT_EQ(idle[w.re], '1');
    EXPECT_EQ(idle[w.cle], '0');
    EXPECT_EQ(idle[w.ale], '0');
    EXPECT_EQ(idle[w.rb], '1');
    for (int n = 0; n < 8; ++n) EXPECT_EQ(idle[w.direction[n]], w.driveLevel) << p;
  }
}

}  // namespace
}  // namespace zorv
