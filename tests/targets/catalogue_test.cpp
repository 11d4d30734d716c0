#include "targets/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>

#include "cable/recording_port.h"

namespace zorv {
namespace {

TEST(Catalogue, InitLoadsTheDescriptorAndHandsOutTheSharedImage) {
  restoreProductImages();
  RecordingPort port;
  JtagCable cable(port);
  char name[8];
  const char* expectedNames[] = {"OBRIN", "TQR2400", "IKA", "VESKAR"};
  const int lengths[] = {298, 298, 185, 80};
  for (int p = 0; p < kProductCount; ++p) {
    const auto product = static_cast<TargetProduct>(p);
    char* image = loadChip(cable, product, name, ChipVariant::Boundary);
    EXPECT_STREQ(name, expectedNames[p]);
    EXPECT_EQ(cable.bsrLength, lengths[p]);
    EXPECT_STREQ(cable.extestInstruction, "0000");
    EXPECT_EQ(std::strlen(image), static_cast<size_t>(lengths[p])) << "template and terminator only";
    EXPECT_EQ(image, productImage(product)) << "never a copy";
  }
  EXPECT_STREQ(cable.idCode, "00000000001000101011010111100001");
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
