#pragma once

#include <cstdint>

#include "cable/port_io.h"

namespace zorv::bench {

// Counts what the job asks of the port in front of the cable: the benchmarks' one measure of
// what a job costs on hardware, where every port operation takes about a microsecond.
class CountingPort : public zorv::PortIo {
 public:
  explicit CountingPort(zorv::PortIo& inner) : inner_(inner) {}
  bool grantAccess() override { return inner_.grantAccess(); }
  void write(uint16_t port, uint8_t value) override {
    ++writes;
    inner_.write(port, value);
  }
  uint8_t read(uint16_t port) override {
    ++reads;
    return inner_.read(port);
  }
  void readDeferred(uint16_t port, uint8_t* dest) override {
    ++reads;
    inner_.readDeferred(port, dest);
  }
  void flush() override {
    ++flushes;
    inner_.flush();
  }

  uint64_t writes = 0;
  uint64_t reads = 0;
  // Waits for deferred answers: each is one round trip on a remote cable.
  uint64_t flushes = 0;

 private:
  zorv::PortIo& inner_;
};

}  // namespace zorv::bench
