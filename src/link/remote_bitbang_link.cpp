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
}

void RemoteBitbangLink::clockTms(uint32_t tmsBits, int count, bool tdi) {
  if (!tcp_.isOpen()) return;
  for (int i = 0; i < count; ++i) clock(((tmsBits >> i) & 1) != 0, tdi);
}

void RemoteBitbangLink::shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) {
  if (!tcp_.isOpen()) {
    if (capture.dest != nullptr) std::memset(capture.dest, 0xFF, capture.count);
    return;
  }
  if (capture.dest != nullptr && capture.count > 0) {
    if (pendingCount_ == kMaxPendingRuns) flush();
    if (!tcp_.isOpen()) {
      std::memset(capture.dest, 0xFF, capture.count);
      return;
    }
    pending_[pendingCount_++] = {capture.dest, capture.count};
  }
  for (uint32_t i = 0; i < length; ++i) {
    clock(exitOnLast && i + 1 == length, (tdi[i] & 1) != 0);
    if (capture.dest != nullptr && i >= capture.first && i - capture.first < capture.count) {
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

void RemoteBitbangLink::flush() {
  sendBuffered();
  if (!tcp_.isOpen() || owed_ == 0) return;
  ++roundTrips_;
  while (owed_ > 0) {
    if (!tcp_.waitReadable(tcp_.deadline()) || !takeAnswers()) {
      if (!tcp_.isOpen()) fail();
      return;
    }
  }
}

}  // namespace zorv
