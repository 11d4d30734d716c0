#include "targets/catalogue.h"

#include <gtest/gtest.h>

#include "cable/recording_port.h"

namespace zorv {
namespace {

TEST(Catalogue, InitLoadsTheDescriptorAndHandsOutTheSharedImage) {
  restoreProductImages();
  RecordingPort port;
  JtagCable cable(port);
  char name[8];
  struct Expected {
    const char* name;
    const char* idInstruction;
    const char* idCode;
    int length;
    const char* resetTemplate;
  };
  const Expected expected[] = {
      {"OBRIN", "0101", "00000000101011101100101011011101", 298,
       "1110111111001010101010101010101010101010101010101010101010100000001111111101110101110101010101010101010101"
       "0101010101010101010101010101010101010101010111010101010101010111111101111111111110101010101010101010101010"
       "10101010101000000000000000000101010101010101001001000010101010101010101010101010101010"},
      {"TQR2400", "1011", "00010000000000000001010110111001", 298,
       "0000000000000000000000000000000000000000000000101000000000000000000000001010100000000000000000000000000000"
       "0000000000101010101011100101000000010000000000000000000101110110000000000000000000000001100001000001010110"
       "00000000000000000000000000000001000001000000000000000000000000000000000000000000000000"},
      {"IKA", "1011", "00010000000000000001010110111001", 185,
       "0000000000000000000000000000000000000001010001111111010101010000000000000000000000000000000000011000010101"
       "0101000000000101110111011101100000000001111111111111111111100000000000000000000"},
      {"VESKAR", "0101", "00000000001000101011010111100001", 80,
       "11111111111111111111111111111111101111010111111111111111111111111111111111111111"},
  };
  for (int p = 0; p < kProductCount; ++p) {
    const auto product = static_cast<TargetProduct>(p);
    const Expected& want = expected[p];
    char* image = loadChip(cable, product, name, ChipVariant::Boundary);
    EXPECT_STREQ(name, want.name);
    EXPECT_STREQ(cable.idInstruction, want.idInstruction) << want.name;
    EXPECT_STREQ(cable.extestInstruction, "0000");
    EXPECT_STREQ(cable.idCode, want.idCode) << want.name;
    EXPECT_EQ(cable.bsrLength, want.length);
    EXPECT_STREQ(image, want.resetTemplate) << want.name << ": template and terminator only";
    EXPECT_EQ(image, productImage(product)) << "never a copy";
  }
}

TEST(Catalogue, VeskarDebugVariantAndSharedEdits) {
  restoreProductImages();
  RecordingPort port;
  JtagCable cable(port);
  char name[8];
  char* image = loadChip(cable, Veskar, name, ChipVariant::VeskarDebug);
  EXPECT_STREQ(cable.debugInstruction, "1001");
  EXPECT_EQ(cable.bsrLength, 0);
  EXPECT_EQ(image[33], '0');
  EXPECT_EQ(image[38], '0');
  EXPECT_EQ(image[40], '0');
  EXPECT_EQ(image[80], '\0');

  image[5] = '0';  // a job's edit stays for the next job on the product
  EXPECT_EQ(loadChip(cable, Veskar, name, ChipVariant::Boundary)[5], '0');
  EXPECT_STREQ(cable.debugInstruction, "1001") << "the boundary variant leaves it untouched";
  EXPECT_EQ(cable.bsrLength, 80);
  restoreProductImages();
  EXPECT_EQ(productImage(Veskar)[5], '1');
}

}  // namespace
}  // namespace zorv
