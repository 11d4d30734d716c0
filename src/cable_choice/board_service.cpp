#include "cable_choice/board_service.h"

#include <csignal>
#include <memory>

#include "sim/board.h"
#include "sim/remote_bitbang_server.h"
#include "sim/xvc_server.h"

namespace zorv {
namespace {

// The server that SIGINT and SIGTERM end.
sim::RemoteBitbangServer* bitbangServer = nullptr;
sim::XvcServer* xvcServer = nullptr;

extern "C" void stopServer(int) {
  if (bitbangServer != nullptr) bitbangServer->stop();
  if (xvcServer != nullptr) xvcServer->stop();
}

template <typename Server>
void runServer(Server& server, Server*& running, const sim::Board& board, const BoardServeSettings& settings,
               const std::function<void(const std::string&, uint16_t)>& listening) {
  server.listen(settings.tcpPort);
  listening(board.chip().name, server.port());

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
}

}  // namespace

void serveVirtualBoard(const BoardServeSettings& settings,
                       const std::function<void(const std::string& chipName, uint16_t port)>& listening) {
  const std::unique_ptr<sim::Board> board = sim::makeBoard(settings.options);
  if (settings.protocol == BoardProtocol::Xvc) {
    sim::XvcServer server(*board, settings.xvcMaxBytes);
    runServer(server, xvcServer, *board, settings, listening);
    return;
  }
  sim::RemoteBitbangServer server(*board);
  runServer(server, bitbangServer, *board, settings, listening);
}

}  // namespace zorv
