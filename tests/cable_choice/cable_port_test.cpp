#include "cable_choice/cable_port.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "cable/direct_io_port.h"
#include "cable_choice/cmsis_dap_cable.h"
#include "cable_choice/ftdi_cable.h"
#include "cable_choice/tck_rate.h"
#include "extra/extra_job.h"
#include "page/recording_page.h"
#include "cable/ppdev_port.h"
#include "cmsis_dap/cmsis_dap_link.h"
#include "link/ftdi_link.h"
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
                           "lpt:", "lpt:0x", "lpt:0xFFFE", "lpt:0", "lpt:D010", "lpt:0x378x", "ppdev,x",
                           "remote,x:h:1"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(openCableLink(text), std::invalid_argument);
  }
  // Channels C and D exist only on an FT4232H, and have no MPSSE there.
  for (const char* text : {"ftdi,channel=C", "ftdi,channel=D:0403:6011"}) {
    try {
      openCableLink(text);
      ADD_FAILURE() << text;
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find("has no MPSSE (only an FT4232H has channels C and D"), std::string::npos)
          << error.what();
    }
  }
  try {
    openCableLink("remote:h:99999");
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("1 to 65535"), std::string::npos);
  }
}

// The FTDI texts: the layout brings its USB ids and channel unless the text names others, and
// ftdi:sim reads the chip's ID through the modelled adapter.
TEST(CablePortTest, FtdiTextsPickLayoutChannelAndAdapter) {
  const FtdiCableText plain = parseFtdiCable("ftdi");
  EXPECT_EQ(plain.layout->name, "ft2232h");
  ASSERT_EQ(plain.usb.ids.size(), 2u);
  EXPECT_EQ(plain.usb.ids[1].product, 0x6014);
  const FtdiCableText tigard = parseFtdiCable("ftdi,layout=tigard");
  EXPECT_EQ(tigard.usb.channel, 1);
  const FtdiCableText chosen = parseFtdiCable("ftdi,layout=tigard,channel=A:15ba:002B:OL1234");
  EXPECT_EQ(chosen.usb.channel, 0);
  ASSERT_EQ(chosen.usb.ids.size(), 1u);
  EXPECT_EQ(chosen.usb.ids[0].vendor, 0x15BA);
  EXPECT_EQ(chosen.usb.ids[0].product, 0x002B);
  EXPECT_EQ(chosen.usb.serial, "OL1234");
  EXPECT_TRUE(cableSetsTck("ftdi,layout=tigard"));
  for (const char* text : {"ftdi:", "ftdi:0403", "ftdi:0403:60100", "ftdi:xyz:6010", "ftdi:0403:6010:", "ftdi,layout=x",
                           "ftdi,channel=E", "ftdi,speed=1", "ftdi,layout=olimex-arm-usb-ocd:sim", "ftdix"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(openCableLink(text), std::invalid_argument);
  }
  // Channels C and D exist only on an FT4232H, and have no MPSSE there.
  for (const char* text : {"ftdi,channel=C", "ftdi,channel=D:0403:6011"}) {
    try {
      openCableLink(text);
      ADD_FAILURE() << text;
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find("has no MPSSE (only an FT4232H has channels C and D"), std::string::npos)
          << error.what();
    }
  }

  auto port = openCableLink("ftdi,layout=tigard:sim:chip=IKA", 100);
  ASSERT_NE(dynamic_cast<FtdiLink*>(port.get()), nullptr);
  RecordingPage page;
  ExtraSettings settings;
  settings.product = Ika;
  settings.extraMode = ReadJtagId;
  runExtraJob(page, *port, settings);
  EXPECT_NE(page.log.find("JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)"), std::string::npos) << page.log;
  EXPECT_EQ(static_cast<FtdiLink&>(*port).tckHz(), 10000000u);
  // The job let the adapter go; the next job opens it again.
  EXPECT_EQ(static_cast<FtdiLink&>(*port).encoder(), nullptr);
  RecordingPage again;
  runExtraJob(again, *port, settings);
  EXPECT_NE(again.log.find("JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)"), std::string::npos) << again.log;
}

// A --tck that is exactly one of the adapter's rates runs at it, without a word; one between two
// runs at the slower.
TEST(CablePortTest, FtdiTckAtADivisorRateRunsAtIt) {
  for (const auto& [text, granted] : {std::pair{"30M", 30000000u}, {"15M", 15000000u}, {"6M", 6000000u},
                                      {"14M", 10000000u}}) {
    SCOPED_TRACE(text);
    auto port = openCableLink("ftdi:sim", tckPeriodOfRate(*readTckRate(text)));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(port->grantAccess());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(static_cast<FtdiLink&>(*port).tckHz(), granted);
    EXPECT_EQ(said.find("runs TCK with a period") == std::string::npos, granted != 10000000u) << said;
  }
}

// The CMSIS-DAP texts: any probe, or one by USB id and serial; after sim the modelled probe's
// options are taken out of the board's, and the job reads the chip's ID through them.
TEST(CablePortTest, CmsisDapTextsPickAProbeOrTheModel) {
  const CmsisDapCableText any = parseCmsisDapCable("cmsis-dap");
  EXPECT_FALSE(any.usb.vendor || any.usb.product || any.simulated);
  const CmsisDapCableText chosen = parseCmsisDapCable("cmsis-dap:2E8A:000c:E6614C311B4A8E2B");
  EXPECT_EQ(chosen.usb.vendor, 0x2e8a);
  EXPECT_EQ(chosen.usb.product, 0x000c);
  EXPECT_EQ(chosen.usb.serial, "E6614C311B4A8E2B");
  const CmsisDapCableText modelled = parseCmsisDapCable("cmsis-dap:sim:chip=IKA,dappacket=512,nand=none,dapcount=1,dapnotrst");
  EXPECT_TRUE(modelled.simulated);
  EXPECT_EQ(modelled.boardOptions, "chip=IKA,nand=none");
  EXPECT_EQ(modelled.probe.packetSize, 512);
  EXPECT_EQ(modelled.probe.packetCount, 1);
  EXPECT_FALSE(modelled.probe.trstWired);
  EXPECT_TRUE(cableSetsTck("cmsis-dap"));
  for (const char* text : {"cmsis-dap:", "cmsis-dap:2e8a", "cmsis-dap:2e8a:000c0", "cmsis-dap:xyz:000c",
                           "cmsis-dap:2e8a:000c:", "cmsis-dap:sim:dapcount=0", "cmsis-dap:sim:dappacket=3",
                           "cmsis-dap,x", "cmsis-dapx"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(openCableLink(text), std::invalid_argument);
  }

  auto port = openCableLink("cmsis-dap:sim:chip=IKA,dappacket=512");
  ASSERT_NE(dynamic_cast<CmsisDapLink*>(port.get()), nullptr);
  RecordingPage page;
  ExtraSettings settings;
  settings.product = Ika;
  settings.extraMode = ReadJtagId;
  runExtraJob(page, *port, settings);
  EXPECT_NE(page.log.find("JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)"), std::string::npos) << page.log;
  // The job let the probe go at its end; opened again, it takes the probe's packet size.
  EXPECT_EQ(static_cast<CmsisDapLink&>(*port).packetSize(), 0u);
  ASSERT_TRUE(port->grantAccess());
  EXPECT_EQ(static_cast<CmsisDapLink&>(*port).packetSize(), 512u);
}

}  // namespace
}  // namespace zorv
