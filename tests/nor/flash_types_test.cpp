#include "nor/flash_types.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zorv {
namespace {

TEST(FlashTypes, NamesForListAndLog) {
  EXPECT_EQ(flashTypeLogName(S29gl128m), "S29GL128M_N");
  EXPECT_EQ(flashTypeListText(S29gl128m), "S29GL128M");
  EXPECT_EQ(flashTypeLogName(AutoDetect), "Unknow");
  EXPECT_EQ(flashTypeLogName(-1), "Unknow");
  EXPECT_EQ(flashTypeFromText("sst39vf6401"), Sst39vf6401);
  EXPECT_EQ(flashTypeFromText("AutoDetect"), AutoDetect);
  EXPECT_EQ(flashTypeFromText("S29GL128M_N"), -1);
}

// A row that contradicts itself passes every per-type test that does not happen to use the
// contradicting field: the page would pick a width the job refuses, or a code that the ID check
// accepts would find no geometry.
TEST(FlashTypes, EachRowAgreesWithItself) {
  for (int i = 0; i < kFlashTypeCount; ++i) {
    const FlashTypeRow& row = flashTypeRow(i);
    SCOPED_TRACE(row.listText);
    EXPECT_NE(findBusSetting(i, row.defaultWidth, 1), nullptr);
    EXPECT_EQ(row.geometry == GeometrySource::DeviceCode, !row.deviceCodes.empty());
    const auto hasGeometry = [&row](uint32_t code) {
      return std::any_of(row.deviceCodes.begin(), row.deviceCodes.end(),
                         [code](const DeviceCodeGeometry& g) { return g.code == code; });
    };
    for (const NorBusSetting& setting : row.settings) {
      EXPECT_EQ(setting.commands->busWidth, setting.width * setting.interleave);
      if (row.geometry == GeometrySource::DeviceCode && setting.expectedDeviceId != 0) {
        EXPECT_TRUE(hasGeometry(setting.expectedDeviceId & 0xFF));
      }
      EXPECT_EQ(row.geometry == GeometrySource::Cfi, setting.commands->cfiQueryCommand != 0);
    }
    if (row.veskarDeviceCode != 0) {
      EXPECT_EQ(veskarFlashType(row.veskarDeviceCode), i);
      EXPECT_TRUE(hasGeometry(row.veskarDeviceCode));
    }
  }
}

}  // namespace
}  // namespace zorv
