#include "cable_choice/cable_port.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "cable/direct_io_port.h"
#include "cable_choice/tck_rate.h"
#include "cable/ppdev_port.h"
#include "link/parallel_port_link.h"
#include "link/remote_bitbang_link.h"
#include "link/xvc_link.h"
#include "sim/board.h"

namespace zorv {
namespace {

// The port under a parallel-port link, or null.
PortIo* portOf(JtagLink* link) {
  auto* parallel = dynamic_cast<ParallelPortLink*>(link);
  return parallel != nullptr ? &parallel->port() : nullptr;
}

TEST(CablePortTest, EachCableTextOpensItsBackend) {
  EXPECT_NE(dynamic_cast<DirectIoPort*>(portOf(openCableLink("lpt").get())), nullptr);
  for (const auto& [text, base] : {std::pair{"lpt", 0x378}, {"lpt:0xD010", 0xD010}, {"lpt:888", 888}}) {
    auto lpt = openCableLink(text);
    EXPECT_EQ(static_cast<DirectIoPort&>(*portOf(lpt.get())).base(), base) << text;
  }

  auto ppdev = openCableLink("ppdev");
  ASSERT_NE(dynamic_cast<PpdevPort*>(portOf(ppdev.get())), nullptr);
  EXPECT_EQ(static_cast<PpdevPort&>(*portOf(ppdev.get())).device(), "/dev/parport0");
  auto other = openCableLink("ppdev:/dev/parport2");
  EXPECT_EQ(static_cast<PpdevPort&>(*portOf(other.get())).device(), "/dev/parport2");

  // Opening does not connect yet: a missing server is reported by the job, as a missing port.
  auto remote = openCableLink("remote:127.0.0.1:4444");
  ASSERT_NE(dynamic_cast<RemoteBitbangLink*>(remote.get()), nullptr);
  EXPECT_FALSE(static_cast<RemoteBitbangLink&>(*remote).connected());
  EXPECT_NE(dynamic_cast<RemoteBitbangLink*>(openCableLink("remote:[::1]:1").get()), nullptr);
  EXPECT_NE(dynamic_cast<XvcLink*>(openCableLink("xvc:127.0.0.1:2542").get()), nullptr);

  auto board = openCableLink("sim:chip=IKA");
  ASSERT_NE(dynamic_cast<sim::Board*>(portOf(board.get())), nullptr);
  EXPECT_EQ(static_cast<sim::Board&>(*portOf(board.get())).options().chip, Ika);
}

TEST(CablePortTest, TckRatesTakeKAndMSuffixesWithinRange) {
  EXPECT_EQ(readTckRate("6M"), 6000000u);
  EXPECT_EQ(readTckRate("500k"), 500000u);
  EXPECT_EQ(readTckRate("1000M"), 1000000000u);
  for (const char* bad : {"", "M", "0", "0k", "1001M", "6m", "6MHz", "-1", "1.5M", "0x10", "99999999999999999999"})
    EXPECT_FALSE(readTckRate(bad)) << bad;
}

TEST(CablePortTest, BadTextsAreRefusedWithAReason) {
  for (const char* text : {"", "LPT", "serial", "ppdev:", "remote:", "remote:host", "remote::4444", "remote:h:",
                           "remote:h:0", "remote:h:65536", "remote:h:12x", "remote:h:-1", "xvc:h", "xvc:h:0", "sim:chip=Z80",
                           "lpt:", "lpt:0x", "lpt:0xFFFE", "lpt:0", "lpt:D010", "lpt:0x378x"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(openCableLink(text), std::invalid_argument);
  }
  try {
    openCableLink("remote:h:99999");
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("1 to 65535"), std::string::npos);
  }
}

}  // namespace
}  // namespace zorv
