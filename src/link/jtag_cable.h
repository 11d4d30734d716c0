#pragma once

#include <cstdint>
#include <optional>
#include <vector>
#include <string>
#include <utility>

#include "cable/port_io.h"
#include "link/chain_padding.h"
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

  // The longest instruction register a target may have.
  static constexpr int kMaxInstructionLength = 32;

  uint16_t dataPort = 0;
  uint16_t statusPort = 0;
  int instructionLength = 4;
  char idInstruction[kMaxInstructionLength + 1] = {};
  char extestInstruction[kMaxInstructionLength + 1] = {};
  char debugInstruction[kMaxInstructionLength + 1] = {};
  // Empty where the target names no SAMPLE/PRELOAD instruction.
  char sampleInstruction[kMaxInstructionLength + 1] = {};
  char idCode[33] = {};
  // The bits of idCode a chip's code must match (1: compared).
  uint32_t idMask = 0x0FFFFFFF;
  int32_t bsrLength = 0;
  // The other devices on the chain around the target; every scan below pads for them.
  ChainPadding padding;
  // The code the last readIdCode read, whether it matched or not.
  uint32_t idRead = 0;
  // Another chip answers the same code, so the boundary register's length must be measured before
  // any pin is driven.
  bool idCodeShared = false;
  // What the chip's description warns of before its pins are driven (a BSDL DESIGN_WARNING); empty
  // where it warns of nothing.
  std::string designWarning;

  // Access to the cable for this process; false when it was refused (the cable then answers as
  // absent).
  bool grantPortAccess() { return link_.grantAccess(); }
  // 0 when a cable answers, non-zero when none does.
  int detectPort();
  // True once detectPort has been asked (the end-of-job nTRST pulse needs a cable to go to).
  bool hasPort() const { return dataPort != 0; }

  void pulseTrst() {
    if (parked_) refillParked();
    link_.pulseTrst();
  }
  // Five clocks with TMS high: Test-Logic-Reset from any state.
  void resetTap() {
    unpark();
    link_.clockTms(0x1F, 5, false);
  }
  void clockTck(int tms, int tdi) {
    unpark();
    link_.clockTms(static_cast<uint32_t>(tms & 1), 1, (tdi & 1) != 0);
  }

  void shiftIr(const char* bits, int length);
  // An instruction scan that also captures: bitsOut[i] is what instruction register cell i
  // captured ('0'/'1'); bitsOut may be the same buffer as bitsIn.
  void shiftIrCapture(const char* bitsIn, char* bitsOut, int length);
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
    unpark();
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

  // An image to put in the boundary register's latches under sampleInstruction before EXTEST is
  // loaded the first time, so that the pins EXTEST takes over start at its levels; cleared once
  // done (loading SAMPLE/PRELOAD again later would give the pins back to the chip's logic).
  const char* preloadImage = nullptr;
  void loadExtest() {
    if (preloadImage != nullptr && sampleInstruction[0] != '\0') {
      shiftIr(sampleInstruction, instructionLength);
      shiftDr(preloadImage, bsrLength);
    }
    preloadImage = nullptr;
    shiftIr(extestInstruction, instructionLength);
  }
  void loadDebug() { shiftIr(debugInstruction, instructionLength); }

  // The chip's identification code, or 0 when the code read (kept in idRead) differs from idCode in
  // a bit of idMask, or is 0. On success message holds the identification line.
  uint32_t readIdCode(std::string& message);
  // idCode as a number.
  uint32_t expectedIdCode() const;

  // The boundary register's length, counted in one scan under instruction (one that selects the
  // register): it is filled with zeros, a one is shifted after them, and the clocks until the one
  // comes out at TDO are its length. The scan waits in Pause-DR for the answer, then leaves through
  // Update-DR with the cells' own captured values shifted back into them. Returns the length; -1
  // when no one came out within kMaxBoundaryLength cells, 0 when TDO stays high (both leave the TAP
  // in Test-Logic-Reset, through nTRST where the cable has it). Allocates: once per job, never on
  // the scan path.
  static constexpr int kMaxBoundaryLength = 4096;
  int measureBoundaryLength(const char* instruction);
  // The same count under EXTEST, for a chip that names no other instruction for it. Where the
  // length is bsrLength, the TAP stays in Pause-DR with EXTEST in force and the job's next data
  // scan goes on from there (its captures are the count's), so that the job's own first scan is
  // the first Update-DR, as without the count; a load of EXTEST meanwhile is passed over, anything
  // else first gives the cells back their captured values. Another length is given back at once.
  int proveBoundaryLength();

  JtagLink& link() { return link_; }

 private:
  // From Shift-DR or Shift-IR: the bits between the padding (before, after bits of fill), the
  // update clock (which repeats the last bit's TDI) and the clock back to Run-Test/Idle.
  void shiftBody(const char* bits, int length, const TdoCapture& capture, int before, int after, const char* fill);
  void shiftIrBody(const char* bits, int length, const TdoCapture& capture);
  void shiftDrBody(const char* bits, int length, const TdoCapture& capture);
  // count bits of fill (all '0' or all '1'), in whole shifts of a constant buffer.
  void pad(const char* fill, int count, bool exitOnLast);

  // The boundary count (see measureBoundaryLength): from Run-Test/Idle to Pause-DR. Returns the
  // length; at -1 or 0 the TAP has been reset.
  int countInPauseDr();
  // From Pause-DR: Update-DR with what the count captured, to Run-Test/Idle.
  void putBackCaptured();
  // From Pause-DR back to Pause-DR with what the count captured shifted back in: nTRST then leaves
  // without any update, and a board that does not wire it updates the cells with their captures
  // at the next reset.
  void refillParked();
  void unpark() {
    if (parked_) putBackCaptured();
  }
  // To Shift-DR for a data scan; true when it went on from the count's Pause-DR, whose captures
  // then stand for the scan's own.
  bool enterShiftDr();
  // The count's captures of the whole path as bit characters.
  std::vector<char> capturedBits() const;
  // The count's captures of target cells first..first+count-1, as raw capture bytes.
  void capturedAtCount(int first, int count, uint8_t* raw) const;

  std::optional<ParallelPortLink> ownLink_;
  JtagLink& link_;
  bool parked_ = false;
  std::vector<uint8_t> countCapture_;  // TDO of the count's fill: the whole path's captured cells first
  int countPath_ = 0;                  // the count's path: padding and the target's register
  std::string cableFault_;
};

}  // namespace zorv
