#include "cli/cli_app.h"

#include <iostream>
#include <stdexcept>

#include "cable_choice/cable_port.h"
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

int runCommandLine(int argc, char** argv) {
  CLI::App app{"zorvjtag: writes NAND and NOR flash on ZORV boards by JTAG boundary scan"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "zorvjtag " ZORVJTAG_VERSION, "Print the program's name and version and exit");
  CliContext context;
  app.add_option("--cable", context.cableSpec, cableSyntaxList());
  app.add_option("--tck", context.tckHz, "TCK rate in Hz to ask of an xvc: cable (default: the server's own)")
      ->check(CLI::Range(kMinTckHz, kMaxTckHz));
  addExtraCommands(app, context);
  addNandCommand(app, context);
  addNorCommand(app, context);
  addReadCommands(app, context);
  addSimServeCommand(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? ExitSuccess : ExitUsage;
  }
  return context.exitStatus;
}

}  // namespace zorv::cli
