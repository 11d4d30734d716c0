#include "sim/xvc_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "sim/lpt_pins.h"
namespace zorv::sim {
namespace {


std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

// The client's byte stream, read in large pieces.
class XvcServer::Connection {
 public:
  Connection(XvcServer& server, int fd) : server_(server), fd_(fd) {}

  // False when the client closed, the server stops, or the socket fails.
  bool take(void* dest, size_t length) {
    auto* out = static_cast<char*>(dest);
    while (length > 0) {
      if (next_ == end_ && !refill()) return false;
      const size_t n = std::min(length, end_ - next_);
      std::memcpy(out, buffer_ + next_, n);
      next_ += n;
      out += n;
      length -= n;
    }
    return true;
  }

 private:
  bool refill() {
    for (;;) {
      if (!server_.waitFor(fd_, POLLIN)) return false;
      const ssize_t got = ::recv(fd_, buffer_, sizeof buffer_, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      next_ = 0;
      end_ = static_cast<size_t>(got);
      return true;
    }
  }

  XvcServer& server_;
  int fd_;
  char buffer_[65536];
  size_t next_ = 0;
  size_t end_ = 0;
};

XvcServer::XvcServer(PortIo& board, size_t maxVectorBytes)
    : board_(board), maxVectorBytes_(maxVectorBytes), tms_(maxVectorBytes), tdi_(maxVectorBytes), tdo_(maxVectorBytes) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw systemError("pipe");
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

XvcServer::~XvcServer() {
  if (listenFd_ >= 0) ::close(listenFd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

void XvcServer::listen(uint16_t tcpPort) {
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

void XvcServer::stop() {
  stopping_.store(true);
  const char wake = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &wake, 1);
}

// Waits until fd is ready for events; false once stop() was called.
bool XvcServer::waitFor(int fd, short events) {
  pollfd fds[2] = {{fd, events, 0}, {wakeRead_, POLLIN, 0}};
  while (!stopping_.load()) {
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && fds[0].revents != 0) return !stopping_.load();
  }
  return false;
}

// A client that never reads its answers cannot keep the server from stopping.
bool XvcServer::sendAll(int fd, const char* data, size_t length) {
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

void XvcServer::serve() {
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

void XvcServer::serveConnection(int fd) {
  Connection in(*this, fd);
  char name[8];
  for (;;) {
    // Every command is a few letters and a colon.
    size_t length = 0;
    do {
      if (length == sizeof name || !in.take(name + length, 1)) return;
    } while (name[length++] != ':');
    const std::string command(name, length);
    if (command == "getinfo:") {
      const std::string info = "xvcServer_v1.0:" + std::to_string(maxVectorBytes_) + "\n";
      if (!sendAll(fd, info.data(), info.size())) return;
    } else if (command == "settck:") {
      char period[4];
      if (!in.take(period, 4) || !sendAll(fd, period, 4)) return;
    } else if (command == "shift:") {
      uint8_t count[4];
      if (!in.take(count, 4)) return;
      const uint32_t bits = count[0] | (count[1] << 8) | (count[2] << 16) | (static_cast<uint32_t>(count[3]) << 24);
      const size_t bytes = (static_cast<size_t>(bits) + 7) / 8;
      if (bytes > maxVectorBytes_ || !in.take(tms_.data(), bytes) || !in.take(tdi_.data(), bytes)) return;
      shift(bits);
      if (!sendAll(fd, reinterpret_cast<const char*>(tdo_.data()), bytes)) return;
    } else {
      return;
    }
  }
}

void XvcServer::shift(uint32_t bits) {
  std::fill_n(tdo_.begin(), (static_cast<size_t>(bits) + 7) / 8, uint8_t{0});
  for (uint32_t i = 0; i < bits; ++i) {
    const auto mask = static_cast<uint8_t>(1u << (i % 8));
    uint8_t pins = kTrst;
    if (tms_[i / 8] & mask) pins |= kTms;
    if (tdi_[i / 8] & mask) pins |= kTdi;
    board_.write(kLptDataPort, pins);
    board_.write(kLptDataPort, pins | kTck);
    if (board_.read(kLptStatusPort) & kTdo) tdo_[i / 8] |= mask;
  }
}

}  // namespace zorv::sim
