#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cable/port_io.h"
#include "sim/loopback_listener.h"

namespace zorv::sim {

// Serves a board as a Xilinx Virtual Cable (XVC 1.0) on the loopback interface, one client after
// another; the board outlives every connection. getinfo: announces maxVectorBytes, settck: grants
// any period (the board keeps pace with every rate), shift: plays each bit on the board as the
// parallel cable would (TCK low with TMS and TDI, TCK high, TDO read). A client that sends
// anything else, or a vector longer than announced, loses its connection; the server listens on.
class XvcServer {
 public:
  XvcServer(PortIo& board, size_t maxVectorBytes);
  XvcServer(const XvcServer&) = delete;
  XvcServer& operator=(const XvcServer&) = delete;

  // Binds 127.0.0.1:tcpPort (0 picks a free port) and listens. Throws std::runtime_error.
  void listen(uint16_t tcpPort) { listener_.listen(tcpPort); }
  uint16_t port() const { return listener_.port(); }

  // Accepts and serves clients until stop().
  void serve();
  // Ends serve() soon; safe from any thread and from a signal handler.
  void stop() { listener_.stop(); }
  // How long a client may send nothing before it is dropped (LoopbackListener::kIdleLimitMs).
  void setIdleLimitMs(int limitMs) { listener_.setIdleLimitMs(limitMs); }

  uint64_t connectionsServed() const { return listener_.connectionsServed(); }

 private:
  class Connection;
  void serveConnection(int fd);
  // False when a stop cut the shift short.
  bool shift(uint32_t bits);
  static constexpr uint32_t kBitsBetweenStopChecks = 256;

  PortIo& board_;
  size_t maxVectorBytes_;
  std::vector<uint8_t> tms_;
  std::vector<uint8_t> tdi_;
  std::vector<uint8_t> tdo_;
  LoopbackListener listener_;
};

}  // namespace zorv::sim
