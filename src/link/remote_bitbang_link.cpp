#include "link/remote_bitbang_link.h"

#include <cstring>

namespace zorv {

RemoteBitbangLink::RemoteBitbangLink(std::string host, uint16_t tcpPort, int silenceLimitMs)
    : tcp_(std::move(host), tcpPort, silenceLimitMs) {}

RemoteBitbangLink::~RemoteBitbangLink() { release(); }

void RemoteBitbangLink::release() {
  if (!tcp_.isOpen()) return;
  // The job's last answers were collected when its cable was done: closing waits for none.
  put('Q');
  const size_t length = outLength_;
  outLength_ = 0;
  tcp_.sendAll(out_, length);
  tcp_.close();
  // Nothing is owed once the job has collected its captures; should anything be, its buffers may
  // be gone with the job: it is forgotten, never written.
  pendingHead_ = 0;
  pendingCount_ = 0;
  owed_ = 0;
}

bool RemoteBitbangLink::grantAccess() {
  // A stopped job that never brought its last scan to an end has nothing more to send.
  if (finishing_) {
    tcp_.close();
    fail();
  }
  tcp_.dropIfClosedByPeer();
  if (!tcp_.isOpen()) {
    // A new connection: the previous job has reported its failure, if it had one.
    clearLinkFailure();
    dropPending();
    outLength_ = 0;
    if (!tcp_.connect()) {
      noteLinkFailure(tcp_.cause());
      return true;
    }
    put('r');  // the server's nTRST level is not known: release it
    tap_.reset();
  }
  return true;
}

void RemoteBitbangLink::watchStopFlag(const std::atomic<int>* flag) {
  JtagLink::watchStopFlag(flag);
  tcp_.watchStopFlag(flag);
}

void RemoteBitbangLink::fail() {
  noteLinkFailure(tcp_.cause());
  outLength_ = 0;
  dropPending();
  finishing_ = false;
}

void RemoteBitbangLink::stopAtRest() {
  if (!tcp_.isOpen()) return;
  if (!finishing_) {
    noteLinkFailure("stopped while waiting for " + tcp_.where());
    finishing_ = true;
  }
  if (!tap_.atRest()) return;
  // The answers owed are read first: a connection closed on bytes unread is reset, and a server
  // whose answer then fails may drop the commands it has not played.
  if (collectAnswers()) {
    put('Q');
    sendBuffered();
  }
  tcp_.close();
  outLength_ = 0;
  finishing_ = false;
}

void RemoteBitbangLink::dropPending() {
  for (size_t i = pendingHead_; i < pendingCount_; ++i) std::memset(pending_[i].dest, 0xFF, pending_[i].length);
  pendingHead_ = 0;
  pendingCount_ = 0;
  owed_ = 0;
}

// The protocol's digit: TCK on bit 2, TMS bit 1, TDI bit 0.
void RemoteBitbangLink::clock(bool tms, bool tdi) {
  const char pins = static_cast<char>('0' + (tms ? 2 : 0) + (tdi ? 1 : 0));
  put(pins);
  put(static_cast<char>(pins + 4));
  tap_.clock(tms);
  if (tcp_.stopSeen()) stopAtRest();
}

void RemoteBitbangLink::clockTms(uint32_t tmsBits, int count, bool tdi) {
  for (int i = 0; i < count && tcp_.isOpen(); ++i) clock(((tmsBits >> i) & 1) != 0, tdi);
}

void RemoteBitbangLink::shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) {
  if (!tcp_.isOpen()) {
    if (capture.dest != nullptr) std::memset(capture.dest, 0xFF, capture.count);
    return;
  }
  bool capturing = capture.dest != nullptr && capture.count > 0;
  if (capturing) {
    if (pendingCount_ == kMaxPendingRuns) flush();
    if (!tcp_.isOpen()) {
      std::memset(capture.dest, 0xFF, capture.count);
      return;
    }
    // Stopped: the scan goes to its end, its bits read by nobody.
    if (finishing_) std::memset(capture.dest, 0xFF, capture.count);
    capturing = !finishing_;
    if (capturing) pending_[pendingCount_++] = {capture.dest, capture.count};
  }
  for (uint32_t i = 0; i < length; ++i) {
    clock(exitOnLast && i + 1 == length, (tdi[i] & 1) != 0);
    if (capturing && i >= capture.first && i - capture.first < capture.count) {
      ++owed_;
      put('R');
    }
    if (!tcp_.isOpen()) return;
  }
}

void RemoteBitbangLink::pulseTrst() {
  if (!tcp_.isOpen()) return;
  put('t');
  put('r');
  tap_.reset();
  if (tcp_.stopSeen()) stopAtRest();
}

bool RemoteBitbangLink::acceptAnswers(const char* data, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const char c = data[i];
    if ((c != '0' && c != '1') || owed_ == 0) {
      tcp_.failOutsideProtocol("protocol");
      fail();
      return false;
    }
    --owed_;
    if (pendingHead_ == pendingCount_) continue;
    PendingRun& run = pending_[pendingHead_];
    *run.dest++ = c == '1' ? kTdoCaptured : 0;
    if (--run.length == 0) ++pendingHead_;
  }
  if (pendingHead_ == pendingCount_) pendingHead_ = pendingCount_ = 0;
  return true;
}

// Takes in whatever answers have arrived; false when the link failed meanwhile.
bool RemoteBitbangLink::takeAnswers() {
  char in[4096];
  for (;;) {
    const long got = tcp_.receiveAvailable(in, sizeof in);
    if (got < 0) {
      fail();
      return false;
    }
    if (got == 0) return true;
    if (!acceptAnswers(in, static_cast<size_t>(got))) return false;
  }
}

void RemoteBitbangLink::sendBuffered() {
  if (!tcp_.isOpen() || outLength_ == 0) return;
  const size_t length = outLength_;
  outLength_ = 0;
  if (!tcp_.sendAll(out_, length, [this] { return takeAnswers(); }) && !tcp_.isOpen()) fail();
}

bool RemoteBitbangLink::collectAnswers() {
  sendBuffered();
  if (!tcp_.isOpen()) return false;
  if (owed_ == 0) return true;
  ++roundTrips_;
  while (owed_ > 0) {
    if (!tcp_.waitReadable(tcp_.deadline())) {
      // The job's stop: the answers are waited for again once the scan in flight has gone out.
      if (!tcp_.isOpen()) fail();
      return false;
    }
    if (!takeAnswers()) return false;
  }
  return true;
}

void RemoteBitbangLink::flush() {
  if (!finishing_) collectAnswers();
  if (tcp_.stopSeen()) stopAtRest();
  // Stopped in the middle of a scan: what the caller waits for will not come.
  if (finishing_) {
    for (size_t i = pendingHead_; i < pendingCount_; ++i) std::memset(pending_[i].dest, 0xFF, pending_[i].length);
    pendingHead_ = pendingCount_ = 0;
  }
}

}  // namespace zorv
