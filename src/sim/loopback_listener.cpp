#include "sim/loopback_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace zorv::sim {
namespace {

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

LoopbackListener::LoopbackListener() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw systemError("pipe");
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

LoopbackListener::~LoopbackListener() {
  if (listenFd_ >= 0) ::close(listenFd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

void LoopbackListener::listen(uint16_t tcpPort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw systemError("socket");
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(tcpPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    const auto error = systemError("cannot listen on 127.0.0.1:" + std::to_string(tcpPort));
    ::close(fd);
    throw error;
  }
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = fd;
  port_ = ntohs(address.sin_port);
}

void LoopbackListener::stop() {
  stopping_.store(true);
  const char wake = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &wake, 1);
}

bool LoopbackListener::waitFor(int fd, short events) {
  pollfd fds[2] = {{fd, events, 0}, {wakeRead_, POLLIN, 0}};
  // A client that neither sends nor takes anything for the idle limit is dropped, so that the next
  // one can be served; the listening socket itself waits for ever.
  const int limitMs = fd == listenFd_ ? -1 : idleLimitMs_.load();
  while (!stopping_.load()) {
    const int ready = ::poll(fds, 2, limitMs);
    if (ready == 0) return false;
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && fds[0].revents != 0) return !stopping_.load();
  }
  return false;
}

bool LoopbackListener::sendAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      length -= static_cast<size_t>(sent);
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!waitFor(fd, POLLOUT)) return false;
    } else {
      return false;
    }
  }
  return true;
}

void LoopbackListener::serve(const std::function<void(int fd)>& serveConnection) {
  if (listenFd_ < 0) throw std::logic_error("serve() before listen()");
  while (waitFor(listenFd_, POLLIN)) {
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++connections_;
    serveConnection(client);
    ::close(client);
  }
}

}  // namespace zorv::sim
