#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <vector>

#include "cable/port_io.h"

namespace zorv::sim {

// A command packet the probe would not run as its sender meant it.
class DapProbeFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A CMSIS-DAP v2 probe (bulk endpoints) wired to a board's JTAG pins, as Arm's CMSIS-DAP
// documentation describes one: each command packet gets one answer packet, kept until the host
// reads it; DAP_Info tells the packet size, the packet count and the capabilities (JTAG); after
// DAP_Connect in JTAG mode DAP_JTAG_Sequence clocks the board (TMS and TDI set as TCK falls, TCK
// high, TDO sampled, as the parallel cable does) and DAP_SWJ_Pins moves the pins; commands
// it does not implement are answered 0xFF. Strict where a real probe would do something else than
// meant or lose data: a packet longer than the packet size, a command cut short or with bytes left
// over (a TDI byte count that does not match the clocks), a JTAG sequence before DAP_Connect or
// after DAP_Disconnect, more commands sent than the probe buffers before their answers are read,
// and an answer read that was never made each throw DapProbeFault. (An answer never outgrows its
// command: a captured sequence answers no more TDO bytes than it brought TDI bytes.)
class DapProbe {
 public:
  struct Config {
    uint16_t packetSize = 64;
    uint8_t packetCount = 4;
    bool jtag = true;       // the capability bit for JTAG
    bool trstWired = true;  // nTRST reaches the board; without it the pin reads back 0
  };

  DapProbe(PortIo& board, Config config);

  // One command packet from the host (one bulk OUT transfer).
  void command(const uint8_t* packet, size_t length);
  // The host reads the oldest answer (one bulk IN transfer of up to capacity bytes).
  size_t answer(uint8_t* dest, size_t capacity);

  size_t answersWaiting() const { return answers_.size(); }
  bool connected() const { return connected_; }
  uint64_t disconnects() const { return disconnects_; }
  uint32_t clockHz() const { return clockHz_; }
  uint64_t clocks() const { return clocks_; }
  uint64_t commands() const { return commands_; }
  // Times nTRST was driven low (on a probe that has it wired).
  uint64_t trstPulses() const { return trstPulses_; }
  const Config& config() const { return config_; }

 private:
  std::vector<uint8_t> info(const uint8_t* packet, size_t length);
  std::vector<uint8_t> sequences(const uint8_t* packet, size_t length);
  std::vector<uint8_t> pins(const uint8_t* packet, size_t length);
  bool clock(bool tms, bool tdi);
  void drive();

  PortIo& board_;
  Config config_;
  std::deque<std::vector<uint8_t>> answers_;
  bool connected_ = false;
  uint32_t clockHz_ = 0;
  bool tms_ = true;
  bool tdi_ = true;
  bool tckHigh_ = true;
  bool trstHigh_ = true;
  uint64_t clocks_ = 0;
  uint64_t commands_ = 0;
  uint64_t disconnects_ = 0;
  uint64_t trstPulses_ = 0;
};

}  // namespace zorv::sim
