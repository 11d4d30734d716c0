#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/jtag_link.h"
#include "link/tcp_connection.h"

namespace zorv {

// The link as a Xilinx Virtual Cable (XVC 1.0) client over TCP. Clocks gather into shifts no
// longer than the server allows; full shifts are sent at once and their TDO answers collected at
// flush(), so several shifts are in flight per round trip. XVC carries no nTRST: pulseTrst clocks
// five times with TMS high, which brings the TAP to Test-Logic-Reset as the pulse does.
class XvcLink : public JtagLink {
 public:
  // tckPeriodNs 0 leaves the server's own TCK rate; otherwise settck asks for that period.
  XvcLink(std::string host, uint16_t tcpPort, uint32_t tckPeriodNs = 0,
          int silenceLimitMs = TcpConnection::kSilenceLimitMs);
  ~XvcLink() override;
  XvcLink(const XvcLink&) = delete;
  XvcLink& operator=(const XvcLink&) = delete;

  // Connects (again, if the server went away since) and asks the server for its vector length.
  // Always true: a server that cannot be reached shows as a cable that does not answer.
  bool grantAccess() override;
  bool detect() override { return tcp_.isOpen(); }
  void clockTms(uint32_t tmsBits, int count, bool tdi) override;
  void shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) override;
  void flush() override;
  bool answersLate() const override { return true; }
  bool hasTrst() const override { return false; }
  void pulseTrst() override { clockTms(0x1F, 5, false); }
  bool setsTckPeriod() const override { return true; }
  uint32_t tckPeriodNs() const override { return grantedPeriodNs_; }
  void watchStopFlag(const std::atomic<int>* flag) override;

  bool connected() const { return tcp_.isOpen(); }
  // The longest TMS (and TDI) vector one shift carries, in bytes.
  size_t shiftBytes() const { return shiftBytes_; }
  // Times the link has waited for the server's answers.
  uint64_t roundTrips() const { return roundTrips_; }

 private:
  struct PendingCapture {
    uint64_t firstBit;  // absolute index of the first clocked bit wanted
    uint32_t count;
    uint32_t done;
    uint8_t* dest;
  };
  struct Shift {
    uint64_t firstBit;
    uint32_t bits;
  };

  bool handshake();
  void fail();
  void dropPending();
  void addClock(bool tms, bool tdi);
  void sendShift();
  void collectAnswers();
  void resolve(const Shift& shift);

  static constexpr size_t kMaxPendingCaptures = 4096;
  static constexpr size_t kMaxShiftsInFlight = 64;
  static constexpr size_t kMaxShiftBytes = 512 * 1024;
  // The TDO answers in flight stay within what the socket buffers hold, so the server is never
  // blocked on an answer while the link is blocked sending.
  static constexpr size_t kAnswerWindow = 32 * 1024;

  TcpConnection tcp_;
  uint32_t tckPeriodNs_;
  uint64_t roundTrips_ = 0;
  uint32_t grantedPeriodNs_ = 0;

  size_t shiftBytes_ = 0;
  std::unique_ptr<char[]> message_;  // "shift:", the bit count, the TMS vector, the TDI vector
  std::unique_ptr<uint8_t[]> answer_;
  uint32_t bitsInShift_ = 0;
  uint64_t bitsClocked_ = 0;

  Shift inFlight_[kMaxShiftsInFlight];
  size_t shiftsInFlight_ = 0;
  size_t answerBytesInFlight_ = 0;
  PendingCapture pending_[kMaxPendingCaptures];
  size_t pendingCount_ = 0;
  size_t resolved_ = 0;  // captures before this one are complete
};

}  // namespace zorv
