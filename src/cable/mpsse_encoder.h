#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "cable/mpsse_transport.h"

namespace zorv {

// Turns JTAG clocks, given one (TMS, TDI) pair at a time, into MPSSE commands: runs with TMS low
// become byte shifts and a bit shift for the rest, TMS moves become TMS commands of up to six
// clocks with TDI held on bit 7 (so the last data bit of a scan rides the move out of Shift). The
// encoder follows the TAP through the clocks it sends: a clock's TDI is kept only where the TAP
// samples it (in Shift-DR and Shift-IR, or anywhere before the state is known), which lets
// clocks with different TDI share one TMS command. TDO bits asked for are read back with the
// commands that clock them; their answers wait in the adapter until flush(), or until the
// answers waiting would no longer fit the adapter's buffer. No allocation after construction.
class MpsseEncoder {
 public:
  // readWindow: the answer bytes the adapter holds for the host without stalling (at most
  // kMaxReadWindow).
  MpsseEncoder(MpsseTransport& transport, size_t readWindow);

  void clock(bool tms, bool tdi);
  // The TDO of the last clock: *dest becomes one (TDO high) or 0 by the next flush(), 0xFF when
  // the transport failed first.
  void captureLast(uint8_t* dest, uint8_t one);
  // Commands that answer nothing (pins, clock, loopback), after every clock given so far.
  void command(std::initializer_list<uint8_t> bytes);
  // The TAP was reset by its nTRST pin: it is in Test-Logic-Reset now.
  void tapWasReset();

  // Sends everything; waits for the answers only when reads are pending. False once the
  // transport has failed (it then stays failed, and every capture reads as 0xFF).
  bool flush();
  // As flush(), and waits until the adapter has run every command sent: a pin read is answered
  // only after the commands before it.
  bool sync();
  bool failed() const { return failed_; }

  // What crossed the USB: command bytes sent, answer bytes read, transfers that waited for
  // answers.
  uint64_t bytesSent() const { return bytesSent_; }
  uint64_t bytesAnswered() const { return bytesAnswered_; }
  uint64_t roundTrips() const { return roundTrips_; }

  static constexpr size_t kMaxReadWindow = 4096;
  static constexpr int kMaxMoveBits = 6;

 private:
  struct Capture {
    uint32_t at;  // bit of the pending run or move; once sent, bit of the answers (byte * 8 + bit)
    uint8_t* dest;
    uint8_t one;
  };

  void advanceTap(bool tms);
  bool tdiMatters() const;
  void closeRun();
  void closeMove();
  void closePending();
  void emitRunBytes(size_t first, size_t count, bool read);
  // Makes room for a command of commandBytes that answers answerBytes.
  void reserve(size_t commandBytes, size_t answerBytes);
  void put(uint8_t byte) { out_[outLength_++] = byte; }
  // Moves the captures of pending bits [first, first + count) to the answer bits starting at
  // answerBit.
  void mapCaptures(uint32_t first, uint32_t count, uint32_t answerBit);
  bool sendOut();
  bool exchange();
  void fail();

  static constexpr size_t kOutBytes = 65536;
  static constexpr size_t kRunBytes = 4096;
  static constexpr size_t kMaxCaptures = 8192;

  MpsseTransport& transport_;
  size_t readWindow_;
  bool failed_ = false;

  uint8_t out_[kOutBytes];
  size_t outLength_ = 0;
  uint8_t answers_[kMaxReadWindow];
  size_t answersPending_ = 0;

  // Captures [0, mapped_) are sent and wait for their answers; [mapped_, captureCount_) belong to
  // the pending run or move.
  Capture captures_[kMaxCaptures];
  size_t mapped_ = 0;
  size_t captureCount_ = 0;

  uint8_t run_[kRunBytes];
  bool runReads_[kRunBytes];
  uint32_t runBits_ = 0;

  uint8_t moveTms_ = 0;
  int moveBits_ = 0;
  bool moveTdi_ = false;
  bool moveTdiFixed_ = false;
  bool tmsLevel_ = true;  // TMS after the last clock given; the layouts start it high

  bool tapKnown_ = false;
  uint8_t tap_ = 0;
  int tmsHighInRow_ = 0;

  uint64_t bytesSent_ = 0;
  uint64_t bytesAnswered_ = 0;
  uint64_t roundTrips_ = 0;
};

}  // namespace zorv
