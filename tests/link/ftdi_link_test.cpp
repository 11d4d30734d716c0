#include "link/ftdi_link.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cable_choice/simulated_ftdi.h"
#include "sim/board.h"

namespace zorv {
namespace {

// The link's scans through the encoder and the modelled adapter: the IDCODE register comes back
// as the board's chip holds it, with and without an nTRST pin, and an adapter unplugged mid-scan
// fails the link with its cause.
TEST(FtdiLink, ScansReadTheIdCodeAndAnUnpluggedAdapterFailsTheLink) {
  for (const char* layoutName : {"ft2232h", "tigard"}) {
    SCOPED_TRACE(layoutName);
    const FtdiLayout& layout = *findFtdiLayout(layoutName);
    auto adapter = std::make_shared<SimulatedFtdi>(sim::makeBoard("chip=IKA,nand=none,nor=none"),
                                                   sim::MpsseInterpreter::Wiring{layout.trst.data, true});
    FtdiLink link(layout, [adapter](std::string&) {
      FtdiDevice device;
      device.transport = adapter;
      return device;
    });
    ASSERT_TRUE(link.grantAccess());
    ASSERT_TRUE(link.detect());
    link.pulseTrst();
    char code[32];
    for (char& c : code) c = 0;
    uint8_t tdo[32] = {};
    link.clockTms(0b0010, 4, false);  // to Shift-DR: after the reset IDCODE is the instruction
    link.shiftBits(code, 32, true, TdoCapture{tdo, 0, 32});
    link.clockTms(0b01, 2, false);
    link.flush();
    uint32_t value = 0;
    for (int i = 0; i < 32; ++i) value |= (tdo[i] == kTdoCaptured ? 1u : 0u) << i;
    EXPECT_EQ(value, adapter->board().chip().idcode);
    EXPECT_EQ(link.linkFailure(), "");

    adapter->unplugAfterTransfers(0);
    link.shiftBits(code, 32, true, TdoCapture{tdo, 0, 32});
    link.flush();
    EXPECT_EQ(link.linkFailure(), "the FTDI adapter was unplugged");
    EXPECT_EQ(tdo[0], 0xFF);
  }
}

}  // namespace
}  // namespace zorv
