#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/jtag_link.h"
#include "link/tap_follower.h"
#include "link/tcp_connection.h"

namespace zorv {

// The link as a remote_bitbang client over TCP: each clock is two of the protocol's pin digits
// (TCK low, then high, with TMS and TDI), each captured bit an 'R' after its clock, nTRST the 't'
// and 'r' commands. Commands wait in a fixed buffer and captures are collected by flush(), so a
// plain scan costs no round trip and any number of capturing scans between two flushes exactly
// one; answers that arrive while commands are still being sent are taken in on the way.
//
// Once a wait sees the job's stop, the link fails with the stop as its cause, but carries the scan
// in flight to its end (as the TMS levels sent tell) and takes the answers still owed before it
// closes: a scan cut short would leave its half in the chip's register for a reset through the
// TAP (a server without nTRST wired) to drive onto the pins.
class RemoteBitbangLink : public JtagLink {
 public:
  RemoteBitbangLink(std::string host, uint16_t tcpPort, int silenceLimitMs = TcpConnection::kSilenceLimitMs);
  ~RemoteBitbangLink() override;
  RemoteBitbangLink(const RemoteBitbangLink&) = delete;
  RemoteBitbangLink& operator=(const RemoteBitbangLink&) = delete;

  // Connects when not connected (again, if the server went away since). Always true: a server
  // that cannot be reached shows as a cable that does not answer, with the cause kept.
  bool grantAccess() override;
  // Says goodbye ('Q') and closes the connection.
  void release() override;
  bool detect() override { return tcp_.isOpen(); }
  void clockTms(uint32_t tmsBits, int count, bool tdi) override;
  void shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) override;
  void flush() override;
  bool answersLate() const override { return true; }
  void pulseTrst() override;
  void watchStopFlag(const std::atomic<int>* flag) override;

  bool connected() const { return tcp_.isOpen(); }
  // Times the link has waited for the server's answers.
  uint64_t roundTrips() const { return roundTrips_; }

 private:
  struct PendingRun {
    uint8_t* dest;
    uint32_t length;
  };

  void put(char command) {
    out_[outLength_++] = command;
    if (outLength_ == kBufferSize) sendBuffered();
  }
  void clock(bool tms, bool tdi);
  void sendBuffered();
  // Sends what is buffered and waits for every answer owed; false when the wait did not end so.
  bool collectAnswers();
  bool takeAnswers();
  bool acceptAnswers(const char* data, size_t length);
  // Keeps the connection's cause and answers as absent from here on.
  void fail();
  void dropPending();
  // Once a wait has seen the job's stop: at the end of a scan, the last answers and the close.
  void stopAtRest();

  static constexpr size_t kBufferSize = 16384;
  static constexpr size_t kMaxPendingRuns = 4096;

  TcpConnection tcp_;
  uint64_t roundTrips_ = 0;
  char out_[kBufferSize];
  size_t outLength_ = 0;
  PendingRun pending_[kMaxPendingRuns];
  size_t pendingHead_ = 0;
  size_t pendingCount_ = 0;
  uint64_t owed_ = 0;  // answers asked for and not yet received; those beyond the runs go nowhere
  TapFollower tap_;        // after the last clock buffered
  bool finishing_ = false;  // stopped, carrying the scan in flight to its end
};

}  // namespace zorv
