#include <csignal>
#include <cstdint>
#include <iostream>
#include <stdexcept>

#include "cli/cli_app.h"
#include "sim/board.h"
#include "sim/remote_bitbang_server.h"
#include "sim/xvc_server.h"

namespace zorv::cli {
namespace {

// The server that SIGINT and SIGTERM end.
sim::RemoteBitbangServer* bitbangServer = nullptr;
sim::XvcServer* xvcServer = nullptr;

extern "C" void stopServer(int) {
  if (bitbangServer != nullptr) bitbangServer->stop();
  if (xvcServer != nullptr) xvcServer->stop();
}

struct ServeSettings {
  uint16_t tcpPort = 0;
  std::string protocol = "remote_bitbang";
  size_t xvcMaxBytes = 32768;
  std::string options;
};

template <typename Server>
int runServer(Server& server, Server*& running, const sim::Board& board, const ServeSettings& settings,
              const char* protocolNote) {
  try {
    server.listen(settings.tcpPort);
  } catch (const std::runtime_error& error) {
    std::cerr << "sim-serve: " << error.what() << "\n";
    return ExitJobFailed;
  }
  // Scripts and tests read the port from this line (it matters with --port 0).
  std::cout << "sim-serve: " << board.chip().name << " board on 127.0.0.1:" << server.port() << protocolNote
            << std::endl;

  running = &server;
  struct sigaction action {};
  action.sa_handler = stopServer;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  server.serve();
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  running = nullptr;
  return ExitSuccess;
}

int serveBoard(const ServeSettings& settings) {
  std::unique_ptr<sim::Board> board;
  try {
    board = sim::makeBoard(settings.options);
  } catch (const std::invalid_argument& error) {
    std::cerr << "sim-serve: " << error.what() << "\n";
    return ExitUsage;
  }
  if (settings.protocol == "xvc") {
    sim::XvcServer server(*board, settings.xvcMaxBytes);
    return runServer(server, xvcServer, *board, settings, " (XVC)");
  }
  sim::RemoteBitbangServer server(*board);
  return runServer(server, bitbangServer, *board, settings, "");
}

}  // namespace

void addSimServeCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("sim-serve", "serve a virtual board over remote_bitbang or XVC on 127.0.0.1");
  auto settings = std::make_shared<ServeSettings>();
  command->add_option("--port", settings->tcpPort, "TCP port (0 picks a free one and prints it)")->required();
  command->add_option("--protocol", settings->protocol, "remote_bitbang (default) or xvc")
      ->check(CLI::IsMember({"remote_bitbang", "xvc"}));
  command->add_option("--xvc-max-bytes", settings->xvcMaxBytes, "the longest XVC vector the server takes, in bytes")
      ->default_str("32768")
      ->check(CLI::Range(size_t{2}, size_t{1} << 24));
  command->add_option("options", settings->options, "board options, as after --cable sim: (e.g. chip=TQR2400)");
  command->callback([&context, settings] { context.exitStatus = serveBoard(*settings); });
}

}  // namespace zorv::cli
