#include "cable/remote_bitbang_port.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace zorv {
namespace {

constexpr uint8_t kTrstBit = 0x08;
constexpr int kConnectTimeoutMs = 3000;
constexpr int kReplyTimeoutSeconds = 5;

// Connects with a bound wait, so an address that swallows packets cannot hang a job.
int connectWithTimeout(const addrinfo& address) {
  const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
  if (fd < 0) return -1;
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int result = ::connect(fd, address.ai_addr, address.ai_addrlen);
  if (result != 0 && errno == EINPROGRESS) {
    pollfd waiting{fd, POLLOUT, 0};
    if (::poll(&waiting, 1, kConnectTimeoutMs) == 1) {
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
      result = error == 0 ? 0 : -1;
    }
  }
  if (result != 0) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, flags);
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  timeval timeout{kReplyTimeoutSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  return fd;
}

}  // namespace

RemoteBitbangPort::RemoteBitbangPort(std::string host, uint16_t tcpPort) : host_(std::move(host)), tcpPort_(tcpPort) {}

RemoteBitbangPort::~RemoteBitbangPort() {
  if (fd_ < 0) return;
  flush();
  if (fd_ >= 0) {
    sendAll("Q", 1);
    disconnect();
  }
}

bool RemoteBitbangPort::grantAccess() {
  if (fd_ >= 0) {
    // A server that closed the connection since the last job is seen here, not mid-scan.
    char probe;
    const ssize_t got = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) disconnect();
  }
  if (fd_ < 0) connect();
  return true;
}

bool RemoteBitbangPort::connect() {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(tcpPort_);
  if (::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found) != 0) return false;
  for (const addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) fd_ = connectWithTimeout(*a);
  ::freeaddrinfo(found);
  outLength_ = 0;
  pendingCount_ = 0;
  trstSent_ = false;
  return fd_ >= 0;
}

void RemoteBitbangPort::disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  outLength_ = 0;
  failPendingReads();
}

void RemoteBitbangPort::failPendingReads() {
  for (size_t i = 0; i < pendingCount_; ++i) *pending_[i] = 0xFF;
  pendingCount_ = 0;
}

bool RemoteBitbangPort::sendAll(const char* data, size_t length) {
  while (length > 0) {
    const ssize_t sent = ::send(fd_, data, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

void RemoteBitbangPort::sendBuffered() {
  if (fd_ < 0 || outLength_ == 0) return;
  const bool ok = sendAll(out_, outLength_);
  outLength_ = 0;
  if (!ok) disconnect();
}

void RemoteBitbangPort::write(uint16_t port, uint8_t value) {
  if (port != kLptDataPort || fd_ < 0) return;
  if (!trstSent_ || ((value ^ lastData_) & kTrstBit)) {
    out_[outLength_++] = (value & kTrstBit) ? 'r' : 't';
    trstSent_ = true;
  }
  out_[outLength_++] = static_cast<char>('0' + (value & 0x07));  // TCK, TMS, TDI
  lastData_ = value;
  if (outLength_ > kBufferSize - 3) sendBuffered();
}

uint8_t RemoteBitbangPort::read(uint16_t port) {
  if (fd_ < 0) return 0xFF;
  // The cable only reads the data port back to see that a port is there.
  if (port == kLptDataPort) return lastData_;
  uint8_t value = 0xFF;
  readDeferred(port, &value);
  flush();
  return value;
}

void RemoteBitbangPort::readDeferred(uint16_t port, uint8_t* dest) {
  if (fd_ < 0 || port != kLptStatusPort) {
    *dest = read(port);
    return;
  }
  out_[outLength_++] = 'R';
  pending_[pendingCount_++] = dest;
  if (pendingCount_ == kMaxPendingReads) {
    flush();
  } else if (outLength_ > kBufferSize - 3) {
    sendBuffered();
  }
}

void RemoteBitbangPort::flush() {
  sendBuffered();
  if (pendingCount_ == 0 || fd_ < 0) return;
  ++roundTrips_;
  char replies[kMaxPendingReads];
  size_t received = 0;
  while (received < pendingCount_) {
    const ssize_t got = ::recv(fd_, replies + received, pendingCount_ - received, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    received += static_cast<size_t>(got);
  }
  for (size_t i = 0; i < received; ++i) {
    if (replies[i] != '0' && replies[i] != '1') {
      received = i;  // not the protocol: trust nothing from here on
      break;
    }
    *pending_[i] = replies[i] == '1' ? 0x40 : 0x00;
  }
  if (received < pendingCount_) {
    for (size_t i = received; i < pendingCount_; ++i) *pending_[i] = 0xFF;
    pendingCount_ = 0;
    disconnect();
    return;
  }
  pendingCount_ = 0;
}

}  // namespace zorv
