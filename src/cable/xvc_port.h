#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cable/port_io.h"

namespace zorv {

// The cable as a Xilinx Virtual Cable (XVC 1.0) client over TCP. The port bytes are played as the
// parallel cable would play them: each rising TCK edge becomes one bit of a shift (TMS and TDI as
// the byte carries them), and a status read after a clock answers that bit's TDO on bit 6. Bits
// gather into shifts no longer than the server allows; full shifts are sent at once and their TDO
// answers are collected at flush(), so several shifts are in flight per round trip. XVC carries no
// nTRST: releasing nTRST after a pulse becomes five clocks with TMS high, which brings the TAP to
// Test-Logic-Reset as the pulse does. While no server answers, the port answers as absent.
class XvcPort : public PortIo {
 public:
  // tckPeriodNs 0 leaves the server's own TCK rate; otherwise settck asks for that period.
  XvcPort(std::string host, uint16_t tcpPort, uint32_t tckPeriodNs = 0, int replyTimeoutMs = 10000);
  ~XvcPort() override;
  XvcPort(const XvcPort&) = delete;
  XvcPort& operator=(const XvcPort&) = delete;

  // Connects (again, if the server went away since) and asks the server for its vector length.
  // Always true: a server that cannot be reached shows as a port that does not answer.
  bool grantAccess() override;
  void write(uint16_t port, uint8_t value) override;
  uint8_t read(uint16_t port) override;
  void readDeferred(uint16_t port, uint8_t* dest) override;
  void flush() override;

  bool connected() const { return fd_ >= 0; }
  // The longest TMS (and TDI) vector one shift carries, in bytes.
  size_t shiftBytes() const { return shiftBytes_; }
  // Times the port has waited for the server's answers.
  uint64_t roundTrips() const { return roundTrips_; }
  // The TCK period the server granted, 0 while none was asked for.
  uint32_t grantedTckPeriodNs() const { return grantedPeriodNs_; }

 private:
  struct PendingRead {
    uint64_t bit;  // absolute index of the clocked bit whose TDO is wanted
    uint8_t* dest;
  };
  struct Shift {
    uint64_t firstBit;
    uint32_t bits;
  };

  bool connect();
  bool handshake();
  void disconnect();
  void fail(const std::string& cause);
  void addClock(bool tms, bool tdi);
  void sendShift();
  void collectAnswers();
  bool sendAll(const char* data, size_t length);
  bool receiveAll(char* data, size_t length);
  using Clock = std::chrono::steady_clock;
  using Deadline = Clock::time_point;
  Deadline replyDeadline() const;
  bool waitFor(short events, Deadline deadline);
  std::string server() const;

  static constexpr size_t kMaxPendingReads = 4096;
  static constexpr size_t kMaxShiftsInFlight = 64;
  static constexpr size_t kMaxShiftBytes = 512 * 1024;
  // The TDO answers in flight stay within what the socket buffers hold, so the server is never
  // blocked on an answer while the port is blocked sending.
  static constexpr size_t kAnswerWindow = 32 * 1024;

  std::string host_;
  uint16_t tcpPort_;
  uint32_t tckPeriodNs_;
  int replyTimeoutMs_;
  int fd_ = -1;
  uint64_t roundTrips_ = 0;
  uint32_t grantedPeriodNs_ = 0;

  uint8_t lastData_ = 0xFF;
  bool trstHeld_ = false;

  size_t shiftBytes_ = 0;
  std::unique_ptr<char[]> message_;  // "shift:", the bit count, the TMS vector, the TDI vector
  std::unique_ptr<uint8_t[]> answer_;
  uint32_t bitsInShift_ = 0;
  uint64_t bitsClocked_ = 0;

  Shift inFlight_[kMaxShiftsInFlight];
  size_t shiftsInFlight_ = 0;
  size_t answerBytesInFlight_ = 0;
  PendingRead pending_[kMaxPendingReads];
  size_t pendingFirst_ = 0;
  size_t pendingCount_ = 0;
};

}  // namespace zorv
