#pragma once

#include <cstdint>

#include "cable/port_io.h"

namespace zorv {

// Printed on standard error whenever the kernel refuses the port rights.
inline constexpr const char* kLptRefusedHint =
    "lpt: no I/O port rights (they need root or CAP_SYS_RAWIO); a member of group lp can use "
    "--cable ppdev instead\n";

// The parallel port reached by port instructions from user mode (Linux on x86). The kernel grants
// port rights per thread, and every job runs on a thread of its own, so the grant is asked for and
// remembered per thread. A thread without it, and any address outside the three parallel-port
// registers, sees the port as absent: a port instruction without the right would kill the process.
class DirectIoPort : public PortIo {
 public:
  // The call that asks the kernel for the range; replaceable so the refusal can be tested.
  using PermissionCall = int (*)(unsigned long from, unsigned long count, int turnOn);

  // base: the card's data register; status and control follow it. The rest of the program names
  // the registers by their legacy addresses (kLptDataPort...), which this port moves to base.
  explicit DirectIoPort(uint16_t base = kLptDataPort);
  explicit DirectIoPort(PermissionCall permission, uint16_t base = kLptDataPort) : permission_(permission), base_(base) {}

  bool grantAccess() override;
  void write(uint16_t port, uint8_t value) override;
  uint8_t read(uint16_t port) override;

  // Whether the calling thread may touch the port.
  bool granted() const;
  uint16_t base() const { return base_; }

 private:
  PermissionCall permission_;
  uint16_t base_;
};

}  // namespace zorv
