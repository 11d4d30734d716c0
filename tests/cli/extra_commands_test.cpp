#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cli/run_zorvjtag.h"

namespace {

using zorv::testing::Outcome;
using zorv::testing::runZorvjtag;

TEST(ExtraCommands, IdcodeOnTheVirtualBoard) {
  const Outcome ok = runZorvjtag({"--cable", "sim", "idcode", "--product", "OBRIN"});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.out, "[READ JTAG ID]\n  JTAG ID: Ver(0x0), Part(0x00AE), Maker(0xCAD)\n\n");

  const Outcome wrongChip = runZorvjtag({"--cable", "sim:chip=TQR2400", "idcode", "--product", "obrin"});
  EXPECT_EQ(wrongChip.status, 1);
  EXPECT_EQ(wrongChip.err, "Cannot read JTAG ID\n");
  EXPECT_EQ(wrongChip.out,
            "[READ JTAG ID]\n  JTAG ID: read 0xE1E1E1E0, expected 0x00AECADD (mask 0x0FFFFFFF)\n\n");
}

// The box names the parallel port whatever the cable; the line before it says what really failed.
TEST(ExtraCommands, ACableThatCannotBeReachedNamesItsCauseBeforeTheBox) {
  for (const char* cable : {"remote:127.0.0.1:1", "xvc:127.0.0.1:1"}) {
    const Outcome refused = runZorvjtag({"--cable", cable, "idcode", "--product", "OBRIN"});
    EXPECT_EQ(refused.status, 1) << cable;
    EXPECT_EQ(refused.out, "[READ JTAG ID]\n  Cable: cannot connect to 127.0.0.1:1 (Connection refused)\n\n") << cable;
    EXPECT_EQ(refused.err, "Cannot get LPT Base.\n") << cable;
  }
  // A USB adapter that cannot be opened says why before any job starts.
  const Outcome usb = runZorvjtag({"--cable", "ftdi:0403:6010:NO-SUCH-SERIAL", "idcode", "--product", "OBRIN"});
  EXPECT_EQ(usb.status, 1);
  EXPECT_EQ(usb.out, "");
  EXPECT_EQ(usb.err.rfind("ftdi: ", 0), 0u) << usb.err;
#if defined(__linux__)  // the parport device is Linux only
  const Outcome missing = runZorvjtag({"--cable", "ppdev:/nonexistent/parport0", "idcode", "--product", "OBRIN"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out.find("  Cable: /nonexistent/parport0: No such file or directory\n"), 0u) << missing.out;
  EXPECT_EQ(missing.err, "Couldn't access giveio device\nCannot get LPT Base.\n");
#endif
}

TEST(ExtraCommands, BadUsageIsStatus2) {
  EXPECT_EQ(runZorvjtag({"--cable", "sim", "idcode", "--product", "Z80"}).status, 2);
  EXPECT_EQ(runZorvjtag({"--cable", "sim", "toggle"}).status, 2);
  EXPECT_EQ(runZorvjtag({"--cable", "sim:frobnicate", "idcode", "--product", "IKA"}).status, 2);
}

TEST(ExtraCommands, CommandLineHabits) {
  const Outcome version = runZorvjtag({"-V"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("zorvjtag ", 0), 0u) << version.out;
  const Outcome after = runZorvjtag({"idcode", "--product", "OBRIN", "--cable", "sim"});
  EXPECT_EQ(after.status, 0) << after.err;
  // --tck after the subcommand, with a suffix, reaches the cable check.
  const Outcome tck = runZorvjtag({"idcode", "--product", "OBRIN", "--cable", "sim", "--tck", "6M"});
  EXPECT_EQ(tck.status, 2);
  EXPECT_NE(tck.err.find("--tck: the cable 'sim' has no TCK setting"), std::string::npos) << tck.err;
  const Outcome typo = runZorvjtag({"--cable", "sim", "idcod", "--product", "OBRIN"});
  EXPECT_EQ(typo.status, 2);
  EXPECT_NE(typo.err.find("did you mean 'idcode'?"), std::string::npos) << typo.err;
  // The values of the global options are not the word looked for.
  const Outcome afterValues = runZorvjtag({"--tck", "6M", "--chain", "8,target", "idcod", "--product", "OBRIN"});
  EXPECT_NE(afterValues.err.find("'idcod' is not a subcommand; did you mean 'idcode'?"), std::string::npos)
      << afterValues.err;
}

TEST(ExtraCommands, ToggleRunsUntilTerminatedThenStopsCleanly) {
  const Outcome run = runZorvjtag({"--cable", "sim:chip=VESKAR", "toggle", "--product", "VESKAR", "--toggle-cs"},
                                  "Start toggling ... ");
  EXPECT_EQ(run.status, 130) << run.err;
  EXPECT_EQ(run.out,
            "[Toggling All Boundary]\n  JTAG ID: Ver(0x0), Part(0x0022), Maker(0xB5E)\n"
            "  Start toggling ... STOP.\n\n");
  EXPECT_EQ(run.err, "");
}

// Help names the program as the user types it and says what each value is, not how the parser
// stores it.
TEST(ExtraCommands, HelpShowsTheProgramNameAndWhatEachValueIs) {
  std::string all;
  for (const char* command : {"", "idcode", "toggle", "nand", "nor", "nand-read", "nand-verify", "nand-erase", "nand-bad",
                              "nor-read", "nor-verify", "nor-erase", "sim-serve"}) {
    std::vector<std::string> args{"--help"};
    if (*command != 0) args.insert(args.begin(), command);
    const Outcome help = runZorvjtag(args);
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find(std::string("Usage: zorvjtag ") + (*command != 0 ? std::string(command) + " " : "")),
              std::string::npos)
        << help.out;
    all += help.out;
  }
  EXPECT_FALSE(std::regex_search(all, std::regex(R"((^|[ :])(TEXT|UINT|INT|NUMBER|FLOAT)\b)"))) << all;
  for (const char* placeholder : {"--cable CABLE", "--tck HZ", "--product PRODUCT", "--base ADDRESS", "--size SIZE",
                                  "--width 8|16", "IMAGE FILE", "OUT FILE", "--port PORT"}) {
    EXPECT_NE(all.find(placeholder), std::string::npos) << placeholder;
  }
  EXPECT_NE(runZorvjtag({"nand-read", "--help"}).out.find("--block BLOCK "), std::string::npos);
  EXPECT_NE(runZorvjtag({"nor-read", "--help"}).out.find("--block SECTOR "), std::string::npos);
}

}  // namespace

namespace {

TEST(ChainCommand, ListsTheDevicesAndChecksADescription) {
  const char* board = "sim:chip=IKA,chain=8:target:5/0x06413041";
  const Outcome listed = runZorvjtag({"--cable", board, "chain", "--bsdl-dir", "."});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out,
            "[JTAG Chain]\n"
            "  Devices: 3, nearest TDO first; instruction registers: 17 bits\n"
            "  1: no IDCODE\n"
            "  2: IDCODE 0x100015B9  TQR2400 or IKA\n"
            "  3: IDCODE 0x06413041\n\n");

  const Outcome checked = runZorvjtag({"--cable", board, "--chain", "8,target,5:0x06413043", "chain", "--product", "IKA"});
  EXPECT_EQ(checked.status, 1);
  EXPECT_NE(checked.out.find("  Chain: device 3 (5:0x06413043) answers IDCODE 0x06413041, expected 0x06413043"),
            std::string::npos)
      << checked.out;
  EXPECT_EQ(checked.err, "The JTAG chain is not the one given\n");

  const Outcome badText = runZorvjtag({"--cable", board, "idcode", "--product", "IKA", "--chain", "8,target,1"});
  EXPECT_EQ(badText.status, 2);
  EXPECT_NE(badText.err.find("--chain: item 3 ('1'): an instruction length is 2 to 64 bits"), std::string::npos)
      << badText.err;
  EXPECT_EQ(badText.out, "") << "nothing runs";
}

}  // namespace
