#pragma once

#include <cstdint>

#include "cable/port_io.h"

namespace zorv {

// Forwards to a board until `limit` data-port writes have passed, then loses its link as a remote
// cable does: the cause is kept and the port answers as absent from then on.
class LosingPort : public PortIo {
 public:
  explicit LosingPort(PortIo& board) : board_(board) {}
  void write(uint16_t port, uint8_t value) override {
    if (!linkFailure().empty()) return;
    board_.write(port, value);
    if (++writes == limit) noteLinkFailure("link to the test board lost");
  }
  uint8_t read(uint16_t port) override { return linkFailure().empty() ? board_.read(port) : 0xFF; }

  uint64_t limit = 0;  // 0: never lost
  uint64_t writes = 0;

 private:
  PortIo& board_;
};

}  // namespace zorv
