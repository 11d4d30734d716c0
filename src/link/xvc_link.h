#pragma once

#include <array>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "link/jtag_link.h"
#include "link/tap_follower.h"
#include "link/tcp_connection.h"

namespace zorv {

// The link as a Xilinx Virtual Cable (XVC 1.0) client over TCP. Clocks gather into shifts no
// longer than the server allows; full shifts are sent at once and their TDO answers collected at
// flush(), so that however short the server's vectors, a round trip carries a window of answer
// bytes rather than a number of shifts. XVC carries no nTRST: pulseTrst clocks five times with TMS
// high, which brings the TAP to Test-Logic-Reset as the pulse does.
//
// Without nTRST every way back to Test-Logic-Reset passes Update-DR, so a job's stop must never
// leave a scan half shifted: once a wait sees the stop, the link fails with the stop as its cause
// but carries the scan in flight to its end (Run-Test/Idle, as the TMS levels sent tell), waits
// until the server has answered every shift sent (a server hung up on may drop the shifts it has
// not played yet), and only then closes the connection.
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
  // Sends what is left and closes the connection.
  void release() override;
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

  bool handshake();
  void fail();
  void dropPending();
  // Captures not yet in read as absent; the answers owed are still counted as they come.
  void abandonCaptures();
  // Once a wait has seen the job's stop: at the end of a scan, the last answers and the close.
  void stopAtRest();
  void addClock(bool tms, bool tdi);
  // Sends the shift being gathered. Beyond the answer window it first waits for the answers in
  // flight, unless the caller waits for them right after (flush).
  void sendShift(bool keepWindow);
  void sendGathered();
  // Takes in the answers that have arrived, without waiting; false when the link failed (a byte
  // more than the answers owed fails it).
  bool takeArrivedAnswers();
  // Waits for every answer in flight: one blocking round trip.
  void collectAnswers();
  void resolve(uint64_t firstBit, uint32_t bits);

  static constexpr size_t kMaxPendingCaptures = 32768;
  static constexpr size_t kMaxShiftBytes = 512 * 1024;
  // Answer bytes asked for before the link waits for them. The link takes answers in whenever the
  // server takes no more of its shifts, so neither side blocks on a full socket buffer however
  // large the window; the window bounds how far the link runs ahead of the board (a flush then
  // waits for at most this much work). 4 MiB is 32 Mbit of TDO: seconds at an adapter's TCK
  // rate, about ten NAND pages at any vector length, half a 64 KiB NOR sector by write buffers.
  static constexpr uint64_t kAnswerWindow = 4 * 1024 * 1024;
  static constexpr size_t kReceiveChunk = 64 * 1024;
  static constexpr size_t kSendChunk = 64 * 1024;

  TcpConnection tcp_;
  uint32_t tckPeriodNs_;
  uint64_t roundTrips_ = 0;
  uint32_t grantedPeriodNs_ = 0;

  size_t shiftBytes_ = 0;
  std::unique_ptr<char[]> message_;  // "shift:", the bit count, the TMS vector, the TDI vector
  std::unique_ptr<uint8_t[]> answer_;  // the answer of the oldest shift in flight, as it arrives
  std::unique_ptr<uint8_t[]> received_;
  std::unique_ptr<char[]> gathered_;  // whole shift messages not yet sent
  size_t gatheredCapacity_ = 0;
  size_t gatheredLength_ = 0;
  size_t gatheredAnswerBytes_ = 0;  // the answers the gathered shifts will bring
  uint32_t bitsInShift_ = 0;
  uint64_t bitsClocked_ = 0;

  // The shifts in flight (sent or gathered) are the clocked bits from bitsAnswered_ to bitsSent_:
  // full shifts, and the shorter ones a flush sends, whose ends are kept here, oldest first. A stop
  // can leave one unanswered while the rest of its scan goes out behind it as another.
  static constexpr size_t kShortShiftsInFlight = 8;
  std::array<uint64_t, kShortShiftsInFlight> shortShiftEnds_{};
  size_t shortShiftsFirst_ = 0;
  size_t shortShiftsCount_ = 0;
  uint64_t bitsSent_ = 0;
  uint64_t bitsAnswered_ = 0;
  size_t answerBytesOwed_ = 0;
  size_t oldestAnswerBytes_ = 0;  // of the oldest shift's answer, received so far
  std::unique_ptr<PendingCapture[]> pending_;
  size_t pendingCount_ = 0;
  size_t resolved_ = 0;  // captures before this one are complete

  TapFollower tap_;        // after the last clock gathered
  bool finishing_ = false;  // stopped, carrying the scan in flight to its end
};

}  // namespace zorv
