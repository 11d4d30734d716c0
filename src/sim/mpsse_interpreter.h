#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "cable/port_io.h"

namespace zorv::sim {

// A command stream the adapter would not run as its sender meant it.
class MpsseFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An FTDI chip in MPSSE mode wired to a board the way JTAG adapters wire it: ADBUS0 TCK, ADBUS1
// TDI, ADBUS2 TDO, ADBUS3 TMS, and nTRST on one more pin when trstPin is not 0. It plays every
// clock on the board as the parallel cable would (TMS and TDI set with TCK low, TCK high, TDO
// sampled, TCK low) and keeps the answers until the host takes them. Strict where the chip would
// quietly do something else than meant: an unknown opcode, a command cut off by the end of a
// transfer, a host reading more answers than it asked for, a data shift clocked with TMS high
// (the TAP would change state inside the shift) or a clock while TCK, TDI or TMS is no output
// each throw MpsseFault.
class MpsseInterpreter {
 public:
  struct Wiring {
    uint16_t trstPin = 0;    // the pin (mask) that drives the board's nTRST, 0 for none
    bool highSpeed = true;   // an H-series chip: 60 MHz base clock, takes 0x8A and friends
    // A filter on the board's nTRST line: a level must last this long on the pin, in real time,
    // before the TAP sees it (a shorter pulse never reaches it).
    std::chrono::microseconds trstFilter{0};
  };

  MpsseInterpreter(PortIo& board, Wiring wiring);

  // One USB transfer from the host.
  void play(const uint8_t* data, size_t length);
  // The host reads length answer bytes.
  void take(uint8_t* dest, size_t length);

  size_t answersWaiting() const { return answers_.size() - answerRead_; }
  // The TCK rate the divisor and base clock give, in Hz.
  uint32_t tckHz() const;
  bool loopback() const { return loopback_; }
  uint64_t sendImmediates() const { return sendImmediates_; }
  uint64_t clocks() const { return clocks_; }
  uint16_t pinValues() const { return values_; }
  uint16_t pinDirections() const { return directions_; }

 private:
  bool clockBit(bool tms, bool tdi);
  bool trstPinLow() const;
  // Lets the nTRST level on the pin through the filter once it has lasted long enough; true when
  // the board's level changed.
  bool settleTrst();
  void drivePins(bool tck);
  void requireClockPins() const;
  void shiftBits(uint8_t opcode, uint8_t data, int bits);
  void answer(uint8_t byte) { answers_.push_back(byte); }

  PortIo& board_;
  Wiring wiring_;
  uint16_t values_ = 0;
  uint16_t directions_ = 0;
  bool loopback_ = false;
  bool divideBy5_ = true;
  uint16_t divisor_ = 0;
  bool trstPinWasLow_ = false;
  bool trstSeenLow_ = false;  // what the board's TAP sees through the filter
  std::chrono::steady_clock::time_point trstChanged_{};
  uint64_t sendImmediates_ = 0;
  uint64_t clocks_ = 0;
  std::vector<uint8_t> answers_;
  size_t answerRead_ = 0;
};

}  // namespace zorv::sim
