#include <csignal>
#include <cstdint>
#include <iostream>
#include <stdexcept>

#include "cli/cli_app.h"
#include "sim/board.h"
#include "sim/remote_bitbang_server.h"

namespace zorv::cli {
namespace {

sim::RemoteBitbangServer* runningServer = nullptr;

extern "C" void stopServer(int) {
  if (runningServer != nullptr) runningServer->stop();
}

int serveBoard(uint16_t tcpPort, const std::string& options) {
  std::unique_ptr<sim::Board> board;
  try {
    board = sim::makeBoard(options);
  } catch (const std::invalid_argument& error) {
    std::cerr << "sim-serve: " << error.what() << "\n";
    return ExitUsage;
  }
  sim::RemoteBitbangServer server(*board);
  try {
    server.listen(tcpPort);
  } catch (const std::runtime_error& error) {
    std::cerr << "sim-serve: " << error.what() << "\n";
    return ExitJobFailed;
  }
  // Scripts and tests read the port from this line (it matters with --port 0).
  std::cout << "sim-serve: " << board->chip().name << " board on 127.0.0.1:" << server.port() << std::endl;

  runningServer = &server;
  struct sigaction action {};
  action.sa_handler = stopServer;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  server.serve();
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  runningServer = nullptr;
  return ExitSuccess;
}

}  // namespace

void addSimServeCommand(CLI::App& app, CliContext& context) {
  auto* command = app.add_subcommand("sim-serve", "serve a virtual board over remote_bitbang on 127.0.0.1");
  auto port = std::make_shared<uint16_t>(0);
  auto options = std::make_shared<std::string>();
  command->add_option("--port", *port, "TCP port (0 picks a free one and prints it)")->required();
  command->add_option("options", *options, "board options, as after --cable sim: (e.g. chip=TQR2400)");
  command->callback([&context, port, options] { context.exitStatus = serveBoard(*port, *options); });
}

}  // namespace zorv::cli
