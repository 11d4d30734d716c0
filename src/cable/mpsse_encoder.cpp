#include "cable/mpsse_encoder.h"

#include <algorithm>

namespace zorv {
namespace {

// MPSSE opcodes: clocks leave TDI/TMS on the falling edge and sample TDO on the rising one, LSB
// first, as a JTAG TAP wants them.
constexpr uint8_t kBytesOut = 0x19;
constexpr uint8_t kBitsOut = 0x1B;
constexpr uint8_t kBytesOutIn = 0x39;
constexpr uint8_t kBitsOutIn = 0x3B;
constexpr uint8_t kTmsOut = 0x4B;
constexpr uint8_t kTmsOutIn = 0x6B;
constexpr uint8_t kSendImmediate = 0x87;
constexpr uint8_t kReadLowPins = 0x81;
constexpr size_t kMaxBytesPerShift = 65536;
// Bytes nobody reads between two read bytes cost less read back than a command split.
constexpr size_t kShortestUnreadGap = 3;

// IEEE 1149.1 TAP states in their usual order, and where each goes with TMS 0 and TMS 1.
enum Tap : uint8_t {
  Reset, Idle, SelectDr, CaptureDr, ShiftDr, Exit1Dr, PauseDr, Exit2Dr, UpdateDr,
  SelectIr, CaptureIr, ShiftIr, Exit1Ir, PauseIr, Exit2Ir, UpdateIr
};
constexpr uint8_t kNextTap[16][2] = {
    {Idle, Reset},        {Idle, SelectDr},    {CaptureDr, SelectIr}, {ShiftDr, Exit1Dr},
    {ShiftDr, Exit1Dr},   {PauseDr, UpdateDr}, {PauseDr, Exit2Dr},    {ShiftDr, UpdateDr},
    {Idle, SelectDr},     {CaptureIr, Reset},  {ShiftIr, Exit1Ir},    {ShiftIr, Exit1Ir},
    {PauseIr, UpdateIr},  {PauseIr, Exit2Ir},  {ShiftIr, UpdateIr},   {Idle, SelectDr}};

}  // namespace

MpsseEncoder::MpsseEncoder(MpsseTransport& transport, size_t readWindow)
    : transport_(transport), readWindow_(std::clamp<size_t>(readWindow, 1, kMaxReadWindow)) {}

bool MpsseEncoder::tdiMatters() const { return !tapKnown_ || tap_ == ShiftDr || tap_ == ShiftIr; }

void MpsseEncoder::advanceTap(bool tms) {
  tmsHighInRow_ = tms ? tmsHighInRow_ + 1 : 0;
  if (tapKnown_) {
    tap_ = kNextTap[tap_][tms ? 1 : 0];
  } else if (tmsHighInRow_ >= 5) {  // five clocks with TMS high reach Test-Logic-Reset from anywhere
    tapKnown_ = true;
    tap_ = Reset;
  }
}

void MpsseEncoder::tapWasReset() {
  tapKnown_ = true;
  tap_ = Reset;
}

void MpsseEncoder::clock(bool tms, bool tdi) {
  if (failed_) return;
  const bool matters = tdiMatters();
  if (moveBits_ > 0) {
    if (moveBits_ < kMaxMoveBits && (!matters || !moveTdiFixed_ || tdi == moveTdi_)) {
      if (matters && !moveTdiFixed_) {
        moveTdi_ = tdi;
        moveTdiFixed_ = true;
      }
      if (tms) moveTms_ = static_cast<uint8_t>(moveTms_ | (1u << moveBits_));
      ++moveBits_;
      tmsLevel_ = tms;
      advanceTap(tms);
      return;
    }
    closeMove();
  }
  if (!tms && !tmsLevel_) {
    if (runBits_ == kRunBytes * 8) closeRun();
    const uint32_t byte = runBits_ / 8;
    const auto mask = static_cast<uint8_t>(1u << (runBits_ % 8));
    if (mask == 1) run_[byte] = 0;
    if (tdi) run_[byte] = static_cast<uint8_t>(run_[byte] | mask);
    ++runBits_;
    advanceTap(false);
    return;
  }
  if (runBits_ > 0) closeRun();
  moveTms_ = tms ? 1 : 0;
  moveBits_ = 1;
  moveTdi_ = tdi;
  moveTdiFixed_ = matters;
  tmsLevel_ = tms;
  advanceTap(tms);
}

void MpsseEncoder::captureLast(uint8_t* dest, uint8_t one) {
  if (failed_) {
    *dest = 0xFF;
    return;
  }
  if (runBits_ == 0 && moveBits_ == 0) {  // nothing clocked since the last flush: TDO as pulled up
    *dest = one;
    return;
  }
  const uint32_t at = runBits_ > 0 ? runBits_ - 1 : static_cast<uint32_t>(moveBits_ - 1);
  captures_[captureCount_++] = Capture{at, dest, one};
  // The capture's bit is still pending, so a full list can be emptied only now.
  if (captureCount_ == kMaxCaptures) flush();
}

void MpsseEncoder::command(std::initializer_list<uint8_t> bytes) {
  if (failed_) return;
  closePending();
  reserve(bytes.size(), 0);
  for (const uint8_t b : bytes) put(b);
  tmsLevel_ = true;  // a pin command may have set TMS: assume the level that costs a TMS command
}

void MpsseEncoder::closePending() {
  if (runBits_ > 0) closeRun();
  if (moveBits_ > 0) closeMove();
}

void MpsseEncoder::mapCaptures(uint32_t first, uint32_t count, uint32_t answerBit) {
  for (; mapped_ < captureCount_ && captures_[mapped_].at < first + count; ++mapped_) {
    captures_[mapped_].at = answerBit + (captures_[mapped_].at - first);
  }
}

void MpsseEncoder::reserve(size_t commandBytes, size_t answerBytes) {
  if (answerBytes > 0 && answersPending_ + answerBytes > readWindow_) exchange();
  if (outLength_ + commandBytes + 1 > kOutBytes) sendOut();  // one byte kept for the send-immediate
}

void MpsseEncoder::closeRun() {
  const size_t fullBytes = runBits_ / 8;
  const uint32_t tailBits = runBits_ % 8;
  // Which bytes hold a bit to read.
  std::fill_n(runReads_, fullBytes, false);
  bool tailRead = false;
  for (size_t i = mapped_; i < captureCount_; ++i) {
    const uint32_t byte = captures_[i].at / 8;
    if (byte < fullBytes) {
      runReads_[byte] = true;
    } else {
      tailRead = true;
    }
  }
  size_t start = 0;
  while (start < fullBytes) {
    const bool read = runReads_[start];
    size_t end = start + 1;
    for (;;) {
      while (end < fullBytes && runReads_[end] == read) ++end;
      if (!read || end == fullBytes) break;
      // A short unread gap before more reads is read along.
      size_t gapEnd = end;
      while (gapEnd < fullBytes && !runReads_[gapEnd]) ++gapEnd;
      if (gapEnd == fullBytes || gapEnd - end >= kShortestUnreadGap) break;
      end = gapEnd;
    }
    emitRunBytes(start, end - start, read);
    start = end;
  }
  if (tailBits > 0) {
    const auto first = static_cast<uint32_t>(fullBytes * 8);
    reserve(3, tailRead ? 1 : 0);
    put(tailRead ? kBitsOutIn : kBitsOut);
    put(static_cast<uint8_t>(tailBits - 1));
    put(run_[fullBytes]);
    if (tailRead) {
      // Bits read come in from the top of the answer byte.
      mapCaptures(first, tailBits, static_cast<uint32_t>(answersPending_ * 8 + 8 - tailBits));
      ++answersPending_;
    }
  }
  runBits_ = 0;
}

void MpsseEncoder::emitRunBytes(size_t first, size_t count, bool read) {
  const size_t most = read ? std::min(kMaxBytesPerShift, readWindow_) : kMaxBytesPerShift;
  while (count > 0) {
    const size_t n = std::min(count, most);
    reserve(3 + n, read ? n : 0);
    put(read ? kBytesOutIn : kBytesOut);
    put(static_cast<uint8_t>((n - 1) & 0xFF));
    put(static_cast<uint8_t>((n - 1) >> 8));
    std::copy_n(run_ + first, n, out_ + outLength_);
    outLength_ += n;
    if (read) {
      mapCaptures(static_cast<uint32_t>(first * 8), static_cast<uint32_t>(n * 8),
                  static_cast<uint32_t>(answersPending_ * 8));
      answersPending_ += n;
    }
    first += n;
    count -= n;
  }
}

void MpsseEncoder::closeMove() {
  const bool read = mapped_ < captureCount_;
  reserve(3, read ? 1 : 0);
  put(read ? kTmsOutIn : kTmsOut);
  put(static_cast<uint8_t>(moveBits_ - 1));
  put(static_cast<uint8_t>(moveTms_ | (moveTdi_ ? 0x80 : 0x00)));
  if (read) {
    mapCaptures(0, static_cast<uint32_t>(moveBits_), static_cast<uint32_t>(answersPending_ * 8 + 8 - moveBits_));
    ++answersPending_;
  }
  moveBits_ = 0;
  moveTms_ = 0;
}

bool MpsseEncoder::sendOut() {
  if (failed_) return false;
  if (outLength_ == 0) return true;
  if (!transport_.send(out_, outLength_)) {
    fail();
    return false;
  }
  bytesSent_ += outLength_;
  outLength_ = 0;
  return true;
}

// Sends what is queued and, when answers are due, asks for them at once and hands them out.
bool MpsseEncoder::exchange() {
  if (failed_) return false;
  if (answersPending_ == 0) return sendOut();
  put(kSendImmediate);
  if (!sendOut()) return false;
  ++roundTrips_;
  if (!transport_.receive(answers_, answersPending_)) {
    fail();
    return false;
  }
  bytesAnswered_ += answersPending_;
  for (size_t i = 0; i < mapped_; ++i) {
    const Capture& c = captures_[i];
    *c.dest = (answers_[c.at / 8] >> (c.at % 8)) & 1 ? c.one : 0;
  }
  std::copy(captures_ + mapped_, captures_ + captureCount_, captures_);
  captureCount_ -= mapped_;
  mapped_ = 0;
  answersPending_ = 0;
  return true;
}

bool MpsseEncoder::flush() {
  if (failed_) return false;
  closePending();
  return exchange();
}

bool MpsseEncoder::sync() {
  if (failed_) return false;
  closePending();
  reserve(1, 1);
  put(kReadLowPins);
  ++answersPending_;  // no capture takes it
  return exchange();
}

void MpsseEncoder::fail() {
  failed_ = true;
  for (size_t i = 0; i < captureCount_; ++i) *captures_[i].dest = 0xFF;
  captureCount_ = 0;
  mapped_ = 0;
  answersPending_ = 0;
  outLength_ = 0;
  runBits_ = 0;
  moveBits_ = 0;
}

}  // namespace zorv
