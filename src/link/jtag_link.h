#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

namespace zorv {

// A captured TDO bit as it lands in a capture buffer: a byte whose bit kTdoCaptured is set when
// TDO was high (a parallel port leaves its whole status byte there, the other bits meaning
// nothing). A link that has lost its connection stores 0xFF, as a port that does not answer.
inline constexpr uint8_t kTdoCaptured = 0x40;

// Where the TDO bits of a data shift go: those of the shift's bits first..first+count-1 land in
// dest[0..count). A null dest captures nothing.
struct TdoCapture {
  uint8_t* dest = nullptr;
  uint32_t first = 0;
  uint32_t count = 0;
};

// How scans reach the chip: runs of TCK clocks with their TMS and TDI levels, and the TDO of
// chosen clocks, which a link may deliver late (at the latest when flush() returns) so that a
// link with a costly round trip can put many scans in flight. A whole scan is two calls (a TMS
// run to the shift state, one data shift whose last bit leaves it), so a link that speaks to an
// adapter in commands can turn each call into one command; a parallel port plays it bit by bit.
//
// A link that loses its connection keeps the cause in linkFailure() and answers as absent from
// then on (captures read as 0xFF): the job must fail, never succeed.
class JtagLink {
 public:
  virtual ~JtagLink() = default;

  // Asks for the right to use the cable, at the start of every job (and connects a link that is
  // not connected). False when refused; the cause, if known, is in linkFailure().
  virtual bool grantAccess() { return true; }
  // Gives the cable back at the end of every job, so that another program can take it at once: a
  // network link closes its connection, a USB adapter or a parport device is let go. The next
  // grantAccess opens it again; what the board holds is untouched.
  virtual void release() {}
  // Whether a cable answers. A parallel port writes its test byte and reads it back, then leaves
  // the idle byte on the pins; a connected link answers true.
  virtual bool detect() = 0;

  // count clocks (1 to 32): TMS of clock i is bit i of tmsBits, TDI stays at tdi throughout.
  virtual void clockTms(uint32_t tmsBits, int count, bool tdi) = 0;
  // length clocks (at least 1) that shift the lowest bits of tdi[0..length); TMS stays low except
  // on the last clock when exitOnLast. The TDO of the chosen bits goes to capture.dest. tdi may be
  // the capture buffer itself: every link takes bit i before it stores TDO i.
  virtual void shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) = 0;
  // Returns when every capture asked for so far is in place.
  virtual void flush() = 0;
  // Whether captures come back over a round trip of their own, so that callers gather their reads
  // into runs that one flush collects; false where every capture is in place at once.
  virtual bool answersLate() const { return false; }
  // Whether a status poll costs less than waiting out a part's worst-case program time, so that
  // programs are polled even where the TCK period is known (a USB adapter a few hundred
  // microseconds away, as against a server across a network).
  virtual bool pollsCheaply() const { return false; }

  // Whether the cable drives nTRST. pulseTrst on a link without it clocks five times with TMS
  // high, which brings the TAP to Test-Logic-Reset as the pulse does.
  virtual bool hasTrst() const { return true; }
  virtual void pulseTrst() = 0;

  // Whether the TCK period can be asked for; the period the link runs, in ns (0 while unknown).
  virtual bool setsTckPeriod() const { return false; }
  virtual uint32_t tckPeriodNs() const { return 0; }

  // Empty while the link holds, else why it failed, e.g. "connection to 127.0.0.1:4444 lost".
  virtual const std::string& linkFailure() const { return linkFailure_; }

  // The job's stop flag: once non-zero, the link acts on it at its next wait, noting the stop as
  // its cause, so a stopped job never sits out a silent server's time-out. It acts only between
  // whole scans: a scan whose bits are still being sent goes out to its end first (see XvcLink).
  virtual void watchStopFlag(const std::atomic<int>* flag) { stopFlag_ = flag; }

 protected:
  // The first cause is kept: it is the one the user needs.
  void noteLinkFailure(std::string cause) {
    if (linkFailure_.empty()) linkFailure_ = std::move(cause);
  }
  void clearLinkFailure() { linkFailure_.clear(); }
  bool stopWanted() const { return stopFlag_ != nullptr && stopFlag_->load() != 0; }
  const std::atomic<int>* stopFlag() const { return stopFlag_; }

 private:
  std::string linkFailure_;
  const std::atomic<int>* stopFlag_ = nullptr;
};

}  // namespace zorv
