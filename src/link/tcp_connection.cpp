#include "link/tcp_connection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cable/socket_io.h"

namespace zorv {
namespace {

constexpr int kConnectLimitMs = 3000;
// Waits are cut in slices so that the job's stop is seen within one.
constexpr int kStopCheckMs = 50;

}  // namespace

TcpConnection::TcpConnection(std::string host, uint16_t port, int silenceLimitMs)
    : host_(std::move(host)), port_(port), silenceLimitMs_(silenceLimitMs) {}

TcpConnection::~TcpConnection() { close(); }

bool TcpConnection::connect() {
  close();
  cause_.clear();
  stopSeen_ = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port_);
  if (::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found) != 0) {
    cause_ = "cannot find the host " + host_;
    return false;
  }
  int error = 0;
  for (const addrinfo* a = found; a != nullptr && fd_ < 0 && !stopWanted(); a = a->ai_next) {
    // Non-blocking from here on: every call on it below is written not to wait.
    const int fd = net::openSocket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) {
      error = net::lastError();
      continue;
    }
    const int result = net::connectSocket(fd, a->ai_addr, a->ai_addrlen);
    error = result == 0 ? 0 : net::lastError();
    if (result != 0 && error == EINPROGRESS) {
      // A bound wait, so an address that swallows packets cannot hang a job; a stop ends it.
      error = ETIMEDOUT;
      const Deadline until = Clock::now() + std::chrono::milliseconds(kConnectLimitMs);
      int ready = 0;
      for (auto left = kConnectLimitMs; ready == 0 && left > 0 && !stopWanted();
           left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count())) {
        ready = net::pollSocket(fd, POLLOUT, std::min(left, kStopCheckMs));
        if (ready < 0 && net::lastError() == EINTR) ready = 0;
      }
      if (ready == 1) error = net::connectError(fd);
    }
    if (error != 0) {
      net::closeSocket(fd);
      continue;
    }
    net::setNoDelay(fd);
    fd_ = fd;
  }
  ::freeaddrinfo(found);
  if (fd_ < 0) {
    cause_ = stopWanted() ? "stopped while waiting for " + where()
                          : "cannot connect to " + where() + " (" + net::errorText(error) + ")";
    return false;
  }
  return true;
}

void TcpConnection::close() {
  if (fd_ >= 0) net::closeSocket(fd_);
  fd_ = -1;
}

void TcpConnection::dropIfClosedByPeer() {
  if (fd_ < 0) return;
  char probe;
  const ssize_t got = net::receiveSome(fd_, &probe, 1, MSG_PEEK | net::kNoWait);
  const int error = got < 0 ? net::lastError() : 0;
  if (got == 0 || (got < 0 && error != EAGAIN && error != EWOULDBLOCK)) close();
}

void TcpConnection::fail(std::string cause) {
  cause_ = std::move(cause);
  close();
}

void TcpConnection::failOutsideProtocol(const std::string& protocol) {
  fail(where() + " answered outside the " + protocol);
}

// The stop is looked at before anything that has arrived, so that a server sending without end
// cannot keep a stopped job waiting; from the stop on, until holds the grace for the caller too.
bool TcpConnection::wait(short events, Deadline& until, bool endsAtStop) {
  for (;;) {
    if (!stopSeen_ && stopWanted()) {
      stopSeen_ = true;
      until = std::min(until, deadline());
      if (endsAtStop) {
        cause_ = "stopped while waiting for " + where();
        return false;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) {
      const int silence = silenceMs();
      fail(stopSeen_ ? "stopped while waiting for " + where()
                     : "no answer from " + where() + " within " +
                           (silence % 1000 == 0 ? std::to_string(silence / 1000) + " s" : std::to_string(silence) + " ms"));
      return false;
    }
    const int ready = net::pollSocket(fd_, events, static_cast<int>(std::min<long long>(left, kStopCheckMs)));
    if (ready > 0) return true;
    if (ready < 0 && net::lastError() != EINTR) {
      fail("connection to " + where() + " lost");
      return false;
    }
  }
}

bool TcpConnection::waitReadable(Deadline until) { return fd_ >= 0 && wait(POLLIN, until, true); }

bool TcpConnection::sendAll(const char* data, size_t length, const std::function<bool()>& whenReadable) {
  Deadline until = deadline();
  while (length > 0) {
    if (fd_ < 0) return false;
    const ssize_t sent = net::sendSome(fd_, data, length, net::kNoSignal | net::kNoWait);
    const int error = sent < 0 ? net::lastError() : 0;
    if (sent > 0) {
      data += sent;
      length -= static_cast<size_t>(sent);
      until = deadline();
      continue;
    }
    if (sent < 0 && error == EINTR) continue;
    if (sent == 0 || (error != EAGAIN && error != EWOULDBLOCK)) {
      fail("connection to " + where() + " lost");
      return false;
    }
    if (!wait(static_cast<short>(POLLOUT | (whenReadable ? POLLIN : 0)), until, false)) return false;
    if (whenReadable && net::pollSocket(fd_, POLLIN, 0) == 1 && !whenReadable()) return false;
  }
  return true;
}

bool TcpConnection::receiveAll(char* data, size_t length, Deadline until) {
  while (length > 0) {
    if (fd_ < 0 || !wait(POLLIN, until, true)) return false;
    const ssize_t got = net::receiveSome(fd_, data, length, net::kNoWait);
    const int error = got < 0 ? net::lastError() : 0;
    if (got > 0) {
      data += got;
      length -= static_cast<size_t>(got);
    } else if (got == 0 || (error != EINTR && error != EAGAIN && error != EWOULDBLOCK)) {
      fail("connection to " + where() + " lost");
      return false;
    }
  }
  return true;
}

long TcpConnection::receiveAvailable(char* data, size_t length) {
  for (;;) {
    if (fd_ < 0) return -1;
    const ssize_t got = net::receiveSome(fd_, data, length, net::kNoWait);
    const int error = got < 0 ? net::lastError() : 0;
    if (got > 0) return static_cast<long>(got);
    if (got < 0 && error == EINTR) continue;
    if (got < 0 && (error == EAGAIN || error == EWOULDBLOCK)) return 0;
    fail("connection to " + where() + " lost");
    return -1;
  }
}

}  // namespace zorv
