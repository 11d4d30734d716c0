#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zorv {

// The virtual board served to other programs over TCP on 127.0.0.1 (sim-serve).
enum class BoardProtocol { RemoteBitbang, Xvc };

struct BoardServeSettings {
  uint16_t tcpPort = 0;  // 0 picks a free port
  BoardProtocol protocol = BoardProtocol::RemoteBitbang;
  size_t xvcMaxBytes = 32768;
  std::string options;  // board options, as after --cable sim:
};

// Builds the board the options name (std::invalid_argument for options it cannot use), listens
// (std::runtime_error when it cannot), tells listening the board's chip name and the port bound,
// then serves clients one after another until SIGINT or SIGTERM.
void serveVirtualBoard(const BoardServeSettings& settings,
                       const std::function<void(const std::string& chipName, uint16_t port)>& listening);

}  // namespace zorv
