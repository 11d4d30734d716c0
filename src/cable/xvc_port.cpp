#include "cable/xvc_port.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "cable/cable_pins.h"
#include "cable/socket_io.h"
namespace zorv {
namespace {

constexpr int kConnectTimeoutMs = 3000;
constexpr int kStopCheckMs = 100;
constexpr size_t kShiftHeader = 10;  // "shift:" and the 32-bit bit count
constexpr size_t kMaxInfoLine = 64;

void putLittleEndian32(char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t getLittleEndian32(const char* at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(at[i])) << (8 * i);
  return value;
}

// "xvcServer_v1.N:LENGTH\n" gives LENGTH, anything else 0.
uint64_t vectorLengthFromInfo(const std::string& line) {
  static const std::string prefix = "xvcServer_v1.";
  if (line.rfind(prefix, 0) != 0 || line.back() != '\n') return 0;
  size_t at = prefix.size();
  const size_t minorStart = at;
  while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at]))) ++at;
  if (at == minorStart || at >= line.size() || line[at] != ':') return 0;
  ++at;
  uint64_t length = 0;
  const size_t lengthStart = at;
  while (at < line.size() && std::isdigit(static_cast<unsigned char>(line[at]))) {
    length = std::min<uint64_t>(length * 10 + static_cast<uint64_t>(line[at] - '0'), uint64_t{1} << 40);
    ++at;
  }
  if (at == lengthStart || at + 1 != line.size()) return 0;
  return length;
}

}  // namespace

XvcPort::XvcPort(std::string host, uint16_t tcpPort, uint32_t tckPeriodNs, int replyTimeoutMs)
    : host_(std::move(host)), tcpPort_(tcpPort), tckPeriodNs_(tckPeriodNs), replyTimeoutMs_(replyTimeoutMs) {}

// The job's last answers were collected when its cable was done with the port: closing sends what
// is left and waits for no answer nobody would read.
XvcPort::~XvcPort() {
  if (fd_ < 0) return;
  sendShift();
  disconnect();
}

std::string XvcPort::server() const { return host_ + ":" + std::to_string(tcpPort_); }

bool XvcPort::grantAccess() {
  if (fd_ >= 0) {
    // A server that closed the connection since the last job is seen here, not mid-scan.
    char probe;
    const ssize_t got = net::receiveSome(fd_, &probe, 1, MSG_PEEK | net::kNoWait);
    const int error = got < 0 ? net::lastError() : 0;
    if (got == 0 || (got < 0 && error != EAGAIN && error != EWOULDBLOCK)) disconnect();
  }
  if (fd_ < 0) {
    // A new connection: the previous job has reported its failure, if it had one.
    clearLinkFailure();
    connect();
  }
  return true;
}

bool XvcPort::connect() {
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
  for (const addrinfo* a = found; a != nullptr && fd_ < 0; a = a->ai_next) {
    const int fd = net::openSocket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) {
      error = net::lastError();
      continue;
    }
    int result = net::connectSocket(fd, a->ai_addr, a->ai_addrlen);
    error = result == 0 ? 0 : net::lastError();
    if (result != 0 && error == EINPROGRESS) {
      // A bound wait, so an address that swallows packets cannot hang a job.
      error = ETIMEDOUT;
      if (net::pollSocket(fd, POLLOUT, kConnectTimeoutMs) == 1) error = net::connectError(fd);
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
    noteLinkFailure("cannot connect to " + server() + " (" + net::errorText(error) + ")");
    return false;
  }
  lastData_ = 0xFF;
  trstHeld_ = false;
  bitsInShift_ = 0;
  bitsClocked_ = 0;
  return handshake();
}

// Asks for the server's vector length and, when wanted, the TCK period.
bool XvcPort::handshake() {
  if (!sendAll("getinfo:", 8)) return false;
  std::string line;
  char c = 0;
  while (c != '\n' && line.size() < kMaxInfoLine) {
    if (!receiveAll(&c, 1)) return false;
    line += c;
  }
  const uint64_t vectorLength = vectorLengthFromInfo(line);
  // The server's length bounds one shift's TMS and TDI vectors together: some servers keep both
  // in one buffer of that size.
  if (vectorLength < 2) {
    fail(server() + " does not answer as an XVC server");
    return false;
  }
  const size_t bytes = static_cast<size_t>(std::min<uint64_t>(vectorLength / 2, kMaxShiftBytes));
  if (bytes != shiftBytes_) {
    shiftBytes_ = bytes;
    message_ = std::make_unique<char[]>(kShiftHeader + 2 * bytes);
    std::memcpy(message_.get(), "shift:", 6);
    answer_ = std::make_unique<uint8_t[]>(bytes);
  }
  if (tckPeriodNs_ != 0) {
    char request[11] = "settck:";
    putLittleEndian32(request + 7, tckPeriodNs_);
    char granted[4];
    if (!sendAll(request, 11) || !receiveAll(granted, 4)) return false;
    grantedPeriodNs_ = getLittleEndian32(granted);
    if (grantedPeriodNs_ != tckPeriodNs_) {
      std::fprintf(stderr, "xvc: %s runs TCK with a period of %u ns (%u ns asked)\n", server().c_str(),
                   grantedPeriodNs_, tckPeriodNs_);
    }
  }
  return true;
}

void XvcPort::disconnect() {
  if (fd_ >= 0) net::closeSocket(fd_);
  fd_ = -1;
  bitsInShift_ = 0;
  shiftsInFlight_ = 0;
  answerBytesInFlight_ = 0;
  for (size_t i = 0; i < pendingCount_; ++i) *pending_[i].dest = 0xFF;
  pendingCount_ = 0;
}

void XvcPort::fail(const std::string& cause) {
  noteLinkFailure(cause);
  disconnect();
}

// Ready: true. A stop request ends the wait and the connection, whose answers are now out of step;
// the cause names the stop, so the job ends as stopped instead of reading an absent port as data.
// Silence until the deadline blames the link.
bool XvcPort::waitFor(short events, Deadline deadline) {
  int slice = 0;  // what is already there is taken even from a stopped job
  for (;;) {
    const int ready = net::pollSocket(fd_, events, slice);
    if (ready > 0) return true;
    if (ready < 0 && net::lastError() != EINTR) {
      fail("connection to " + server() + " lost");
      return false;
    }
    if (stopWanted()) {
      fail("stopped while waiting for " + server());
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      const std::string limit = replyTimeoutMs_ % 1000 == 0 ? std::to_string(replyTimeoutMs_ / 1000) + " s"
                                                            : std::to_string(replyTimeoutMs_) + " ms";
      fail("no answer from " + server() + " within " + limit);
      return false;
    }
    slice = static_cast<int>(std::min<long long>(left, kStopCheckMs));
  }
}

XvcPort::Deadline XvcPort::replyDeadline() const {
  return Clock::now() + std::chrono::milliseconds(replyTimeoutMs_);
}

// The limit holds for the whole message, however the server cuts it into pieces.
bool XvcPort::sendAll(const char* data, size_t length) {
  const Deadline deadline = replyDeadline();
  while (length > 0) {
    if (fd_ < 0) return false;
    const ssize_t sent = net::sendSome(fd_, data, length, net::kNoSignal | net::kNoWait);
    const int error = sent < 0 ? net::lastError() : 0;
    if (sent > 0) {
      data += sent;
      length -= static_cast<size_t>(sent);
    } else if (sent < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
      if (!waitFor(POLLOUT, deadline)) return false;
    } else if (!(sent < 0 && error == EINTR)) {
      fail("connection to " + server() + " lost");
      return false;
    }
  }
  return true;
}

// The limit holds for the whole answer: a server trickling it byte by byte is still silent.
bool XvcPort::receiveAll(char* data, size_t length) {
  const Deadline deadline = replyDeadline();
  while (length > 0) {
    if (fd_ < 0 || !waitFor(POLLIN, deadline)) return false;
    const ssize_t got = net::receiveSome(fd_, data, length, net::kNoWait);
    const int error = got < 0 ? net::lastError() : 0;
    if (got > 0) {
      data += got;
      length -= static_cast<size_t>(got);
    } else if (got == 0 || (error != EINTR && error != EAGAIN && error != EWOULDBLOCK)) {
      fail("connection to " + server() + " lost");
      return false;
    }
  }
  return true;
}

void XvcPort::write(uint16_t port, uint8_t value) {
  if (port != kLptDataPort || fd_ < 0) return;
  const uint8_t before = lastData_;
  lastData_ = value;
  if (!(value & kTrstReleasedBit)) {
    trstHeld_ = true;  // the TAP is held in reset: clocks meanwhile do nothing
    return;
  }
  if (trstHeld_) {
    trstHeld_ = false;
    for (int i = 0; i < 5; ++i) addClock(true, false);
  }
  if ((value & kTckBit) && !(before & kTckBit)) addClock((value & kTmsBit) != 0, (value & kTdiBit) != 0);
}

void XvcPort::addClock(bool tms, bool tdi) {
  if (fd_ < 0) return;
  const size_t byte = bitsInShift_ / 8;
  const auto mask = static_cast<uint8_t>(1u << (bitsInShift_ % 8));
  char* tmsVector = message_.get() + kShiftHeader;
  char* tdiVector = tmsVector + shiftBytes_;
  if (mask == 1) {
    tmsVector[byte] = 0;
    tdiVector[byte] = 0;
  }
  if (tms) tmsVector[byte] = static_cast<char>(tmsVector[byte] | mask);
  if (tdi) tdiVector[byte] = static_cast<char>(tdiVector[byte] | mask);
  ++bitsInShift_;
  ++bitsClocked_;
  if (bitsInShift_ == shiftBytes_ * 8) sendShift();
}

void XvcPort::sendShift() {
  if (bitsInShift_ == 0 || fd_ < 0) return;
  const size_t bytes = (bitsInShift_ + 7) / 8;
  if (shiftsInFlight_ == kMaxShiftsInFlight || (shiftsInFlight_ > 0 && answerBytesInFlight_ + bytes > kAnswerWindow)) {
    collectAnswers();
    if (fd_ < 0) return;
  }
  char* message = message_.get();
  putLittleEndian32(message + 6, bitsInShift_);
  // A short shift's TDI vector follows its TMS vector directly.
  if (bytes < shiftBytes_) std::memmove(message + kShiftHeader + bytes, message + kShiftHeader + shiftBytes_, bytes);
  inFlight_[shiftsInFlight_++] = Shift{bitsClocked_ - bitsInShift_, bitsInShift_};
  answerBytesInFlight_ += bytes;
  bitsInShift_ = 0;
  sendAll(message, kShiftHeader + 2 * bytes);
}

// Takes every TDO answer in flight and hands each waiting read its bit.
void XvcPort::collectAnswers() {
  if (shiftsInFlight_ == 0 || fd_ < 0) return;
  ++roundTrips_;
  size_t resolved = 0;
  for (size_t s = 0; s < shiftsInFlight_; ++s) {
    const Shift shift = inFlight_[s];
    if (!receiveAll(reinterpret_cast<char*>(answer_.get()), (shift.bits + 7) / 8)) return;  // reads got 0xFF
    const uint64_t end = shift.firstBit + shift.bits;
    for (; resolved < pendingCount_ && pending_[resolved].bit < end; ++resolved) {
      const uint64_t offset = pending_[resolved].bit - shift.firstBit;
      const bool tdo = (answer_[offset / 8] >> (offset % 8)) & 1;
      *pending_[resolved].dest = tdo ? kTdoStatusBit : 0;
    }
  }
  shiftsInFlight_ = 0;
  answerBytesInFlight_ = 0;
  std::copy(pending_ + resolved, pending_ + pendingCount_, pending_);
  pendingCount_ -= resolved;
}

uint8_t XvcPort::read(uint16_t port) {
  if (fd_ < 0) return 0xFF;
  // The cable only reads the data port back to see that a port is there.
  if (port == kLptDataPort) return lastData_;
  if (port != kLptStatusPort) return 0xFF;
  uint8_t value = 0xFF;
  readDeferred(port, &value);
  flush();
  return value;
}

void XvcPort::readDeferred(uint16_t port, uint8_t* dest) {
  // Every shift answers with the TDO of all its clocks anyway: a read nobody keeps costs nothing.
  if (dest == nullptr) return;
  if (fd_ < 0 || port != kLptStatusPort) {
    *dest = read(port);
    return;
  }
  if (bitsClocked_ == 0) {  // nothing clocked yet: no TDO to report
    *dest = 0xFF;
    return;
  }
  // The bit is clocked already: a flush before taking the read would collect its answer unseen.
  pending_[pendingCount_++] = PendingRead{bitsClocked_ - 1, dest};
  if (pendingCount_ == kMaxPendingReads) flush();
}

void XvcPort::flush() {
  if (fd_ < 0) return;
  sendShift();
  collectAnswers();
  if (fd_ < 0) return;
  // Every answer is in: anything more is not the protocol.
  char extra;
  if (net::receiveSome(fd_, &extra, 1, MSG_PEEK | net::kNoWait) > 0) fail(server() + " answered outside the XVC protocol");
}

}  // namespace zorv
