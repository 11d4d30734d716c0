#include <iostream>
#include <memory>
#include <stdexcept>

#include "bsdl/bsdl_device.h"
#include "bsdl/bsdl_summary.h"
#include "cli/cli_app.h"

namespace zorv::cli {
namespace {

struct BsdlOptions {
  std::string path;
  std::string port;
};

// A file that cannot be read, or a port it does not have, fails the job (status 1) with the reason
// on standard error; nothing touches a cable.
void runBsdl(CliContext& context, const BsdlOptions& options) {
  try {
    const BsdlDevice device = readBsdlFile(options.path);
    std::cout << (options.port.empty() ? bsdlSummary(device) : portSummary(device, options.port));
  } catch (const BsdlError& error) {
    std::cerr << error.what() << "\n";
    context.exitStatus = ExitJobFailed;
  } catch (const std::invalid_argument& error) {
    std::cerr << options.path << ": " << error.what() << "\n";
    context.exitStatus = ExitJobFailed;
  }
}

}  // namespace

void addBsdlCommand(CLI::App& app, CliContext& context) {
  auto options = std::make_shared<BsdlOptions>();
  CLI::App* command = app.add_subcommand("bsdl", "Read a device's BSDL file and print what the program takes from it");
  command->add_option("FILE", options->path, "the BSDL file")->required();
  command->add_option("--port", options->port, "print one port's cells instead, e.g. D(3)");
  command->callback([&context, options] { runBsdl(context, *options); });
}

}  // namespace zorv::cli
