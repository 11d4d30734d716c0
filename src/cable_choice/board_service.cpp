#include "cable_choice/board_service.h"

#include <csignal>
#include <memory>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

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

#ifdef _WIN32
// Ctrl-C, Ctrl-Break and closing the console end the server as the signals do elsewhere; the
// handler runs on a thread of its own, and stop() is safe from any thread.
BOOL WINAPI stopServerOnConsoleEvent(DWORD) {
  stopServer(SIGINT);
  return TRUE;
}
#endif

template <typename Server>
void runServer(Server& server, Server*& running, const sim::Board& board, const BoardServeSettings& settings,
               const std::function<void(const std::string&, uint16_t)>& listening) {
  server.listen(settings.tcpPort);
  listening(board.chip().name, server.port());

  running = &server;
#ifdef _WIN32
  SetConsoleCtrlHandler(stopServerOnConsoleEvent, TRUE);
  server.serve();
  SetConsoleCtrlHandler(stopServerOnConsoleEvent, FALSE);
#else
  struct sigaction action {};
  action.sa_handler = stopServer;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  server.serve();
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
#endif
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
