#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zorv {

// The TCP connection of a remote link, and the only place that makes socket calls: connecting
// with a bounded wait, sending and receiving with a bound on the server's silence, and waits that
// end at once when the job's stop flag is raised. Every failure closes the connection and leaves
// its cause in cause(), worded for the user ("connection to HOST:PORT lost").
class TcpConnection {
 public:
  // How long a server may stay silent while the link waits on it, whatever the protocol.
  static constexpr int kSilenceLimitMs = 10000;

  using Clock = std::chrono::steady_clock;
  using Deadline = Clock::time_point;

  TcpConnection(std::string host, uint16_t port, int silenceLimitMs = kSilenceLimitMs);
  ~TcpConnection();
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Connects; false with the cause when the host is unknown or does not take the connection.
  bool connect();
  void close();
  bool isOpen() const { return fd_ >= 0; }
  // A connection the server has closed since it was last used is closed here, before a job.
  void dropIfClosedByPeer();

  // The wait for one answer or one message starts here.
  Deadline deadline() const { return Clock::now() + std::chrono::milliseconds(silenceLimitMs_); }

  // Sends everything. While the server takes nothing more, whenReadable (if given) is called each
  // time an answer has arrived (a server blocked on sending its answers reads nothing), and the
  // silence limit starts again; it returns false when it failed the connection.
  bool sendAll(const char* data, size_t length, const std::function<bool()>& whenReadable = {});
  // Receives exactly length bytes within one silence limit.
  bool receiveAll(char* data, size_t length);
  // What has arrived, without waiting: the byte count (0 for none), or -1 when the connection
  // failed.
  long receiveAvailable(char* data, size_t length);
  // Waits until something can be received; false on failure, stop or silence until deadline.
  bool waitReadable(Deadline deadline);
  // True when a byte the protocol did not ask for is waiting.
  bool hasUnaskedBytes();

  void watchStopFlag(const std::atomic<int>* flag) { stopFlag_ = flag; }
  // Why the connection failed last (empty while it has not).
  const std::string& cause() const { return cause_; }
  // Closes the connection because the server broke its protocol ("XVC protocol").
  void failOutsideProtocol(const std::string& protocol);
  std::string where() const { return host_ + ":" + std::to_string(port_); }

 private:
  bool wait(short events, Deadline deadline);
  void fail(std::string cause);

  std::string host_;
  uint16_t port_;
  int silenceLimitMs_;
  int fd_ = -1;
  std::string cause_;
  const std::atomic<int>* stopFlag_ = nullptr;
};

}  // namespace zorv
