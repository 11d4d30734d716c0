#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

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
  // Gives the port back at the end of a job (see JtagLink::release).
  virtual void release() {}

  virtual void write(uint16_t port, uint8_t value) = 0;
  virtual uint8_t read(uint16_t port) = 0;

  // Stores the byte read from port into *dest, at the latest when flush() returns. A null dest
  // still makes the read (the port sees the same accesses) and drops its value.
  virtual void readDeferred(uint16_t port, uint8_t* dest) {
    const uint8_t value = read(port);
    if (dest != nullptr) *dest = value;
  }
  virtual void flush() {}

  // Empty while the link to the cable holds. A backend that loses its link (a remote server that
  // went away, or answered outside its protocol) keeps the cause here, e.g. "connection to
  // 127.0.0.1:4444 lost", and answers as absent from then on: the job must fail, never succeed.
  const std::string& linkFailure() const { return linkFailure_; }

  // The job's stop flag: once non-zero, a wait on the link ends at once, so a stopped job never
  // sits out a silent server's time-out.
  void watchStopFlag(const std::atomic<int>* flag) { stopFlag_ = flag; }

 protected:
  // The first cause is kept: it is the one the user needs.
  void noteLinkFailure(std::string cause) {
    if (linkFailure_.empty()) linkFailure_ = std::move(cause);
  }
  void clearLinkFailure() { linkFailure_.clear(); }
  bool stopWanted() const { return stopFlag_ != nullptr && stopFlag_->load() != 0; }

 private:
  std::string linkFailure_;
  const std::atomic<int>* stopFlag_ = nullptr;
};

// Port addresses of the legacy parallel port.
inline constexpr uint16_t kLptDataPort = 0x378;
inline constexpr uint16_t kLptStatusPort = 0x379;

}  // namespace zorv
