#include "link/tcp_connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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
  for (const addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    const int result = ::connect(fd, a->ai_addr, a->ai_addrlen);
    error = result == 0 ? 0 : errno;
    if (result != 0 && errno == EINPROGRESS) {
      // A bound wait, so an address that swallows packets cannot hang a job.
      pollfd waiting{fd, POLLOUT, 0};
      error = ETIMEDOUT;
      if (::poll(&waiting, 1, kConnectLimitMs) == 1) {
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      }
    }
    if (error != 0) {
      ::close(fd);
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
  }
  ::freeaddrinfo(found);
  if (fd_ < 0) {
    cause_ = "cannot connect to " + where() + " (" + std::strerror(error) + ")";
    return false;
  }
  return true;
}

void TcpConnection::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void TcpConnection::dropIfClosedByPeer() {
  if (fd_ < 0) return;
  char probe;
  const ssize_t got = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) close();
}

void TcpConnection::fail(std::string cause) {
  cause_ = std::move(cause);
  close();
}

void TcpConnection::failOutsideProtocol(const std::string& protocol) {
  fail(where() + " answered outside the " + protocol);
}

// Ready: true. A stop ends the wait and the connection, whose answers would now arrive out of
// step; what has already arrived is still taken from a stopped job.
bool TcpConnection::wait(short events, Deadline deadline) {
  pollfd waiting{fd_, events, 0};
  int slice = 0;
  for (;;) {
    const int ready = ::poll(&waiting, 1, slice);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) {
      fail("connection to " + where() + " lost");
      return false;
    }
    if (stopFlag_ != nullptr && stopFlag_->load() != 0) {
      fail("stopped while waiting for " + where());
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      const std::string limit = silenceLimitMs_ % 1000 == 0 ? std::to_string(silenceLimitMs_ / 1000) + " s"
                                                            : std::to_string(silenceLimitMs_) + " ms";
      fail("no answer from " + where() + " within " + limit);
      return false;
    }
    slice = static_cast<int>(std::min<long long>(left, kStopCheckMs));
  }
}

bool TcpConnection::waitReadable(Deadline until) { return fd_ >= 0 && wait(POLLIN, until); }

bool TcpConnection::sendAll(const char* data, size_t length, const std::function<bool()>& whenReadable) {
  Deadline until = deadline();
  while (length > 0) {
    if (fd_ < 0) return false;
    const ssize_t sent = ::send(fd_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      length -= static_cast<size_t>(sent);
      until = deadline();
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
      fail("connection to " + where() + " lost");
      return false;
    }
    if (!wait(static_cast<short>(POLLOUT | (whenReadable ? POLLIN : 0)), until)) return false;
    pollfd readable{fd_, POLLIN, 0};
    if (whenReadable && ::poll(&readable, 1, 0) == 1) {
      if (!whenReadable()) return false;
      until = deadline();
    }
  }
  return true;
}

bool TcpConnection::receiveAll(char* data, size_t length) {
  // One limit for the whole answer: a server trickling it byte by byte is still silent.
  const Deadline until = deadline();
  while (length > 0) {
    if (fd_ < 0 || !wait(POLLIN, until)) return false;
    const ssize_t got = ::recv(fd_, data, length, MSG_DONTWAIT);
    if (got > 0) {
      data += got;
      length -= static_cast<size_t>(got);
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
      fail("connection to " + where() + " lost");
      return false;
    }
  }
  return true;
}

long TcpConnection::receiveAvailable(char* data, size_t length) {
  for (;;) {
    if (fd_ < 0) return -1;
    const ssize_t got = ::recv(fd_, data, length, MSG_DONTWAIT);
    if (got > 0) return static_cast<long>(got);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    fail("connection to " + where() + " lost");
    return -1;
  }
}

bool TcpConnection::hasUnaskedBytes() {
  char extra;
  return fd_ >= 0 && ::recv(fd_, &extra, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

}  // namespace zorv
