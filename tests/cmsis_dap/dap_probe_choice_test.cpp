#include "cmsis_dap/dap_probe_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorv {
namespace {

const DapProbeFound kPiProbe{0x2e8a, 0x000c, "Debugprobe on Pico (CMSIS-DAP)", "E6614C311B4A8E2B", 2};
const DapProbeFound kDapLink{0x0d28, 0x0204, "DAPLink CMSIS-DAP", "0240000032044e45", 1};

// One probe is taken as it is; of several, the one the text names; a choice the text does not make
// lists the texts that would, and probes no serial tells apart are refused, never guessed.
TEST(DapProbeChoice, SeveralProbesNeedTheTextToNameOne) {
  std::string cause;
  EXPECT_EQ(chooseDapProbe({kPiProbe}, {}, cause), 0);
  EXPECT_EQ(chooseDapProbe({kPiProbe, kDapLink}, {}, cause), -1);
  EXPECT_EQ(cause,
            "2 CMSIS-DAP probes found; name one: cmsis-dap:2e8a:000c for 2e8a:000c \"Debugprobe on Pico (CMSIS-DAP)\" "
            "serial E6614C311B4A8E2B (v2), cmsis-dap:0d28:0204 for 0d28:0204 \"DAPLink CMSIS-DAP\" serial "
            "0240000032044e45 (v1)");
  EXPECT_EQ(chooseDapProbe({kPiProbe, kDapLink}, {0x0d28, 0x0204, ""}, cause), 1);
  DapProbeFound second = kPiProbe;
  second.serial = "E6614C311B4A0001";
  EXPECT_EQ(chooseDapProbe({kPiProbe, second}, {0x2e8a, 0x000c, "E6614C311B4A0001"}, cause), 1);
  EXPECT_EQ(chooseDapProbe({kPiProbe, second, kDapLink}, {}, cause), -1);
  EXPECT_NE(cause.find("cmsis-dap:2e8a:000c:E6614C311B4A0001 for"), std::string::npos) << cause;
  EXPECT_NE(cause.find("cmsis-dap:0d28:0204 for"), std::string::npos) << cause;
  EXPECT_EQ(chooseDapProbe({kPiProbe, second}, {0x2e8a, 0x000c, "E66"}, cause), -1);
  EXPECT_EQ(cause.rfind("no CMSIS-DAP probe 2e8a:000c with serial E66 found; found: 2e8a:000c", 0), 0u) << cause;

  DapProbeFound clone{0xc251, 0xf001, "CMSIS-DAP", "", 1};
  DapProbeFound withSerial = clone;
  withSerial.serial = "1";
  EXPECT_EQ(chooseDapProbe({kPiProbe, clone, withSerial}, {}, cause), -1);
  EXPECT_EQ(cause,
            "2 CMSIS-DAP probes c251:f001 found that no serial number tells apart (c251:f001 \"CMSIS-DAP\" (v1), "
            "c251:f001 \"CMSIS-DAP\" serial 1 (v1)): unplug all but one");
  EXPECT_EQ(chooseDapProbe({}, {}, cause), -1);
  EXPECT_EQ(cause, "no CMSIS-DAP probe found; no USB interface names CMSIS-DAP");
}

}  // namespace
}  // namespace zorv
