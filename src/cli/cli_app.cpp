#include "cli/cli_app.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "cable_choice/cable_port.h"
#include "cable_choice/ftdi_cable.h"
#include "board/board_lookup.h"
#include "cable_choice/tck_rate.h"
#include "cli/number_option.h"
#include "targets/catalogue.h"
#include "zorvjtag_version.h"

namespace zorv::cli {

std::unique_ptr<JtagLink> CliContext::openPort() {
  if (tckHz != 0 && !cableSetsTck(cableSpec)) {
    std::cerr << "--tck: the cable '" << cableSpec << "' has no TCK setting (only " << tckCableSyntaxes() << " have)\n";
    exitStatus = ExitUsage;
    return nullptr;
  }
  try {
    std::unique_ptr<JtagLink> link = openCableLink(cableSpec, tckHz == 0 ? 0 : tckPeriodOfRate(tckHz));
    // A USB adapter that cannot be opened says why before any job starts.
    const CableKind* kind = findCableKind(cableSpec);
    if (kind != nullptr && kind->opensAtChoice && link->grantAccess() && !link->linkFailure().empty()) {
      std::cerr << kind->name << ": " << link->linkFailure() << "\n";
      exitStatus = ExitJobFailed;
      return nullptr;
    }
    return link;
  } catch (const std::exception& error) {
    std::cerr << "--cable: " << error.what() << "\n";
    exitStatus = ExitUsage;
    return nullptr;
  }
}

ChainDescription CliContext::chain() const {
  if (const BoardFile* file = board()) {
    if (!chainText.empty()) throw CLI::ValidationError("--chain", "the board file " + file->path + " gives the chain");
    return file->chain;
  }
  try {
    return parseChainText(chainText);
  } catch (const ChainError& error) {
    throw CLI::ValidationError("--chain", error.what());
  }
}

const BoardFile* CliContext::board() const {
  if (boardPath.empty()) return nullptr;
  if (!board_) {
    try {
      board_ = readBoardFile(boardFilePath(boardPath));
    } catch (const BoardFileError& error) {
      throw CLI::ValidationError("--board", error.what());
    }
  }
  return &*board_;
}

CommandTarget CliContext::target(const std::string& productText) const {
  CommandTarget target;
  const BoardFile* file = board();
  if (!productText.empty()) target.product = parseProduct(productText);
  if (file == nullptr) {
    if (productText.empty()) throw CLI::RequiredError("--product (or --board)");
    return target;
  }
  const int boardProduct = file->product ? static_cast<int>(*file->product) : -1;
  if (!productText.empty() && target.product != boardProduct) {
    throw CLI::ValidationError("--product", "the board file " + file->path + " is built around " + file->chip->name +
                                                ", not " + chipDescriptor(static_cast<TargetProduct>(target.product)).name);
  }
  target.product = boardProduct;
  target.board = file->chip;
  return target;
}

int parseProduct(const std::string& text) {
  if (const std::optional<TargetProduct> product = productFromName(text)) return *product;
  throw CLI::ValidationError("--product", "'" + text + "' is not " + productNamesText());
}

CLI::Option* addProductOption(CLI::App& command, std::string& product) {
  return command.add_option("--product", product, productNamesText() + " (default: the --board file's)")->type_name("PRODUCT");
}

void addNorBusOptions(CLI::App& command, std::string& type, const std::string& typeHelp, int& width, int& interleave,
                      std::string& base) {
  command.add_option("--type", type, typeHelp)->type_name("TYPE");
  command.add_option("--width", width, "bus width, 8 or 16 (default: the type's)")
      ->type_name("8|16")
      ->check(CLI::IsMember({8, 16}).description(""));
  command.add_option("--interleave", interleave, "1, or 2 for two byte-wide devices side by side")
      ->type_name("1|2")
      ->check(CLI::IsMember({1, 2}).description(""));
  command.add_option("--base", base, "base address, hexadecimal (default 0)")
      ->type_name("ADDRESS")
      ->check(numberOption(NumberForm::Hexadecimal));
}

std::string detectsItsFlashText() {
  std::string text;
  for (int p = 0; p < kProductCount; ++p) {
    if (norAbilities(p).findsByDeviceCode) text += std::string("; ") + chipDescriptor(static_cast<TargetProduct>(p)).name + " detects its flash";
  }
  return text;
}

namespace {

// Edits (insertions, deletions, substitutions) between two words.
size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  std::iota(row.begin(), row.end(), size_t{0});
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The word where the subcommand belongs, when it names none: the first word that is neither an
// option nor the value of a global one.
std::string strayCommandWord(const CLI::App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--cable" || arg == "--tck" || arg == "--chain" || arg == "--board") {
      ++i;
      continue;
    }
    if (arg.empty() || arg.front() == '-') continue;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
      if (sub->get_name() == arg) return {};
    return std::string(arg);
  }
  return {};
}

// A mistyped subcommand gets the nearest one offered, as a shell user expects.
void suggestSubcommand(const CLI::App& app, const std::string& word) {
  std::string nearest;
  size_t best = 3;  // more edits than two is another word, not a typo
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    const size_t distance = editDistance(word, sub->get_name());
    if (distance < best) {
      best = distance;
      nearest = sub->get_name();
    }
  }
  std::cerr << "zorvjtag: '" << word << "' is not a subcommand";
  if (!nearest.empty()) std::cerr << "; did you mean '" << nearest << "'?";
  std::cerr << "\n";
}

}  // namespace

int runCommandLine(int argc, char** argv) {
  // Named as the user types it, not by the path it was started from.
  CLI::App app{"zorvjtag: writes NAND and NOR flash on ZORV boards by JTAG boundary scan", "zorvjtag"};
  app.require_subcommand(1);
  app.set_version_flag("-V,--version", "zorvjtag " ZORVJTAG_VERSION, "Print the program's name and version and exit");
  CliContext context;
  app.add_option("--cable", context.cableSpec, cableSyntaxList())->type_name("CABLE");
  app.add_option("--tck", context.tckHz,
                 "TCK rate in Hz (k or M after it for kHz, MHz) to ask of an xvc:, ftdi or cmsis-dap cable (default: the XVC "
                 "server's own; 6 MHz on FTDI adapters; a CMSIS-DAP probe's own)")
      ->transform(CLI::Validator(
          [](std::string& text) -> std::string {
            const std::optional<uint64_t> hz = readTckRate(text);
            if (!hz) return "'" + text + "' is not a rate from 1 Hz to 1000M";
            text = std::to_string(*hz);
            return {};
          },
          ""))
      ->type_name("HZ");
  app.add_option("--chain", context.chainText,
                 "the devices on the JTAG chain, nearest TDO first, comma separated: an instruction length (a device "
                 "kept in BYPASS), LENGTH:0xIDCODE, a BSDL file, or target for the product (default: the product "
                 "alone)")
      ->type_name("LIST");
  app.add_option("--board", context.boardPath,
                 "a board file (TOML): the chain, the target chip (a product or a BSDL file), where its flash "
                 "signals are and the pins held during EXTEST; stands for --product and --chain")
      ->type_name("FILE");
  addExtraCommands(app, context);
  addChainCommand(app, context);
  addNandCommand(app, context);
  addNorCommand(app, context);
  addReadCommands(app, context);
  addSimServeCommand(app, context);
  addBsdlCommand(app, context);
  // After the subcommands, so that only the program's own help carries it.
  app.footer("FTDI adapters (FT2232H, FT232H, FT4232H, FT2232D in MPSSE mode), as --cable:\n"
             "    ftdi[,layout=NAME][,channel=A|B][:VID:PID[:SERIAL]]\n"
             "    Without VID:PID the layout's own USB ids are looked for; without channel, the layout's.\n"
             "    Layouts: " + ftdiLayoutNames() + " (ft2232h, the default: ADBUS0 TCK, 1 TDI, 2 TDO, 3 TMS).\n"
             "    ftdi[,layout=NAME]:sim[:OPTIONS] plays the virtual board through a modelled FT2232H.\n"
             "CMSIS-DAP probes whose firmware offers JTAG (DAPLink boards and others), as --cable:\n"
             "    cmsis-dap[:VID:PID[:SERIAL]]\n"
             "    Without VID:PID any probe whose USB strings name CMSIS-DAP; SERIAL picks one of several.\n"
             "    cmsis-dap:sim[:OPTIONS] plays the virtual board through a modelled v2 probe (dappacket=BYTES,\n"
             "    dapcount=N, dapnotrst among the OPTIONS).");
  // The global options are also taken after the subcommand, where habit puts them.
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) sub->fallthrough();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const std::string stray = strayCommandWord(app, argc, argv);
    if (!stray.empty() && error.get_exit_code() != 0) {
      suggestSubcommand(app, stray);
      std::cerr << "Run with --help for more information.\n";
      return ExitUsage;
    }
    const int code = app.exit(error);
    return code == 0 ? ExitSuccess : ExitUsage;
  }
  return context.exitStatus;
}

}  // namespace zorv::cli
