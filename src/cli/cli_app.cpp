#include "cli/cli_app.h"

#include <iostream>
#include <stdexcept>

#include "cable_choice/cable_port.h"
#include "cable_choice/ftdi_cable.h"
#include "targets/catalogue.h"
#include "text/upper_case.h"
#include "zorvjtag_version.h"

namespace zorv::cli {

std::unique_ptr<PortIo> CliContext::openPort() {
  if (tckHz != 0 && !cableSetsTck(cableSpec)) {
    std::cerr << "--tck: the cable '" << cableSpec << "' has no TCK setting (only xvc:HOST:PORT and ftdi have)\n";
    exitStatus = ExitUsage;
    return nullptr;
  }
  try {
    std::unique_ptr<PortIo> port = openCablePort(cableSpec, tckHz == 0 ? 0 : tckPeriodOfRate(tckHz));
    // A USB adapter that cannot be opened says why before any job starts.
    if (isFtdiCable(cableSpec) && port->grantAccess() && !port->linkFailure().empty()) {
      std::cerr << "ftdi: " << port->linkFailure() << "\n";
      exitStatus = ExitJobFailed;
      return nullptr;
    }
    return port;
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
  app.add_option("--cable", context.cableSpec,
                 "lpt (default), ppdev[:/dev/parportN], remote:HOST:PORT, xvc:HOST:PORT, ftdi[:VID:PID[:SERIAL]] or "
                 "sim[:OPTIONS]");
  app.add_option("--tck", context.tckHz, "TCK rate in Hz to ask of an xvc: or ftdi cable (default: the XVC server's own; "
                 "6 MHz on FTDI adapters)")
      ->check(CLI::Range(kMinTckHz, kMaxTckHz));
  addExtraCommands(app, context);
  addNandCommand(app, context);
  addNorCommand(app, context);
  addReadCommands(app, context);
  addSimServeCommand(app, context);
  // After the subcommands, so that only the program's own help carries it.
  app.footer("FTDI adapters (FT2232H, FT232H, FT4232H, FT2232D in MPSSE mode), as --cable:\n"
             "    ftdi[,layout=NAME][,channel=A|B|C|D][:VID:PID[:SERIAL]]\n"
             "    Without VID:PID the layout's own USB ids are looked for; without channel, the layout's.\n"
             "    Layouts: " + ftdiLayoutNames() + " (ft2232h, the default: ADBUS0 TCK, 1 TDI, 2 TDO, 3 TMS).\n"
             "    ftdi[,layout=NAME]:sim[:OPTIONS] plays the virtual board through a modelled FT2232H.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? ExitSuccess : ExitUsage;
  }
  return context.exitStatus;
}

}  // namespace zorv::cli
