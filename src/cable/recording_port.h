#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "cable/port_io.h"

namespace zorv {

// A port for tests: records every byte written and every read, and answers reads from a script
// (then from a default per port).
class RecordingPort : public PortIo {
 public:
  struct Access {
    bool isWrite;
    uint16_t port;
    uint8_t value;
    bool operator==(const Access&) const = default;
  };

  bool accessGranted = true;
  uint8_t dataDefault = 0xFF;    // what the data port reads when no script entry is left
  uint8_t statusDefault = 0x00;  // likewise for the status port
  std::deque<uint8_t> scriptedReads;  // answered in order, whatever the port
  std::vector<Access> accesses;

  bool grantAccess() override { return accessGranted; }
  void write(uint16_t port, uint8_t value) override { accesses.push_back({true, port, value}); }
  uint8_t read(uint16_t port) override {
    uint8_t value = port == kLptDataPort ? dataDefault : statusDefault;
    if (!scriptedReads.empty()) {
      value = scriptedReads.front();
      scriptedReads.pop_front();
    }
    accesses.push_back({false, port, value});
    return value;
  }

  std::vector<uint8_t> writtenBytes() const {
    std::vector<uint8_t> bytes;
    for (const auto& a : accesses)
      if (a.isWrite) bytes.push_back(a.value);
    return bytes;
  }
  void clear() { accesses.clear(); }
};

// A port that does nothing: the cost of the cable's own work.
class NullPort : public PortIo {
 public:
  void write(uint16_t, uint8_t) override {}
  uint8_t read(uint16_t) override { return 0; }
};

}  // namespace zorv
