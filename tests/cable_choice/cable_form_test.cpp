#include "cable_choice/cable_form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cable_choice/cable_port.h"

namespace zorv {
namespace {

using Values = std::vector<std::string>;

// The window's cable dialog shows a cable text as its kind's fields and builds the text back from
// them: nothing may be lost or moved on the way.
TEST(CableFormTest, ACableTextComesApartIntoItsKindsFieldsAndBackWhole) {
  for (const char* text : {"lpt", "lpt:0xD010", "ppdev", "ppdev:/dev/parport2", "remote:127.0.0.1:44853",
                           "remote:[::1]:1", "xvc:host:2542", "ftdi", "ftdi,layout=tigard,channel=A:0403:6010:FT1234",
                           "ftdi:0403:6014", "ftdi,channel=B", "ftdi:sim:chip=IKA", "sim", "sim:chip=TQR2400,noport"}) {
    SCOPED_TRACE(text);
    const CableKind* kind = findCableKind(text);
    ASSERT_NE(kind, nullptr);
    const Values values = cableFieldValues(*kind, text);
    EXPECT_EQ(values.size(), cableFormFields(*kind).size());
    EXPECT_EQ(composeCableText(*kind, values), text);
  }
  EXPECT_EQ(cableFieldValues(*findCableKind("remote"), "remote:[::1]:4444"), (Values{"[::1]", "4444"}));
  EXPECT_EQ(cableFieldValues(*findCableKind("ftdi"), "ftdi,channel=B,layout=tigard:0403:6010:FT1"),
            (Values{"tigard", "B", "0403:6010", "FT1"}));
  EXPECT_EQ(cableFieldValues(*findCableKind("ftdi"), "ftdi"), (Values{"", "", "", ""}));
}

TEST(CableFormTest, FieldsLeftEmptyAreLeftOutOfTheText) {
  const CableKind& ftdi = *findCableKind("ftdi");
  EXPECT_EQ(composeCableText(ftdi, {"", "", "0403:6014", ""}), "ftdi:0403:6014");
  EXPECT_EQ(composeCableText(ftdi, {"tigard", "", "", ""}), "ftdi,layout=tigard");
  EXPECT_EQ(composeCableText(*findCableKind("lpt"), {""}), "lpt");
  EXPECT_EQ(composeCableText(*findCableKind("remote"), {" 10.0.0.2 ", "3335"}), "remote:10.0.0.2:3335");
  // A missing part in the middle stays missing, so that opening the text names it.
  EXPECT_EQ(composeCableText(*findCableKind("xvc"), {"", "2542"}), "xvc::2542");
}

// A kind that names no fields of its own (a new row of the table) gets one for all after its name.
TEST(CableFormTest, AKindWithoutFieldsGetsOneForAllAfterItsName) {
  const CableKind dap{.name = "dap", .syntax = "dap[:VID:PID]", .help = "a probe", .setsTck = true,
                      .takesOptions = true, .opensAtChoice = true, .open = nullptr};
  ASSERT_EQ(cableFormFields(dap).size(), 1u);
  EXPECT_EQ(cableFieldValues(dap, "dap:c251:f002"), Values{"c251:f002"});
  EXPECT_EQ(composeCableText(dap, {"c251:f002"}), "dap:c251:f002");
  EXPECT_EQ(cableFieldValues(dap, "dap,speed=1:c251"), Values{",speed=1:c251"});
  EXPECT_EQ(composeCableText(dap, {",speed=1:c251"}), "dap,speed=1:c251");
  EXPECT_EQ(composeCableText(dap, {""}), "dap");
}

}  // namespace
}  // namespace zorv
