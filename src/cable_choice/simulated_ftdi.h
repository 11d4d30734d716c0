#pragma once

#include <memory>
#include <string>

#include "cable/mpsse_transport.h"
#include "sim/board.h"
#include "sim/mpsse_interpreter.h"

namespace zorv {

// An FTDI adapter that is not there: its MPSSE commands are played on a virtual board by the
// strict interpreter. A fault in the command stream ends the link with the fault as its cause.
class SimulatedFtdi : public MpsseTransport {
 public:
  SimulatedFtdi(std::unique_ptr<sim::Board> board, sim::MpsseInterpreter::Wiring wiring)
      : board_(std::move(board)), interpreter_(*board_, wiring) {}

  bool send(const uint8_t* data, size_t length) override;
  bool receive(uint8_t* data, size_t length) override;
  std::string cause() const override { return cause_; }

  sim::Board& board() { return *board_; }
  sim::MpsseInterpreter& interpreter() { return interpreter_; }
  // Until then every transfer works; afterwards the adapter is gone, as if unplugged.
  void unplugAfterTransfers(uint64_t transfers) { transfersLeft_ = transfers; }

 private:
  bool gone();

  std::unique_ptr<sim::Board> board_;
  sim::MpsseInterpreter interpreter_;
  std::string cause_;
  uint64_t transfersLeft_ = UINT64_MAX;
};

}  // namespace zorv
