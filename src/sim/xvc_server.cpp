#include "sim/xvc_server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "cable/socket_io.h"
#include "sim/lpt_pins.h"
namespace zorv::sim {

// The client's byte stream, read in large pieces, each message by its own deadline.
class XvcServer::Connection {
 public:
  Connection(XvcServer& server, int fd) : server_(server), fd_(fd) {}

  // The next message is awaited from now.
  void startMessage() { until_ = server_.listener_.messageDeadline(); }

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
      if (!server_.listener_.waitFor(fd_, POLLIN, until_)) return false;
      const ssize_t got = net::receiveSome(fd_, buffer_, sizeof buffer_, 0);
      if (got < 0 && net::lastError() == EINTR) continue;
      if (got <= 0) return false;
      next_ = 0;
      end_ = static_cast<size_t>(got);
      return true;
    }
  }

  XvcServer& server_;
  int fd_;
  LoopbackListener::Deadline until_{};
  char buffer_[65536];
  size_t next_ = 0;
  size_t end_ = 0;
};

XvcServer::XvcServer(PortIo& board, size_t maxVectorBytes)
    : board_(board), maxVectorBytes_(maxVectorBytes), tms_(maxVectorBytes), tdi_(maxVectorBytes), tdo_(maxVectorBytes) {}

void XvcServer::serve() {
  listener_.serve([this](int fd) { serveConnection(fd); });
}

void XvcServer::serveConnection(int fd) {
  Connection in(*this, fd);
  char name[8];
  for (;;) {
    in.startMessage();
    // Every command is a few letters and a colon.
    size_t length = 0;
    do {
      if (length == sizeof name || !in.take(name + length, 1)) return;
    } while (name[length++] != ':');
    const std::string command(name, length);
    if (command == "getinfo:") {
      const std::string info = "xvcServer_v1.0:" + std::to_string(maxVectorBytes_) + "\n";
      if (!listener_.sendAll(fd, info.data(), info.size(), listener_.messageDeadline())) return;
    } else if (command == "settck:") {
      char period[4];
      if (!in.take(period, 4) || !listener_.sendAll(fd, period, 4, listener_.messageDeadline())) return;
    } else if (command == "shift:") {
      uint8_t count[4];
      if (!in.take(count, 4)) return;
      const uint32_t bits = count[0] | (count[1] << 8) | (count[2] << 16) | (static_cast<uint32_t>(count[3]) << 24);
      const size_t bytes = (static_cast<size_t>(bits) + 7) / 8;
      if (bytes > maxVectorBytes_ || !in.take(tms_.data(), bytes) || !in.take(tdi_.data(), bytes)) return;
      if (!shift(bits)) return;
      // The answer's own deadline: playing a long shift on the board is no client's silence.
      if (!listener_.sendAll(fd, reinterpret_cast<const char*>(tdo_.data()), bytes, listener_.messageDeadline())) return;
    } else {
      return;
    }
  }
}

bool XvcServer::shift(uint32_t bits) {
  std::fill_n(tdo_.begin(), (static_cast<size_t>(bits) + 7) / 8, uint8_t{0});
  for (uint32_t i = 0; i < bits; ++i) {
    // A shift of millions of bits takes seconds on the board: a stop must not wait for its end.
    if (i % kBitsBetweenStopChecks == 0 && listener_.stopping()) return false;
    const auto mask = static_cast<uint8_t>(1u << (i % 8));
    uint8_t pins = kTrst;
    if (tms_[i / 8] & mask) pins |= kTms;
    if (tdi_[i / 8] & mask) pins |= kTdi;
    board_.write(kLptDataPort, pins);
    board_.write(kLptDataPort, pins | kTck);
    if (board_.read(kLptStatusPort) & kTdo) tdo_[i / 8] |= mask;
  }
  return true;
}

}  // namespace zorv::sim
