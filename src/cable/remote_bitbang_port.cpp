#include "cable/remote_bitbang_port.h"

#include <cerrno>
#include <cstring>

#include "cable/cable_pins.h"
#include "cable/socket_io.h"
namespace zorv {
namespace {

constexpr int kConnectTimeoutMs = 3000;
// Waits are cut in slices so that the job's stop is seen within one.
constexpr int kWaitSliceMs = 50;

// Connects with a bound wait, so an address that swallows packets cannot hang a job.
int connectWithTimeout(const addrinfo& address, int& error) {
  // The socket stays non-blocking: every call on it below is written not to wait.
  const int fd = net::openSocket(address.ai_family, address.ai_socktype, address.ai_protocol);
  error = net::lastError();
  if (fd < 0) return -1;
  int result = net::connectSocket(fd, address.ai_addr, address.ai_addrlen);
  error = result == 0 ? 0 : net::lastError();
  if (result != 0 && error == EINPROGRESS) {
    error = ETIMEDOUT;
    if (net::pollSocket(fd, POLLOUT, kConnectTimeoutMs) == 1) {
      error = net::connectError(fd);
      result = error == 0 ? 0 : -1;
    }
  }
  if (result != 0) {
    net::closeSocket(fd);
    return -1;
  }
  net::setNoDelay(fd);
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

std::string RemoteBitbangPort::where() const { return host_ + ":" + std::to_string(tcpPort_); }

bool RemoteBitbangPort::grantAccess() {
  // A new job: the previous one has reported its failure, if it had one.
  clearLinkFailure();
  if (fd_ >= 0) {
    // A server that closed the connection since the last job is seen here, not mid-scan.
    char probe;
    const ssize_t got = net::receiveSome(fd_, &probe, 1, MSG_PEEK | net::kNoWait);
    const int error = got < 0 ? net::lastError() : 0;
    if (got == 0 || (got < 0 && error != EAGAIN && error != EWOULDBLOCK)) disconnect();
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
  if (::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found) != 0) {
    noteLinkFailure("cannot find the host " + host_);
    return false;
  }
  int error = 0;
  for (const addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) fd_ = connectWithTimeout(*a, error);
  ::freeaddrinfo(found);
  if (fd_ < 0) noteLinkFailure("cannot connect to " + where() + " (" + net::errorText(error) + ")");
  outLength_ = 0;
  failPendingReads();
  trstSent_ = false;
  return fd_ >= 0;
}

void RemoteBitbangPort::disconnect() {
  if (fd_ >= 0) net::closeSocket(fd_);
  fd_ = -1;
  outLength_ = 0;
  failPendingReads();
}

void RemoteBitbangPort::fail(Fault fault) {
  switch (fault) {
    case Fault::Lost: noteLinkFailure("connection to " + where() + " lost"); break;
    case Fault::OutsideProtocol: noteLinkFailure(where() + " answered outside the protocol"); break;
    case Fault::Silent:
      noteLinkFailure(where() + " did not answer within " + std::to_string(kReplyTimeoutMs / 1000) + " s");
      break;
    case Fault::Stopped:
      // The job's stop cut a wait short: answers still owed would arrive out of step.
      noteLinkFailure("stopped while waiting for " + where());
      break;
  }
  disconnect();
}

void RemoteBitbangPort::failPendingReads() {
  for (size_t i = pendingHead_; i < pendingCount_; ++i) std::memset(pending_[i].dest, 0xFF, pending_[i].length);
  pendingHead_ = 0;
  pendingCount_ = 0;
  owed_ = 0;
  skippedTail_ = 0;
}

bool RemoteBitbangPort::acceptAnswers(const char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const char c = data[i];
    if ((c != '0' && c != '1') || owed_ == 0) {
      fail(Fault::OutsideProtocol);
      return false;
    }
    --owed_;
    if (pendingHead_ == pendingCount_) {
      --skippedTail_;
      continue;
    }
    PendingRun& run = pending_[pendingHead_];
    if (run.skipped > 0) {
      --run.skipped;
      continue;
    }
    *run.dest++ = c == '1' ? kTdoStatusBit : 0;
    if (--run.length == 0) ++pendingHead_;
  }
  if (pendingHead_ == pendingCount_) pendingHead_ = pendingCount_ = 0;
  return true;
}

bool RemoteBitbangPort::receiveAvailable() {
  char in[4096];
  for (;;) {
    const ssize_t got = net::receiveSome(fd_, in, sizeof in, net::kNoWait);
    const int error = got < 0 ? net::lastError() : 0;
    if (got > 0) {
      if (!acceptAnswers(in, static_cast<size_t>(got))) return false;
      if (static_cast<size_t>(got) < sizeof in) return true;
      continue;
    }
    if (got < 0 && error == EINTR) continue;
    if (got < 0 && (error == EAGAIN || error == EWOULDBLOCK)) return true;
    fail(Fault::Lost);
    return false;
  }
}

// Sends without ever blocking for good: while the server cannot take more, its answers are taken
// in (a server blocked on sending them would otherwise never read again), and a stop or a server
// that stays stuck ends the wait.
bool RemoteBitbangPort::sendAll(const char* data, size_t length) {
  int stuckMs = 0;
  while (length > 0) {
    const ssize_t sent = net::sendSome(fd_, data, length, net::kNoSignal | net::kNoWait);
    const int error = sent < 0 ? net::lastError() : 0;
    if (sent > 0) {
      data += sent;
      length -= static_cast<size_t>(sent);
      stuckMs = 0;
      continue;
    }
    if (sent < 0 && error == EINTR) continue;
    if (sent == 0 || (error != EAGAIN && error != EWOULDBLOCK)) {
      fail(Fault::Lost);
      return false;
    }
    short revents = 0;
    const int ready = net::pollSocket(fd_, static_cast<short>(POLLOUT | (owed_ > 0 ? POLLIN : 0)), kWaitSliceMs, &revents);
    if (ready > 0 && (revents & POLLIN) != 0) {
      if (!receiveAvailable()) return false;
      stuckMs = 0;
    } else if (ready <= 0) {
      if (stopWanted()) {
        fail(Fault::Stopped);
        return false;
      }
      if (ready == 0 && (stuckMs += kWaitSliceMs) >= kReplyTimeoutMs) {
        fail(Fault::Silent);
        return false;
      }
    }
  }
  return true;
}

void RemoteBitbangPort::sendBuffered() {
  if (fd_ < 0 || outLength_ == 0) return;
  const size_t length = outLength_;
  outLength_ = 0;
  sendAll(out_, length);
}

void RemoteBitbangPort::write(uint16_t port, uint8_t value) {
  if (port != kLptDataPort || fd_ < 0) return;
  if (!trstSent_ || ((value ^ lastData_) & kTrstReleasedBit)) {
    out_[outLength_++] = (value & kTrstReleasedBit) ? 'r' : 't';
    trstSent_ = true;
  }
  // The protocol's digit holds TCK, TMS and TDI in the port's own bit positions.
  out_[outLength_++] = static_cast<char>('0' + (value & (kTckBit | kTmsBit | kTdiBit)));
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
    const uint8_t value = read(port);
    if (dest != nullptr) *dest = value;
    return;
  }
  if (dest == nullptr) {
    ++skippedTail_;
  } else {
    PendingRun* last = pendingCount_ > pendingHead_ ? &pending_[pendingCount_ - 1] : nullptr;
    if (last != nullptr && skippedTail_ == 0 && last->dest + last->length == dest) {
      ++last->length;
    } else {
      if (pendingCount_ == kMaxPendingRuns) {
        flush();
        if (fd_ < 0) {
          *dest = 0xFF;
          return;
        }
      }
      pending_[pendingCount_++] = {dest, 1, skippedTail_};
      skippedTail_ = 0;
    }
  }
  out_[outLength_++] = 'R';
  ++owed_;
  if (outLength_ > kBufferSize - 3) sendBuffered();
}

void RemoteBitbangPort::flush() {
  sendBuffered();
  if (fd_ < 0 || owed_ == 0) return;
  ++roundTrips_;
  int silentMs = 0;
  while (owed_ > 0) {
    const int ready = net::pollSocket(fd_, POLLIN, kWaitSliceMs);
    if (ready > 0) {
      if (!receiveAvailable()) return;
      silentMs = 0;
      continue;
    }
    if (ready < 0 && net::lastError() != EINTR) {
      fail(Fault::Lost);
      return;
    }
    if (stopWanted()) {
      fail(Fault::Stopped);
      return;
    }
    if (ready == 0 && (silentMs += kWaitSliceMs) >= kReplyTimeoutMs) {
      fail(Fault::Silent);
      return;
    }
  }
}

}  // namespace zorv
