#include "cli/cli_app.h"

#include <iostream>
#include <optional>
#include <stdexcept>

#include "cable_choice/cable_port.h"
#include "targets/catalogue.h"
#include "zorvjtag_version.h"

namespace zorv::cli {

std::unique_ptr<PortIo> CliContext::openPort() {
  if (tckHz != 0 && !cableSetsTck(cableSpec)) {
    std::cerr << "--tck: the cable '" << cableSpec << "' has no TCK setting (only xvc:HOST:PORT has)\n";
    exitStatus = ExitUsage;
    return nullptr;
  }
  try {
    return openCablePort(cableSpec, tckHz == 0 ? 0 : tckPeriodOfRate(tckHz));
  } catch (const std::exception& error) {
    std::cerr << "--cable: " << error.what() << "\n";
    exitStatus = ExitUsage;
    return nullptr;
  }
}

int parseProduct(const std::string& text) {
  if (const std::optional<TargetProduct> product = productFromName(text)) return *product;
  throw CLI::ValidationError("--product", "'" + text + "' is not " + productNamesText());
}

CLI::Option* addProductOption(CLI::App& command, std::string& product) {
  return command.add_option("--product", product, productNamesText())->required();
}

std::string detectsItsFlashText() {
  std::string text;
  for (int p = 0; p < kProductCount; ++p) {
    if (norAbilities(p).findsByDeviceCode) text += std::string("; ") + chipDescriptor(static_cast<TargetProduct>(p)).name + " detects its flash";
  }
  return text;
}

int runCommandLine(int argc, char** argv) {
  CLI::App app{"zorvjtag: writes NAND and NOR flash on ZORV boards by JTAG boundary scan"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "zorvjtag " ZORVJTAG_VERSION, "Print the program's name and version and exit");
  CliContext context;
  app.add_option("--cable", context.cableSpec,
                 "lpt (default), ppdev[:/dev/parportN], remote:HOST:PORT, xvc:HOST:PORT or sim[:OPTIONS]");
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
