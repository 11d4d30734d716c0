#include "cable/ftdi_chip.h"

#include <gtest/gtest.h>

#include <string>

namespace zorv {
namespace {

// Each chip as FTDI's data sheets give it (bcdDevice, channels, the buffer that holds answers on
// their way to the host, the 60 MHz clock): answers the link lets wait never pass that buffer, and
// a channel the chip does not have is refused by the chip's name, before anything is opened.
TEST(FtdiChip, ChipsAsTheirDataSheetsGiveThem) {
  struct Fact {
    uint16_t bcdDevice;
    const char* name;
    int channels;
    size_t answerBuffer;
    bool highSpeed;
  };
  const Fact facts[] = {
      {0x0500, "FT2232D", 2, 128, false},   // DS_FT2232D: 128-byte transmit buffer per channel
      {0x0700, "FT2232H", 2, 4096, true},   // DS_FT2232H: 4 KiB transmit buffer per channel
      {0x0800, "FT4232H", 4, 2048, true},   // DS_FT4232H: 2 KiB transmit buffer per channel
      {0x0900, "FT232H", 1, 1024, true},    // DS_FT232H: 1 KiB transmit buffer
  };
  for (const Fact& fact : facts) {
    SCOPED_TRACE(fact.name);
    const FtdiChip* chip = findFtdiChip(fact.bcdDevice);
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(chip->name, fact.name);
    EXPECT_LE(chip->readWindow, fact.answerBuffer);
    EXPECT_GE(chip->readWindow, fact.answerBuffer * 15 / 16);
    EXPECT_EQ(chip->highSpeed, fact.highSpeed);
    EXPECT_EQ(ftdiChannelProblem(*chip, 0), "");
    EXPECT_EQ(ftdiChannelProblem(*chip, fact.channels - 1), "");
  }
  EXPECT_EQ(findFtdiChip(0x0600), nullptr);  // FT232R: no MPSSE
  EXPECT_EQ(ftdiChannelProblem(*findFtdiChip(0x0900), 1), "an FT232H has one channel (A), no channel B");
}

}  // namespace
}  // namespace zorv
