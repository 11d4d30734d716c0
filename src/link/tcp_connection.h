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
// see the job's stop whatever arrives meanwhile. Every failure closes the connection and leaves
// its cause in cause(), worded for the user ("connection to HOST:PORT lost").
//
// A stop is the link's to act on, between whole scans: a wait for an answer ends at it with the
// connection still open (stopSeen() is then true), a wait to send goes on, since what is being
// sent belongs to scans already begun. From the stop on, the server's silence may last no more
// than kStopGraceMs, so a server that has gone quiet cannot hold a stopped job for long.
class TcpConnection {
 public:
  // How long a server may stay silent while the link waits on it, whatever the protocol.
  static constexpr int kSilenceLimitMs = 10000;
  // How long it may stay silent once the job's stop is seen, while the link finishes the scan in
  // flight: a live server answers a shift in milliseconds.
  static constexpr int kStopGraceMs = 1000;

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

  // The wait for one answer or one message starts here: one silence limit from now (the stop's
  // grace once it is seen).
  Deadline deadline() const { return Clock::now() + std::chrono::milliseconds(silenceMs()); }

  // Sends everything. The silence limit starts again whenever the server takes some of it, never
  // for anything else. While it takes nothing, whenReadable (if given) is called each time bytes
  // have arrived (a server blocked on sending its answers reads nothing): it takes them in, or
  // returns false when it failed the connection.
  bool sendAll(const char* data, size_t length, const std::function<bool()>& whenReadable = {});
  // Receives exactly length bytes by until: one limit for the whole answer.
  bool receiveAll(char* data, size_t length, Deadline until);
  // What has arrived, without waiting: the byte count (0 for none), or -1 when the connection
  // failed.
  long receiveAvailable(char* data, size_t length);
  // Waits until something can be received; false on failure, on silence until the deadline, or at
  // the job's stop (the connection then stays open).
  bool waitReadable(Deadline deadline);

  void watchStopFlag(const std::atomic<int>* flag) { stopFlag_ = flag; }
  // Whether a wait has seen the job's stop since the connection was made.
  bool stopSeen() const { return stopSeen_; }
  // Why the connection failed last (empty while it has not).
  const std::string& cause() const { return cause_; }
  // Closes the connection because the server broke its protocol ("XVC protocol").
  void failOutsideProtocol(const std::string& protocol);
  std::string where() const { return host_ + ":" + std::to_string(port_); }

 private:
  // Ready: true. endsAtStop: the job's stop ends the wait, the connection kept; otherwise the stop
  // brings until within the grace.
  bool wait(short events, Deadline& until, bool endsAtStop);
  bool stopWanted() const { return stopFlag_ != nullptr && stopFlag_->load() != 0; }
  int silenceMs() const { return stopSeen_ && kStopGraceMs < silenceLimitMs_ ? kStopGraceMs : silenceLimitMs_; }
  void fail(std::string cause);

  std::string host_;
  uint16_t port_;
  int silenceLimitMs_;
  int fd_ = -1;
  std::string cause_;
  const std::atomic<int>* stopFlag_ = nullptr;
  bool stopSeen_ = false;
};

}  // namespace zorv
