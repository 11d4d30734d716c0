#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zorv::dap {

// Packs JTAG clocks, one (TMS, TDI, capture) at a time, into one DAP_JTAG_Sequence command that
// fills a packet: a run of clocks with the same TMS level and the same capture wish, up to 64,
// is one sequence, and sequences follow each other until the command or its answer would no
// longer fit the probe's packet, or the command holds 255 sequences. TDO is captured only in the
// sequences whose clocks were all asked for. No allocation after construction.
class SequencePacker {
 public:
  // packetSize: the probe's largest command and answer (at least 4 bytes).
  explicit SequencePacker(size_t packetSize);

  // Adds one clock. False when it does not fit this command (nothing was added: send the command,
  // clear, and add it again). For a captured clock, tdoBit receives where its TDO will be in the
  // answer: bit tdoBit % 8 of answer byte 2 + tdoBit / 8.
  bool add(bool tms, bool tdi, bool capture, uint32_t& tdoBit);

  bool empty() const { return sequences_ == 0; }
  // The command as it stands, and the length of the answer it asks for.
  const uint8_t* command() const { return command_; }
  size_t length() const { return length_; }
  size_t answerLength() const { return 2 + answerBytes_; }
  // TCK clocks in the command.
  uint32_t clocks() const { return clocks_; }
  void clear();

 private:
  size_t packetSize_;
  std::unique_ptr<uint8_t[]> storage_;
  uint8_t* command_;  // storage_, taken once: this is the path of every clock
  size_t length_ = 2;
  size_t answerBytes_ = 0;  // TDO bytes of the captured sequences so far
  int sequences_ = 0;
  uint32_t clocks_ = 0;
  // The sequence still growing: where its info byte is, its clocks, and where its TDO starts.
  size_t infoAt_ = 0;
  int sequenceClocks_ = 0;
  bool sequenceTms_ = false;
  bool sequenceCapture_ = false;
  size_t sequenceTdoByte_ = 0;
};

}  // namespace zorv::dap
