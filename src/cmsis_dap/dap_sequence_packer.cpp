#include "cmsis_dap/dap_sequence_packer.h"

#include "cmsis_dap/dap_commands.h"

namespace zorv::dap {

SequencePacker::SequencePacker(size_t packetSize)
    : packetSize_(packetSize < 4 ? 4 : packetSize),
      storage_(std::make_unique<uint8_t[]>(packetSize_)),
      command_(storage_.get()) {
  clear();
}

void SequencePacker::clear() {
  command_[0] = kJtagSequence;
  command_[1] = 0;
  length_ = 2;
  answerBytes_ = 0;
  sequences_ = 0;
  clocks_ = 0;
  sequenceClocks_ = 0;
}

bool SequencePacker::add(bool tms, bool tdi, bool capture, uint32_t& tdoBit) {
  const bool extends = sequenceClocks_ > 0 && sequenceClocks_ < kMaxSequenceClocks && tms == sequenceTms_ &&
                       capture == sequenceCapture_;
  if (extends) {
    // A ninth, seventeenth... clock takes a TDI byte more, and a TDO byte more when captured.
    if (sequenceClocks_ % 8 == 0) {
      if (length_ + 1 > packetSize_ || (capture && answerLength() + 1 > packetSize_)) return false;
      command_[length_++] = 0;
      if (capture) ++answerBytes_;
    }
  } else {
    // A new sequence: its info byte and its first TDI byte (and TDO byte).
    if (sequences_ == kMaxSequencesPerCommand || length_ + 2 > packetSize_ ||
        (capture && answerLength() + 1 > packetSize_)) {
      return false;
    }
    infoAt_ = length_;
    command_[length_++] = 0;
    command_[length_++] = 0;
    sequenceClocks_ = 0;
    sequenceTms_ = tms;
    sequenceCapture_ = capture;
    sequenceTdoByte_ = answerBytes_;
    if (capture) ++answerBytes_;
    command_[1] = static_cast<uint8_t>(++sequences_);
  }
  if (tdi) command_[length_ - 1] = static_cast<uint8_t>(command_[length_ - 1] | (1u << (sequenceClocks_ % 8)));
  if (capture) tdoBit = static_cast<uint32_t>(sequenceTdoByte_ * 8) + static_cast<uint32_t>(sequenceClocks_);
  ++sequenceClocks_;
  ++clocks_;
  command_[infoAt_] = static_cast<uint8_t>((sequenceClocks_ & kSequenceClockMask) | (tms ? kSequenceTms : 0) |
                                           (capture ? kSequenceCapture : 0));
  return true;
}

}  // namespace zorv::dap
