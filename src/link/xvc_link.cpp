#include "link/xvc_link.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace zorv {
namespace {

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

XvcLink::XvcLink(std::string host, uint16_t tcpPort, uint32_t tckPeriodNs, int silenceLimitMs)
    : tcp_(std::move(host), tcpPort, silenceLimitMs),
      tckPeriodNs_(tckPeriodNs),
      received_(std::make_unique<uint8_t[]>(kReceiveChunk)),
      pending_(std::make_unique<PendingCapture[]>(kMaxPendingCaptures)) {}

// The job's last answers were collected when its cable was done with the link: closing sends what
// is left and waits for no answer nobody would read. Answers taken in on the way go nowhere: the
// buffers of captures still waiting may be gone.
XvcLink::~XvcLink() { release(); }

void XvcLink::release() {
  if (!tcp_.isOpen()) return;
  pendingCount_ = 0;
  resolved_ = 0;
  sendShift(false);
  sendGathered();
  tcp_.close();
}

bool XvcLink::grantAccess() {
  // A stopped job that never brought its last scan to an end has nothing more to send.
  if (finishing_) fail();
  tcp_.dropIfClosedByPeer();
  if (!tcp_.isOpen()) {
    // A new connection: the previous job has reported its failure, if it had one.
    clearLinkFailure();
    dropPending();
    if (!tcp_.connect()) {
      noteLinkFailure(tcp_.cause());
      return true;
    }
    tap_.reset();
    bitsInShift_ = 0;
    bitsClocked_ = 0;
    bitsSent_ = 0;
    bitsAnswered_ = 0;
    handshake();
  }
  return true;
}

void XvcLink::watchStopFlag(const std::atomic<int>* flag) {
  JtagLink::watchStopFlag(flag);
  tcp_.watchStopFlag(flag);
}

// Asks for the server's vector length and, when wanted, the TCK period.
bool XvcLink::handshake() {
  std::string line;
  char c = 0;
  if (!tcp_.sendAll("getinfo:", 8)) {
    fail();
    return false;
  }
  // One answer, one limit: a greeting trickled byte by byte is silence all the same.
  const TcpConnection::Deadline until = tcp_.deadline();
  while (c != '\n' && line.size() < kMaxInfoLine) {
    if (!tcp_.receiveAll(&c, 1, until)) {
      fail();
      return false;
    }
    line += c;
  }
  const uint64_t vectorLength = vectorLengthFromInfo(line);
  // The server's length bounds one shift's TMS and TDI vectors together: some servers keep both
  // in one buffer of that size.
  if (vectorLength < 2) {
    noteLinkFailure(tcp_.where() + " does not answer as an XVC server");
    tcp_.close();
    return false;
  }
  const size_t bytes = static_cast<size_t>(std::min<uint64_t>(vectorLength / 2, kMaxShiftBytes));
  if (bytes != shiftBytes_) {
    shiftBytes_ = bytes;
    message_ = std::make_unique<char[]>(kShiftHeader + 2 * bytes);
    std::memcpy(message_.get(), "shift:", 6);
    answer_ = std::make_unique<uint8_t[]>(bytes);
    gatheredCapacity_ = std::max(kSendChunk, kShiftHeader + 2 * bytes);
    gathered_ = std::make_unique<char[]>(gatheredCapacity_);
  }
  if (tckPeriodNs_ != 0) {
    char request[11] = "settck:";
    putLittleEndian32(request + 7, tckPeriodNs_);
    char granted[4];
    if (!tcp_.sendAll(request, 11) || !tcp_.receiveAll(granted, 4, tcp_.deadline())) {
      fail();
      return false;
    }
    grantedPeriodNs_ = getLittleEndian32(granted);
    if (grantedPeriodNs_ != tckPeriodNs_) {
      std::fprintf(stderr, "xvc: %s runs TCK with a period of %u ns (%u ns asked)\n", tcp_.where().c_str(),
                   grantedPeriodNs_, tckPeriodNs_);
    }
  }
  return true;
}

void XvcLink::fail() {
  noteLinkFailure(tcp_.cause());
  tcp_.close();
  dropPending();
  finishing_ = false;
}

void XvcLink::dropPending() {
  bitsInShift_ = 0;
  gatheredLength_ = 0;
  gatheredAnswerBytes_ = 0;
  bitsSent_ = bitsClocked_;
  bitsAnswered_ = bitsClocked_;
  answerBytesOwed_ = 0;
  oldestAnswerBytes_ = 0;
  shortShiftsFirst_ = 0;
  shortShiftsCount_ = 0;
  for (size_t i = resolved_; i < pendingCount_; ++i) {
    PendingCapture& capture = pending_[i];
    std::memset(capture.dest + capture.done, 0xFF, capture.count - capture.done);
  }
  pendingCount_ = 0;
  resolved_ = 0;
}

void XvcLink::abandonCaptures() {
  for (size_t i = resolved_; i < pendingCount_; ++i) {
    PendingCapture& capture = pending_[i];
    std::memset(capture.dest + capture.done, 0xFF, capture.count - capture.done);
  }
  pendingCount_ = 0;
  resolved_ = 0;
}

void XvcLink::stopAtRest() {
  if (!tcp_.isOpen()) return;
  if (!finishing_) {
    noteLinkFailure("stopped while waiting for " + tcp_.where());
    finishing_ = true;
  }
  if (!tap_.atRest()) return;
  // The answers still come in as they would have: what the server played is what it said.
  sendShift(false);
  collectAnswers();
  tcp_.close();
  dropPending();
  finishing_ = false;
}

void XvcLink::clockTms(uint32_t tmsBits, int count, bool tdi) {
  for (int i = 0; i < count && tcp_.isOpen(); ++i) addClock(((tmsBits >> i) & 1) != 0, tdi);
}

void XvcLink::shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) {
  if (capture.dest != nullptr && capture.count > 0) {
    if (pendingCount_ == kMaxPendingCaptures) flush();
    if (!tcp_.isOpen() || finishing_) {
      std::memset(capture.dest, 0xFF, capture.count);
      return;
    }
    pending_[pendingCount_++] = {bitsClocked_ + capture.first, capture.count, 0, capture.dest};
  }
  for (uint32_t i = 0; i < length && tcp_.isOpen(); ++i) addClock(exitOnLast && i + 1 == length, (tdi[i] & 1) != 0);
}

void XvcLink::addClock(bool tms, bool tdi) {
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
  tap_.clock(tms);
  if (bitsInShift_ == shiftBytes_ * 8) sendShift(true);
  if (tcp_.stopSeen()) stopAtRest();
}

void XvcLink::sendShift(bool keepWindow) {
  if (bitsInShift_ == 0 || !tcp_.isOpen()) return;
  const size_t bytes = (bitsInShift_ + 7) / 8;
  // After a stop the answers are waited for once the scan in flight has gone out.
  if (keepWindow && !tcp_.stopSeen() && answerBytesOwed_ + gatheredAnswerBytes_ + bytes > kAnswerWindow) {
    collectAnswers();
    if (!tcp_.isOpen()) return;
  }
  if (bitsInShift_ < shiftBytes_ * 8) {
    // Its answer is shorter than a full shift's: where it ends is kept until it is answered.
    if (shortShiftsCount_ == kShortShiftsInFlight) collectAnswers();
    if (shortShiftsCount_ == kShortShiftsInFlight) {
      fail();
      return;
    }
    shortShiftEnds_[(shortShiftsFirst_ + shortShiftsCount_++) % kShortShiftsInFlight] = bitsSent_ + bitsInShift_;
  }
  char* message = message_.get();
  putLittleEndian32(message + 6, bitsInShift_);
  // A short shift's TDI vector follows its TMS vector directly.
  if (bytes < shiftBytes_) std::memmove(message + kShiftHeader + bytes, message + kShiftHeader + shiftBytes_, bytes);
  bitsSent_ += bitsInShift_;
  gatheredAnswerBytes_ += bytes;
  bitsInShift_ = 0;
  const size_t length = kShiftHeader + 2 * bytes;
  if (gatheredLength_ + length > gatheredCapacity_) sendGathered();
  std::memcpy(gathered_.get() + gatheredLength_, message, length);
  gatheredLength_ += length;
}

// Short shifts go out many to a send, not one packet each.
void XvcLink::sendGathered() {
  if (gatheredLength_ == 0 || !tcp_.isOpen()) return;
  // A byte that came after the last answer was taken would pass for the first of the next.
  if (!takeArrivedAnswers()) return;
  const size_t length = gatheredLength_;
  gatheredLength_ = 0;
  answerBytesOwed_ += gatheredAnswerBytes_;
  gatheredAnswerBytes_ = 0;
  // A server blocked on sending its answers reads nothing: they are taken in on the way.
  if (!tcp_.sendAll(gathered_.get(), length, [this] { return takeArrivedAnswers(); })) fail();
}

// Hands the shift's TDO bits to the captures waiting for them, in clock order.
void XvcLink::resolve(uint64_t firstBit, uint32_t bits) {
  const uint64_t end = firstBit + bits;
  for (; resolved_ < pendingCount_; ++resolved_) {
    PendingCapture& capture = pending_[resolved_];
    while (capture.done < capture.count && capture.firstBit + capture.done < end) {
      const uint64_t offset = capture.firstBit + capture.done - firstBit;
      capture.dest[capture.done++] = ((answer_[offset / 8] >> (offset % 8)) & 1) != 0 ? kTdoCaptured : 0;
    }
    if (capture.done < capture.count) return;
  }
}

bool XvcLink::takeArrivedAnswers() {
  const size_t fullShiftBits = shiftBytes_ * 8;
  for (;;) {
    // One byte more than is owed is asked for: a byte beyond the answers owed, whenever it comes,
    // is the server breaking the protocol, and would shift every later capture.
    const long got = tcp_.receiveAvailable(reinterpret_cast<char*>(received_.get()),
                                           std::min(answerBytesOwed_ + 1, kReceiveChunk));
    if (got < 0) {
      fail();
      return false;
    }
    if (got == 0) return true;
    if (static_cast<size_t>(got) > answerBytesOwed_) {
      tcp_.failOutsideProtocol("XVC protocol");
      fail();
      return false;
    }
    answerBytesOwed_ -= static_cast<size_t>(got);
    const uint8_t* data = received_.get();
    auto left = static_cast<size_t>(got);
    while (left > 0) {
      uint64_t inFlight = bitsSent_ - bitsAnswered_;
      if (shortShiftsCount_ > 0) inFlight = std::min(inFlight, shortShiftEnds_[shortShiftsFirst_] - bitsAnswered_);
      const auto bits = static_cast<uint32_t>(std::min<uint64_t>(fullShiftBits, inFlight));
      if (bits == 0) {
        // An answer to no shift sent.
        tcp_.failOutsideProtocol("XVC protocol");
        fail();
        return false;
      }
      const size_t wanted = (bits + 7) / 8 - oldestAnswerBytes_;
      const size_t take = std::min(wanted, left);
      std::memcpy(answer_.get() + oldestAnswerBytes_, data, take);
      oldestAnswerBytes_ += take;
      data += take;
      left -= take;
      if (take == wanted) {
        resolve(bitsAnswered_, bits);
        bitsAnswered_ += bits;
        oldestAnswerBytes_ = 0;
        if (shortShiftsCount_ > 0 && bitsAnswered_ == shortShiftEnds_[shortShiftsFirst_]) {
          shortShiftsFirst_ = (shortShiftsFirst_ + 1) % kShortShiftsInFlight;
          --shortShiftsCount_;
        }
      }
    }
  }
}

void XvcLink::collectAnswers() {
  sendGathered();
  if (answerBytesOwed_ == 0 || !tcp_.isOpen()) return;
  ++roundTrips_;
  // The silence limit runs from the last whole shift answered: a long window of slow shifts is
  // not silence, a server trickling one answer is.
  TcpConnection::Deadline until = tcp_.deadline();
  uint64_t answered = bitsAnswered_;
  while (answerBytesOwed_ > 0) {
    if (!tcp_.waitReadable(until)) {
      // The job's stop: the answers are waited for again once the scan in flight has gone out.
      if (!tcp_.isOpen()) fail();
      return;
    }
    if (!takeArrivedAnswers()) return;
    if (bitsAnswered_ != answered) {
      answered = bitsAnswered_;
      until = tcp_.deadline();
    }
  }
  std::copy(pending_.get() + resolved_, pending_.get() + pendingCount_, pending_.get());
  pendingCount_ -= resolved_;
  resolved_ = 0;
}

void XvcLink::flush() {
  if (!tcp_.isOpen()) return;
  if (!finishing_) {
    sendShift(false);
    collectAnswers();
  }
  if (tcp_.stopSeen()) stopAtRest();
  // Stopped in the middle of a scan: what the caller waits for will not come.
  if (finishing_) abandonCaptures();
}

}  // namespace zorv
