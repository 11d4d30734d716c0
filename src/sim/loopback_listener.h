#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace zorv::sim {

// A TCP listener on the loopback interface that serves one client after another until stop().
// Every wait (for a client, for its bytes, for room to send) also ends on stop(), so a client that
// neither sends nor reads cannot keep the server from stopping. A client's waits end at a deadline
// its server gives per message (the idle limit from when the message is awaited), so a client
// trickling its bytes one by one, each in time, cannot hold the server either.
class LoopbackListener {
 public:
  using Clock = std::chrono::steady_clock;
  using Deadline = Clock::time_point;

  LoopbackListener();
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;

  // Binds 127.0.0.1:tcpPort (0 picks a free port) and listens. Throws std::runtime_error.
  void listen(uint16_t tcpPort);
  // The port actually bound.
  uint16_t port() const { return port_; }

  // Accepts clients until stop(), handing each connected socket to serveConnection, which returns
  // when the connection ends; the socket is closed afterwards.
  void serve(const std::function<void(int fd)>& serveConnection);
  // Ends serve() soon; safe from any thread and from a signal handler.
  void stop();

  // Waits until fd is ready for events; false once stop() was called or the deadline passed.
  bool waitFor(int fd, short events, Deadline until);
  // The deadline of a message awaited from now (or of an answer sent from now): the idle limit.
  Deadline messageDeadline() const { return Clock::now() + std::chrono::milliseconds(idleLimitMs_.load()); }
  // True once stop() was called: long work for one client looks at it now and then.
  bool stopping() const { return stopping_.load(); }
  // How long one message of a client may take, from when it is awaited, before the client is
  // dropped.
  void setIdleLimitMs(int limitMs) { idleLimitMs_.store(limitMs); }
  static constexpr int kIdleLimitMs = 30000;
  // False when the socket fails, or stop() was called or the deadline passed before everything
  // was sent.
  bool sendAll(int fd, const char* data, size_t length, Deadline until);

  uint64_t connectionsServed() const { return connections_; }

 private:
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> idleLimitMs_{kIdleLimitMs};
  std::atomic<uint64_t> connections_{0};
};

}  // namespace zorv::sim
