#pragma once

#include <cstdint>
#include <string>

#include "cable/cable_pins.h"
#include "cable/port_io.h"

namespace zorv {

// The parallel-port JTAG cable of one job: TDI on data bit 0, TMS bit 1, TCK bit 2, nTRST bit 3
// (active low), TDO on status bit 6. Every scan is built from explicit TMS sequences and begins in
// Run-Test/Idle or Test-Logic-Reset and ends in Run-Test/Idle. Nothing here waits or allocates: the
// port-write path is the hot path of the whole program.
class JtagCable {
 public:
  explicit JtagCable(PortIo& io) : io_(io) {}
  // Buffering ports must not keep the last bytes of a job (its closing nTRST pulse) to themselves.
  ~JtagCable() { io_.flush(); }

  uint16_t dataPort = 0;
  uint16_t statusPort = 0;
  char idInstruction[5] = {};
  char extestInstruction[5] = {};
  char debugInstruction[5] = {};
  char idCode[33] = {};
  int32_t bsrLength = 0;

  // Port access for this process; false when it was refused (the port then answers as absent).
  bool grantPortAccess();
  // 0 when a port answers at 0x378, non-zero when none does.
  int detectPort();
  // True once detectPort has set the port addresses (the end-of-job nTRST pulse needs them).
  bool hasPort() const { return dataPort != 0; }

  void pulseTrst();
  void resetTap();
  void clockTck(int tms, int tdi) {
    const uint8_t v = static_cast<uint8_t>(tdi * kTdiBit | tms * kTmsBit | kTrstReleasedBit);
    io_.write(dataPort, v);
    io_.write(dataPort, v | kTckBit);
  }

  void shiftIr(const char* bits, int length);
  void shiftDr(const char* bits, int length);
  // bitsOut may be the same buffer as bitsIn.
  void shiftDrCapture(const char* bitsIn, char* bitsOut, int length);
  // A capturing scan whose result is needed only later: the raw status bytes of bits
  // first..first+count-1 land in raw[0..count) at the latest with collectCaptures(); the other bits
  // are read and dropped. The port sees exactly what shiftDrCapture gives it.
  void shiftDrCaptureDeferred(const char* bitsIn, int length, int first, int count, uint8_t* raw);
  // Waits for every deferred capture (one round trip on a remote cable).
  void collectCaptures() { io_.flush(); }
  // A captured raw status byte as the bit character it carries.
  static char capturedBit(uint8_t raw) { return (raw & kTdoStatusBit) != 0 ? '1' : '0'; }

  // Empty while the link to the cable holds, else its cause (see PortIo::linkFailure).
  const std::string& linkFailure() const { return io_.linkFailure(); }
  // Set once a job has logged the link failure, so it is logged once.
  bool linkFailureLogged = false;

  void loadExtest() { shiftIr(extestInstruction, 4); }
  void loadDebug() { shiftIr(debugInstruction, 4); }

  // The chip's identification code, or 0 when the version field does not match idCode (or the
  // value read is 0). On success message holds the identification line.
  uint32_t readIdCode(std::string& message);

  PortIo& port() { return io_; }

 private:
  void shiftBody(const char* bits, int length);
  PortIo& io_;
};

}  // namespace zorv
