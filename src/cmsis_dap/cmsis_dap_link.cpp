#include "cmsis_dap/cmsis_dap_link.h"

#include <algorithm>
#include <cstdio>

#include "cmsis_dap/dap_commands.h"
#include "text/format.h"

namespace zorv {
namespace {

// Waits are cut in slices so that a stop is seen within one.
constexpr int kWaitSliceMs = 100;
// Before DAP_Info has told the packet size, answers are read into the smallest packet a probe has.
constexpr size_t kFirstPacketBytes = 64;
// A probe runs TCK at the rate asked or slower; without --tck, at least this fast is assumed when
// a packet's clocks lengthen the wait for its answer.
constexpr uint64_t kSlowestUnaskedPeriodNs = 10000;
// What the link waits for answers nobody will read when it closes, and for DAP_Disconnect's.
constexpr int kClosingWaitMs = 1000;

}  // namespace

CmsisDapLink::CmsisDapLink(DapOpener opener, uint32_t tckPeriodNs)
    : opener_(std::move(opener)),
      tckPeriodNs_(tckPeriodNs),
      answer_(std::make_unique<uint8_t[]>(kMaxPacketBytes)),
      captureStorage_(std::make_unique<Capture[]>(kMaxCaptures)),
      captures_(captureStorage_.get()) {}

CmsisDapLink::~CmsisDapLink() { close(); }

bool CmsisDapLink::grantAccess() {
  if (live()) return true;
  // A new start after a failure or a stop: the previous job has reported it.
  close();
  clearLinkFailure();
  connect();
  return true;
}

void CmsisDapLink::connect() {
  std::string why;
  transport_ = opener_(why);
  if (transport_ == nullptr) {
    noteLinkFailure(why.empty() ? "the CMSIS-DAP probe cannot be opened" : why);
    return;
  }
  live_ = true;
  transportBroken_ = false;
  packetSize_ = kFirstPacketBytes;
  packetCount_ = 1;
  hasTrst_ = false;
  uint32_t capabilities = 0;
  uint32_t reportedSize = 0;
  uint32_t reportedCount = 0;
  if (!info(dap::kInfoCapabilities, 1, capabilities) || !info(dap::kInfoPacketSize, 2, reportedSize) ||
      !info(dap::kInfoPacketCount, 1, reportedCount)) {
    return;
  }
  if ((capabilities & dap::kCapabilityJtag) == 0) {
    fail("the CMSIS-DAP probe " + transport_->name() +
         " has no JTAG (its firmware offers SWD only); boundary scan needs a probe whose firmware offers JTAG");
    return;
  }
  if (reportedSize < 4 || reportedCount == 0) {
    fail(format("the CMSIS-DAP probe %s reports a packet size of %u bytes and a packet count of %u: it cannot "
                "carry a JTAG sequence",
                transport_->name().c_str(), reportedSize, reportedCount));
    return;
  }
  transport_->usePacketSize(reportedSize);
  packetSize_ = std::min<size_t>(reportedSize, kMaxPacketBytes);
  packetCount_ = std::min<int>(static_cast<int>(reportedCount), kMaxInFlight);
  packerStorage_ = std::make_unique<dap::SequencePacker>(packetSize_);
  packer_ = packerStorage_.get();

  uint8_t command[8];
  if (!exchange(command, dap::connectCommand(command), 2)) return;
  if (answer_[1] != dap::kPortJtag) {
    fail(format("the CMSIS-DAP probe %s would not start JTAG (DAP_Connect answered port %u)", transport_->name().c_str(),
                answer_[1]));
    return;
  }
  if (tckPeriodNs_ != 0) {
    // Rounded down: the rate asked is the highest the probe may run.
    const auto hz = static_cast<uint32_t>(std::max<uint64_t>(1, 1000000000ull / tckPeriodNs_));
    if (!exchange(command, dap::clockCommand(hz, command), 2)) return;
    std::fprintf(stderr, "cmsis-dap: %s: TCK asked at %u Hz; the probe runs at most that and does not say what it runs\n",
                 transport_->name().c_str(), hz);
  }
  // nTRST asserted, then released: a probe that drives it reads it back low, then high.
  if (!exchange(command, dap::trstCommand(false, command), 2)) return;
  const bool readLow = (answer_[1] & dap::kPinTrst) == 0;
  if (!exchange(command, dap::trstCommand(true, command), 2)) return;
  hasTrst_ = readLow && (answer_[1] & dap::kPinTrst) != 0;
}

// DAP_Info answers with the ID, the info's length and the info: a number of `bytes` bytes.
bool CmsisDapLink::info(uint8_t id, size_t bytes, uint32_t& value) {
  uint8_t command[8];
  if (!exchange(command, dap::infoCommand(id, command), 2 + bytes)) return false;
  if (answer_[1] != bytes) {
    fail(format("the CMSIS-DAP probe's DAP_Info answer for 0x%02X carries %u bytes, %zu expected", id, answer_[1], bytes));
    return false;
  }
  value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint32_t>(answer_[2 + i]) << (8 * i);
  return true;
}

bool CmsisDapLink::exchange(const uint8_t* command, size_t length, size_t answerLength) {
  return sendCommand(command, length, answerLength, 0) && readAnswer(false);
}

void CmsisDapLink::fail(const std::string& cause) {
  noteLinkFailure(cause);
  live_ = false;
  // Captures still waiting read as a port that does not answer.
  for (; capturesDone_ < capturesQueued_; ++capturesDone_) *captures_[capturesDone_ % kMaxCaptures].dest = 0xFF;
  if (packer_) packer_->clear();
}

void CmsisDapLink::close() {
  if (transport_ == nullptr) return;
  // The buffers of captures still waiting may be gone: their answers go nowhere.
  capturesDone_ = capturesQueued_;
  if (live() && packer_ && !packer_->empty()) sendPacked();
  const size_t capacity = std::max(packetSize_, kFirstPacketBytes);
  size_t length = 0;
  const auto answered = [&] {
    DapIo got = DapIo::TimedOut;
    for (int waited = 0; got == DapIo::TimedOut && waited < kClosingWaitMs; waited += kWaitSliceMs) {
      got = transport_->receive(answer_.get(), capacity, length, kWaitSliceMs);
    }
    return got == DapIo::Done;
  };
  bool listening = !transportBroken_;
  for (; inFlightCount_ > 0 && listening; --inFlightCount_) listening = answered();
  // A probe that stopped answering may still take the command that releases its pins.
  uint8_t command[8];
  if (!transportBroken_ && transport_->send(command, dap::disconnectCommand(command)) == DapIo::Done && listening) {
    answered();
  }
  transport_.reset();
  live_ = false;
  inFlightCount_ = 0;
  oldest_ = 0;
  packer_ = nullptr;
  packerStorage_.reset();
  packetSize_ = 0;
  packetCount_ = 0;
}

void CmsisDapLink::clockTms(uint32_t tmsBits, int count, bool tdi) {
  for (int i = 0; i < count; ++i) addClock(((tmsBits >> i) & 1) != 0, tdi, nullptr);
}

void CmsisDapLink::shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) {
  for (uint32_t i = 0; i < length; ++i) {
    uint8_t* dest = nullptr;
    if (capture.dest != nullptr && i >= capture.first && i - capture.first < capture.count) {
      dest = capture.dest + (i - capture.first);
    }
    addClock(exitOnLast && i + 1 == length, (tdi[i] & 1) != 0, dest);
  }
}

void CmsisDapLink::addClock(bool tms, bool tdi, uint8_t* capture) {
  if (!live()) {
    if (capture != nullptr) *capture = 0xFF;
    return;
  }
  // A full list of captures is emptied before the next is taken.
  if (capture != nullptr && capturesQueued_ - capturesDone_ == kMaxCaptures) {
    sendPacked();
    while (inFlightCount_ > 0 && readAnswer(false)) {
    }
    if (!live()) {
      *capture = 0xFF;
      return;
    }
  }
  uint32_t tdoBit = 0;
  if (!packer_->add(tms, tdi, capture != nullptr, tdoBit)) {
    sendPacked();
    if (!live()) {
      if (capture != nullptr) *capture = 0xFF;
      return;
    }
    packer_->add(tms, tdi, capture != nullptr, tdoBit);  // always fits an empty command
  }
  if (capture != nullptr) captures_[capturesQueued_++ % kMaxCaptures] = {capture, tdoBit};
}

void CmsisDapLink::sendPacked() {
  if (!live() || packer_->empty()) return;
  sendCommand(packer_->command(), packer_->length(), packer_->answerLength(), packer_->clocks());
  packer_->clear();
}

bool CmsisDapLink::sendCommand(const uint8_t* command, size_t length, size_t answerLength, uint32_t clocks) {
  if (!live()) return false;
  if (inFlightCount_ == packetCount_) {
    ++windowWaits_;
    if (!readAnswer(false)) return false;
  }
  if (transport_->send(command, length) != DapIo::Done) {
    transportBroken_ = true;
    fail(transport_->cause());
    return false;
  }
  ++packetsSent_;
  inFlight_[(oldest_ + inFlightCount_++) % kMaxInFlight] = {command[0], answerLength, capturesQueued_, clocks};
  return true;
}

bool CmsisDapLink::readAnswer(bool stopMayEnd) {
  // A failed link waits for nothing more: its cause is known.
  if (!live()) return false;
  const InFlight oldest = inFlight_[oldest_];
  // The probe answers once it has clocked the command's sequences.
  const uint64_t periodNs = tckPeriodNs_ != 0 ? 2ull * tckPeriodNs_ : kSlowestUnaskedPeriodNs;
  const uint64_t limitMs = kAnswerLimitMs + oldest.clocks * periodNs / 1000000;
  size_t length = 0;
  for (uint64_t waitedMs = 0;; waitedMs += kWaitSliceMs) {
    const DapIo got = transport_->receive(answer_.get(), std::max(packetSize_, kFirstPacketBytes), length, kWaitSliceMs);
    if (got == DapIo::Done) break;
    if (got == DapIo::Failed) {
      transportBroken_ = true;
      fail(transport_->cause());
      return false;
    }
    if (stopMayEnd && stopWanted()) {
      fail("stopped while waiting for the CMSIS-DAP probe");
      return false;
    }
    if (waitedMs + kWaitSliceMs >= limitMs) {
      fail(format("the CMSIS-DAP probe gave no answer to %s within %d s", dap::commandName(oldest.command),
                  static_cast<int>((limitMs + 500) / 1000)));
      return false;
    }
  }
  ++answersRead_;
  oldest_ = (oldest_ + 1) % kMaxInFlight;
  --inFlightCount_;
  const std::string fault =
      dap::answerFault(oldest.command, answer_.get(), length, oldest.answerLength, transport_->padsAnswers());
  if (!fault.empty()) {
    fail(fault);
    return false;
  }
  const uint8_t* tdo = answer_.get() + 2;
  for (; capturesDone_ < oldest.capturesEnd; ++capturesDone_) {
    const Capture& c = captures_[capturesDone_ % kMaxCaptures];
    *c.dest = ((tdo[c.tdoBit / 8] >> (c.tdoBit % 8)) & 1) != 0 ? kTdoCaptured : 0;
  }
  return true;
}

void CmsisDapLink::flush() {
  if (!live()) return;
  sendPacked();
  if (inFlightCount_ > 0 && live()) ++flushWaits_;
  while (inFlightCount_ > 0 && readAnswer(true)) {
  }
}

void CmsisDapLink::pulseTrst() {
  if (!live()) return;
  if (!hasTrst_) {
    clockTms(0x1F, 5, false);
    return;
  }
  sendPacked();
  uint8_t command[8];
  for (const bool released : {false, true}) {
    if (!live() || !sendCommand(command, dap::trstCommand(released, command), 2, 0)) return;
  }
}

}  // namespace zorv
