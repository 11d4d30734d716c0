#include "sim/loopback_listener.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "cable/socket_io.h"

namespace zorv::sim {
namespace {

std::runtime_error systemError(const std::string& what, int error) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

#ifdef _WIN32
// Winsock cannot wait on a pipe: a wait there looks at the stop flag this often instead.
constexpr int kStopCheckMs = 50;
#endif

}  // namespace

LoopbackListener::LoopbackListener() {
#ifndef _WIN32
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw systemError("pipe", errno);
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
#endif
}

LoopbackListener::~LoopbackListener() {
  if (listenFd_ >= 0) net::closeSocket(listenFd_);
#ifndef _WIN32
  ::close(wakeRead_);
  ::close(wakeWrite_);
#endif
}

void LoopbackListener::listen(uint16_t tcpPort) {
  const int fd = net::openSocket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw systemError("socket", net::lastError());
  net::setReuseAddress(fd);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(tcpPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const auto error = systemError("cannot listen on 127.0.0.1:" + std::to_string(tcpPort), net::lastError());
    net::closeSocket(fd);
    throw error;
  }
  if (listenFd_ >= 0) net::closeSocket(listenFd_);
  listenFd_ = fd;
  port_ = ntohs(address.sin_port);
}

void LoopbackListener::stop() {
  stopping_.store(true);
#ifndef _WIN32
  const char wake = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &wake, 1);
#endif
}

namespace {

// What is left until the deadline, as a poll time-out: -1 for none, at least 0.
int msUntil(LoopbackListener::Deadline until) {
  if (until == LoopbackListener::Deadline::max()) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - LoopbackListener::Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

}  // namespace

#ifdef _WIN32
bool LoopbackListener::waitFor(int fd, short events, Deadline until) {
  while (!stopping_.load()) {
    const int left = msUntil(until);
    if (left == 0) return false;
    short revents = 0;
    const int ready = net::pollSocket(fd, events, left < 0 || left > kStopCheckMs ? kStopCheckMs : left, &revents);
    if (ready < 0 && net::lastError() != EINTR) return false;
    if (ready > 0 && revents != 0) return !stopping_.load();
  }
  return false;
}
#else
bool LoopbackListener::waitFor(int fd, short events, Deadline until) {
  pollfd fds[2] = {{fd, events, 0}, {wakeRead_, POLLIN, 0}};
  while (!stopping_.load()) {
    const int left = msUntil(until);
    if (left == 0) return false;
    const int ready = ::poll(fds, 2, left);
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && fds[0].revents != 0) return !stopping_.load();
  }
  return false;
}
#endif

bool LoopbackListener::sendAll(int fd, const char* data, size_t length, Deadline until) {
  while (length > 0) {
    const ssize_t sent = net::sendSome(fd, data, length, net::kNoSignal | net::kNoWait);
    const int error = sent < 0 ? net::lastError() : 0;
    if (sent > 0) {
      data += sent;
      length -= static_cast<size_t>(sent);
    } else if (sent < 0 && (error == EAGAIN || error == EWOULDBLOCK || error == EINTR)) {
      if (!waitFor(fd, POLLOUT, until)) return false;
    } else {
      return false;
    }
  }
  return true;
}

void LoopbackListener::serve(const std::function<void(int fd)>& serveConnection) {
  if (listenFd_ < 0) throw std::logic_error("serve() before listen()");
  // Clients may come whenever they like.
  while (waitFor(listenFd_, POLLIN, Deadline::max())) {
    const int client = net::acceptClient(listenFd_);
    if (client < 0) continue;
    net::setNoDelay(client);
    ++connections_;
    serveConnection(client);
    net::closeSocket(client);
  }
}

}  // namespace zorv::sim
