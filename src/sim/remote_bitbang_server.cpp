#include "sim/remote_bitbang_server.h"

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

constexpr size_t kChunk = 4096;

std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

RemoteBitbangServer::RemoteBitbangServer(PortIo& board) : board_(board) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw systemError("pipe");
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

RemoteBitbangServer::~RemoteBitbangServer() {
  if (listenFd_ >= 0) ::close(listenFd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
}

void RemoteBitbangServer::listen(uint16_t tcpPort) {
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

void RemoteBitbangServer::stop() {
  stopping_.store(true);
  const char wake = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &wake, 1);
}

// Waits until fd has something to read; false once stop() was called.
bool RemoteBitbangServer::waitReadable(int fd) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
  while (!stopping_.load()) {
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0 && (fds[0].revents != 0)) return !stopping_.load();
  }
  return false;
}

// A client that sends and never reads fills the socket: the wait for room ends on stop() too.
bool RemoteBitbangServer::sendAll(int fd, const char* data, size_t length) {
  pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
  while (length > 0 && !stopping_.load()) {
    const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      length -= static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (sent == 0) return false;
    if (sent < 0 && errno != EINTR && ::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
  }
  return length == 0;
}

void RemoteBitbangServer::serve() {
  if (listenFd_ < 0) throw std::logic_error("serve() before listen()");
  while (waitReadable(listenFd_)) {
    const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int one = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ++connections_;
    serveConnection(client);
    ::close(client);
  }
}

void RemoteBitbangServer::serveConnection(int fd) {
  char in[kChunk];
  char replies[kChunk];
  bool open = true;
  while (open && waitReadable(fd)) {
    const ssize_t got = ::recv(fd, in, sizeof in, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    size_t replyLength = 0;
    for (ssize_t i = 0; i < got && open; ++i) open = execute(in[i], replies, replyLength);
    if (replyLength > 0 && !sendAll(fd, replies, replyLength)) return;
  }
}

bool RemoteBitbangServer::execute(char command, char* reply, size_t& replyLength) {
  switch (command) {
    case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7':
      pins_ = static_cast<uint8_t>((pins_ & kTrst) | (command - '0'));
      board_.write(kLptDataPort, pins_);
      break;
    case 'R':
      reply[replyLength++] = (board_.read(kLptStatusPort) & kTdo) ? '1' : '0';
      break;
    case 'r':
    case 's':  // srst is not wired on the board
      pins_ |= kTrst;
      board_.write(kLptDataPort, pins_);
      break;
    case 't':
    case 'u':
      pins_ &= static_cast<uint8_t>(~kTrst);
      board_.write(kLptDataPort, pins_);
      break;
    case 'Q': return false;
    default: break;  // 'B', 'b' (the LED) and anything unknown
  }
  return true;
}

}  // namespace zorv::sim
