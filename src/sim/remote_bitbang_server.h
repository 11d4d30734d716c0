#pragma once

#include <cstddef>
#include <cstdint>

#include "cable/port_io.h"
#include "sim/loopback_listener.h"
#include "sim/lpt_pins.h"

namespace zorv::sim {

// Serves a board over the remote_bitbang protocol on the loopback interface, one client at a
// time; the board (and so its TAP and devices) outlives every connection. Commands: '0'-'7' set
// TCK, TMS, TDI; 'R' answers TDO as '0'/'1'; 'r' 's' 't' 'u' set the reset lines (only nTRST is
// wired); 'B' 'b' (the LED) are ignored; 'Q' ends the connection.
class RemoteBitbangServer {
 public:
  explicit RemoteBitbangServer(PortIo& board);
  RemoteBitbangServer(const RemoteBitbangServer&) = delete;
  RemoteBitbangServer& operator=(const RemoteBitbangServer&) = delete;

  // Binds 127.0.0.1:tcpPort (0 picks a free port) and listens. Throws std::runtime_error.
  void listen(uint16_t tcpPort) { listener_.listen(tcpPort); }
  // The port actually bound.
  uint16_t port() const { return listener_.port(); }

  // Accepts and serves clients until stop().
  void serve();
  // Ends serve() soon; safe from any thread and from a signal handler.
  void stop() { listener_.stop(); }
  // How long a client may send nothing before it is dropped (LoopbackListener::kIdleLimitMs).
  void setIdleLimitMs(int limitMs) { listener_.setIdleLimitMs(limitMs); }

  // Runs one command; the reply byte, if the command has one, is stored at *reply and counted in
  // replyLength. Returns false when the client asked to close the connection.
  bool execute(char command, char* reply, size_t& replyLength);

  uint64_t connectionsServed() const { return listener_.connectionsServed(); }

 private:
  void serveConnection(int fd);

  PortIo& board_;
  uint8_t pins_ = kTrst;  // the data-port byte the client's commands have built: nTRST released
  LoopbackListener listener_;
};

}  // namespace zorv::sim
