#include "cable/ftdi_chip.h"

namespace zorv {
namespace {

// From FTDI's data sheets. The read window stays a little under the buffer that holds the MPSSE's
// answers until the host reads them (the "transmit" buffer, chip to host): a chip whose buffer
// is full stops running commands, and the host, still sending, would wait for it for good.
//   FT2232D (DS_FT2232D, FT_000173): two channels, each with an MPSSE; 128-byte transmit buffer;
//     the MPSSE clock is 12 MHz (AN_108: TCK = 12 MHz / ((1 + divisor) * 2)).
//   FT2232H (DS_FT2232H, FT_000061): two channels with an MPSSE; 4 KiB buffers per channel.
//   FT4232H (DS_FT4232H): four channels, of which only A and B have an MPSSE; 2 KiB
//     buffers per channel.
//   FT232H (DS_FT232H): one channel; 1 KiB buffers.
// The H series run the MPSSE from 60 MHz once divide-by-5 is off (AN_108, 0x8A).
constexpr FtdiChip kChips[] = {
    {0x05, "FT2232D", 2, false, 120},
    {0x07, "FT2232H", 2, true, 4032},
    {0x08, "FT4232H", 4, true, 2016},
    {0x09, "FT232H", 1, true, 1008},
};

}  // namespace

const FtdiChip* findFtdiChip(uint16_t bcdDevice) {
  for (const FtdiChip& chip : kChips) {
    if (chip.release == bcdDevice >> 8) return &chip;
  }
  return nullptr;
}

std::string ftdiChannelProblem(const FtdiChip& chip, int channel) {
  if (channel < chip.channels) return {};
  const std::string count = chip.channels == 1 ? "one channel (A)" : std::to_string(chip.channels) + " channels";
  return "an " + std::string(chip.name) + " has " + count + ", no channel " + static_cast<char>('A' + channel);
}

}  // namespace zorv
