#pragma once

#include <cstdint>

#include "cable/port_io.h"

namespace zorv {

// The parallel port reached by port instructions from user mode (Linux on x86). Port access must
// be granted first; until then, and for any address outside the three parallel-port registers,
// the port answers as absent. A port instruction without the grant would kill the process.
class DirectIoPort : public PortIo {
 public:
  // The call that asks the kernel for the range; replaceable so the refusal can be tested.
  using PermissionCall = int (*)(unsigned long from, unsigned long count, int turnOn);

  DirectIoPort();
  explicit DirectIoPort(PermissionCall permission) : permission_(permission) {}
  ~DirectIoPort() override;

  bool grantAccess() override;
  void write(uint16_t port, uint8_t value) override;
  uint8_t read(uint16_t port) override;

  bool granted() const { return granted_; }

 private:
  bool mayTouch(uint16_t port) const {
    return granted_ && static_cast<uint16_t>(port - kLptDataPort) < kRegisterCount;
  }

  static constexpr uint16_t kRegisterCount = 3;  // data, status, control
  PermissionCall permission_;
  bool granted_ = false;
};

}  // namespace zorv
