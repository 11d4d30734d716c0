#pragma once

#include <cstdint>

namespace zorv {

// How bytes reach the cable: one byte out to an I/O port, one byte in from an I/O port.
// Backends where a round trip is expensive may defer reads: a deferred read's result is only
// guaranteed to be in place after flush().
class PortIo {
 public:
  virtual ~PortIo() = default;

  // Asks the platform for the right to touch the ports. Without it the port answers as absent
  // (reads give 0xFF, writes go nowhere), so nothing ever executes an unguarded port instruction.
  virtual bool grantAccess() { return true; }

  virtual void write(uint16_t port, uint8_t value) = 0;
  virtual uint8_t read(uint16_t port) = 0;

  // Stores the byte read from port into *dest, at the latest when flush() returns.
  virtual void readDeferred(uint16_t port, uint8_t* dest) { *dest = read(port); }
  virtual void flush() {}
};

// Port addresses of the legacy parallel port.
inline constexpr uint16_t kLptDataPort = 0x378;
inline constexpr uint16_t kLptStatusPort = 0x379;

}  // namespace zorv
