#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cmsis_dap/dap_transport.h"
#include "sim/board.h"
#include "sim/dap_probe.h"

namespace zorv {

// A CMSIS-DAP v2 probe that is not there: its command packets are played on a virtual board by
// the strict probe model. A fault in the packets ends the link with the fault as its cause. Tests
// and the bench can make it misbehave from a given answer on.
class SimulatedCmsisDap : public DapTransport {
 public:
  enum class Misbehaviour { None, Unplugged, ErrorStatus, ShortAnswer, Silent, Slow };

  SimulatedCmsisDap(std::unique_ptr<sim::Board> board, sim::DapProbe::Config config)
      : board_(std::move(board)), probe_(*board_, config) {}

  DapIo send(const uint8_t* data, size_t length) override;
  DapIo receive(uint8_t* data, size_t capacity, size_t& length, int waitMs) override;
  bool padsAnswers() const override { return false; }
  std::string cause() const override { return cause_; }
  std::string name() const override { return "simulated CMSIS-DAP v2 probe"; }

  sim::Board& board() { return *board_; }
  // Sends and receives the link has asked for, whatever came of them.
  uint64_t transfers() const { return transfers_; }
  sim::DapProbe& probe() { return probe_; }
  // From the answer after `answers` more on (the count includes DAP_Info's at opening), the probe
  // misbehaves: unplugged (every transfer fails), DAP_JTAG_Sequence answers with error status, an
  // answer loses its last byte, no answer comes, or every answer comes one wait late.
  void misbehaveAfter(uint64_t answers, Misbehaviour how) {
    answersLeft_ = answers;
    misbehaviour_ = how;
  }

 private:
  std::unique_ptr<sim::Board> board_;
  sim::DapProbe probe_;
  std::string cause_;
  uint64_t answersLeft_ = UINT64_MAX;
  Misbehaviour misbehaviour_ = Misbehaviour::None;
  bool unplugged_ = false;
  bool late_ = false;
  uint64_t transfers_ = 0;
};

}  // namespace zorv
