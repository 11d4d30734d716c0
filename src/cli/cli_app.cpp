#include "cli/cli_app.h"

#include <algorithm>
#include <iostream>
#include <numeric>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "cable_choice/cable_port.h"
#include "cable_choice/tck_rate.h"
#include "targets/catalogue.h"
#include "text/upper_case.h"
#include "zorvjtag_version.h"

namespace zorv::cli {

std::unique_ptr<JtagLink> CliContext::openPort() {
  if (tckHz != 0 && !cableSetsTck(cableSpec)) {
    std::cerr << "--tck: the cable '" << cableSpec << "' has no TCK setting (only " << tckCableSyntaxes() << " has)\n";
    exitStatus = ExitUsage;
    return nullptr;
  }
  try {
    return openCableLink(cableSpec, tckHz == 0 ? 0 : tckPeriodOfRate(tckHz));
  } catch (const std::exception& error) {
    std::cerr << "--cable: " << error.what() << "\n";
    exitStatus = ExitUsage;
    return nullptr;
  }
}

int parseProduct(const std::string& text) {
  const std::string name = upperCase(text);
  for (int p = 0; p < kProductCount; ++p) {
    if (name == chipDescriptor(static_cast<TargetProduct>(p)).name) return p;
  }
  throw CLI::ValidationError("--product", "'" + text + "' is not OBRIN, TQR2400, IKA or VESKAR");
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
    if (arg == "--cable" || arg == "--tck") {
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
  CLI::App app{"zorvjtag: writes NAND and NOR flash on ZORV boards by JTAG boundary scan"};
  app.require_subcommand(1);
  app.set_version_flag("-V,--version", "zorvjtag " ZORVJTAG_VERSION, "Print the program's name and version and exit");
  CliContext context;
  app.add_option("--cable", context.cableSpec, cableSyntaxList());
  app.add_option("--tck", context.tckHz,
                 "TCK rate in Hz (k or M after it for kHz, MHz) to ask of an xvc: cable (default: the server's own)")
      ->transform(CLI::Validator(
          [](std::string& text) -> std::string {
            const std::optional<uint64_t> hz = readTckRate(text);
            if (!hz) return "'" + text + "' is not a rate from 1 Hz to 1000M";
            text = std::to_string(*hz);
            return {};
          },
          "HZ"));
  addExtraCommands(app, context);
  addNandCommand(app, context);
  addNorCommand(app, context);
  addReadCommands(app, context);
  addSimServeCommand(app, context);
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
