#include <cstdint>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "cable_choice/board_service.h"
#include "cli/cli_app.h"

namespace zorv::cli {
namespace {

struct ServeOptions {
  uint16_t tcpPort = 0;
  std::string protocol = "remote_bitbang";
  size_t xvcMaxBytes = 32768;
  std::string options;
};

int serveBoard(const ServeOptions& options) {
  BoardServeSettings settings;
  settings.tcpPort = options.tcpPort;
  settings.protocol = options.protocol == "xvc" ? BoardProtocol::Xvc : BoardProtocol::RemoteBitbang;
  settings.xvcMaxBytes = options.xvcMaxBytes;
  settings.options = options.options;
  const char* protocolNote = settings.protocol == BoardProtocol::Xvc ? " (XVC)" : "";
  try {
    serveVirtualBoard(settings, [protocolNote](const std::string& chipName, uint16_t port) {
      // Scripts and tests read the port from this line (it matters with --port 0).
      std::cout << "sim-serve: " << chipName << " board on 127.0.0.1:" << port << protocolNote << std::endl;
    });
  } catch (const std::invalid_argument& error) {
    std::cerr << "sim-serve: " << error.what() << "\n";
    return ExitUsage;
  } catch (const std::runtime_error& error) {
    std::cerr << "sim-serve: " << error.what() << "\n";
    return ExitJobFailed;
  }
  return ExitSuccess;
}

}  // namespace

void addSimServeCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("sim-serve", "Serve a virtual board over remote_bitbang or XVC on 127.0.0.1");
  auto settings = std::make_shared<ServeOptions>();
  command->add_option("--port", settings->tcpPort, "TCP port (0 picks a free one and prints it)")
      ->type_name("PORT")
      ->required();
  command->add_option("--protocol", settings->protocol, "remote_bitbang (default) or xvc")
      ->type_name("remote_bitbang|xvc")
      ->check(CLI::IsMember({"remote_bitbang", "xvc"}).description(""));
  command->add_option("--xvc-max-bytes", settings->xvcMaxBytes,
                      "the longest XVC vector the server takes, in bytes (2 to 16777216)")
      ->type_name("BYTES")
      ->default_str("32768")
      ->check(CLI::Range(size_t{2}, size_t{1} << 24).description(""));
  command->add_option("options", settings->options, "board options, as after --cable sim: (e.g. chip=TQR2400)")
      ->type_name("OPTIONS");
  command->callback([&context, settings] { context.exitStatus = serveBoard(*settings); });
}

}  // namespace zorv::cli
