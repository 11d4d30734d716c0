#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "cable/port_io.h"
#include "link/jtag_link.h"
#include "link/parallel_port_link.h"

namespace zorv {

// The JTAG scans of one job, played on a link. Every scan is built from explicit TMS sequences and
// begins in Run-Test/Idle or Test-Logic-Reset and ends in Run-Test/Idle. Nothing here waits or
// allocates: the scan path is the hot path of the whole program.
class JtagCable {
 public:
  explicit JtagCable(JtagLink& link) : link_(link) {}
  // A parallel-port cable given by its port bytes.
  explicit JtagCable(PortIo& io) : ownLink_(std::in_place, io), link_(*ownLink_) {}
  // Buffering links must not keep the last scans of a job (its closing nTRST pulse) to themselves.
  ~JtagCable() { link_.flush(); }
  JtagCable(const JtagCable&) = delete;
  JtagCable& operator=(const JtagCable&) = delete;

  uint16_t dataPort = 0;
  uint16_t statusPort = 0;
  char idInstruction[5] = {};
  char extestInstruction[5] = {};
  char debugInstruction[5] = {};
  char idCode[33] = {};
  int32_t bsrLength = 0;

  // Access to the cable for this process; false when it was refused (the cable then answers as
  // absent).
  bool grantPortAccess() { return link_.grantAccess(); }
  // 0 when a cable answers, non-zero when none does.
  int detectPort();
  // True once detectPort has been asked (the end-of-job nTRST pulse needs a cable to go to).
  bool hasPort() const { return dataPort != 0; }

  void pulseTrst() { link_.pulseTrst(); }
  // Five clocks with TMS high: Test-Logic-Reset from any state.
  void resetTap() { link_.clockTms(0x1F, 5, false); }
  void clockTck(int tms, int tdi) { link_.clockTms(static_cast<uint32_t>(tms & 1), 1, (tdi & 1) != 0); }

  void shiftIr(const char* bits, int length);
  void shiftDr(const char* bits, int length);
  // bitsOut may be the same buffer as bitsIn.
  void shiftDrCapture(const char* bitsIn, char* bitsOut, int length);
  // A capturing scan whose result is needed only later: the TDO of bits first..first+count-1
  // lands in raw[0..count) at the latest with collectCaptures(). The link sees exactly what
  // shiftDrCapture gives it.
  void shiftDrCaptureDeferred(const char* bitsIn, int length, int first, int count, uint8_t* raw);
  // Waits for every deferred capture (one round trip on a remote cable).
  void collectCaptures() { link_.flush(); }
  // Whether deferred captures save waiting (see JtagLink::answersLate).
  bool answersLate() const { return link_.answersLate(); }
  bool pollsCheaply() const { return link_.pollsCheaply(); }
  // The TCK period of the link in ns; 0 where it is not known.
  uint32_t tckPeriodNs() const { return link_.tckPeriodNs(); }
  // count clocks with TMS low: the TAP waits in Run-Test/Idle, where every scan ends.
  void idle(uint32_t count) {
    for (; count > 32; count -= 32) link_.clockTms(0, 32, false);
    if (count > 0) link_.clockTms(0, static_cast<int>(count), false);
  }
  // A captured byte as the bit character it carries.
  static char capturedBit(uint8_t raw) { return (raw & kTdoCaptured) != 0 ? '1' : '0'; }

  // Empty while the link to the cable holds, else its cause (see JtagLink::linkFailure), or the
  // cable fault the chip's answers showed (noteCableFault).
  const std::string& linkFailure() const {
    return link_.linkFailure().empty() ? cableFault_ : link_.linkFailure();
  }
  // The link holds but what comes back cannot be the chip's answer (TDO stuck, an ID that changed
  // during the job): from now on the job treats the cable as lost, with cause as the reason. The
  // first cause is kept.
  void noteCableFault(std::string cause) {
    if (cableFault_.empty()) cableFault_ = std::move(cause);
  }
  // Notes a cable fault when TDO does not carry the chip's answers: shifts the boundary-scan
  // instruction in again and looks at what the instruction register captured, whose two lowest
  // bits are 01 on every IEEE 1149.1 TAP, which a TDO stuck at either level cannot give. EXTEST
  // stays in force, so no pin moves.
  void checkTdoCarriesAnswers();
  // Set once a job has logged the link failure, so it is logged once.
  bool linkFailureLogged = false;

  void loadExtest() { shiftIr(extestInstruction, 4); }
  void loadDebug() { shiftIr(debugInstruction, 4); }

  // The chip's identification code, or 0 when the version field does not match idCode (or the
  // value read is 0). On success message holds the identification line.
  uint32_t readIdCode(std::string& message);

  JtagLink& link() { return link_; }

 private:
  // From Shift-DR or Shift-IR: the bits, the update clock (which repeats the last bit's TDI) and
  // the clock back to Run-Test/Idle.
  void shiftBody(const char* bits, int length, const TdoCapture& capture);

  std::optional<ParallelPortLink> ownLink_;
  JtagLink& link_;
  std::string cableFault_;
};

}  // namespace zorv
