#include "sim/mpsse_interpreter.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "sim/lpt_pins.h"

namespace zorv::sim {
namespace {

constexpr uint16_t kTckPin = 0x0001;
constexpr uint16_t kTdiPin = 0x0002;
constexpr uint16_t kTmsPin = 0x0008;

std::string hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

}  // namespace

MpsseInterpreter::MpsseInterpreter(PortIo& board, Wiring wiring) : board_(board), wiring_(wiring) {}

uint32_t MpsseInterpreter::tckHz() const {
  const uint32_t base = wiring_.highSpeed && !divideBy5_ ? 60000000u : 12000000u;
  return base / ((1u + divisor_) * 2u);
}

void MpsseInterpreter::requireClockPins() const {
  if ((directions_ & (kTckPin | kTdiPin | kTmsPin)) != (kTckPin | kTdiPin | kTmsPin)) {
    throw MpsseFault("clock while TCK, TDI or TMS is not an output (directions " + hex(directions_ & 0xFF) + ")");
  }
}

// An nTRST pin that is no output is pulled up (released).
bool MpsseInterpreter::trstPinLow() const {
  const bool driven = wiring_.trstPin != 0 && (directions_ & wiring_.trstPin) != 0;
  return driven && (values_ & wiring_.trstPin) == 0;
}

bool MpsseInterpreter::settleTrst() {
  if (trstPinWasLow_ == trstSeenLow_) return false;
  if (std::chrono::steady_clock::now() - trstChanged_ < wiring_.trstFilter) return false;
  trstSeenLow_ = trstPinWasLow_;
  return true;
}

// The board sees the adapter's pins as parallel-cable bits, nTRST as it comes through the filter.
void MpsseInterpreter::drivePins(bool tck) {
  settleTrst();
  uint8_t lpt = 0;
  if (values_ & kTdiPin) lpt |= kTdi;
  if (values_ & kTmsPin) lpt |= kTms;
  if (tck) lpt |= kTck;
  if (!trstSeenLow_) lpt |= kTrst;
  board_.write(kLptDataPort, lpt);
}

bool MpsseInterpreter::clockBit(bool tms, bool tdi) {
  values_ = static_cast<uint16_t>(tms ? values_ | kTmsPin : values_ & ~kTmsPin);
  values_ = static_cast<uint16_t>(tdi ? values_ | kTdiPin : values_ & ~kTdiPin);
  drivePins(false);
  drivePins(true);
  const bool tdo = loopback_ ? tdi : (board_.read(kLptStatusPort) & kTdo) != 0;
  drivePins(false);
  ++clocks_;
  return tdo;
}

void MpsseInterpreter::shiftBits(uint8_t opcode, uint8_t data, int bits) {
  const bool tmsCommand = (opcode & 0x40) != 0;
  const bool read = (opcode & 0x20) != 0;
  const bool tmsLevel = (values_ & kTmsPin) != 0;
  if (!tmsCommand && tmsLevel) throw MpsseFault("data shift " + hex(opcode) + " clocked with TMS high");
  uint8_t in = 0;
  for (int i = 0; i < bits; ++i) {
    const bool bit = ((data >> i) & 1) != 0;
    // TMS commands hold TDI at bit 7 of their byte for every clock.
    const bool tdo = tmsCommand ? clockBit(bit, (data & 0x80) != 0) : clockBit(tmsLevel, bit);
    in = static_cast<uint8_t>((in >> 1) | (tdo ? 0x80 : 0x00));
  }
  if (read) answer(in);
}

void MpsseInterpreter::play(const uint8_t* data, size_t length) {
  size_t at = 0;
  // The bytes a command needs after its opcode, all within this transfer.
  auto need = [&](size_t bytes, uint8_t opcode) {
    if (length - at < bytes) {
      throw MpsseFault("command " + hex(opcode) + " at byte " + std::to_string(at - 1) + " needs " +
                       std::to_string(bytes) + " more bytes, the transfer has " + std::to_string(length - at));
    }
  };
  while (at < length) {
    const uint8_t opcode = data[at++];
    switch (opcode) {
      case 0x19:
      case 0x39: {
        need(2, opcode);
        const size_t count = (data[at] | (data[at + 1] << 8)) + 1u;
        at += 2;
        need(count, opcode);
        requireClockPins();
        if (values_ & kTmsPin) throw MpsseFault("data shift " + hex(opcode) + " clocked with TMS high");
        for (size_t b = 0; b < count; ++b) {
          uint8_t in = 0;
          for (int i = 0; i < 8; ++i) {
            if (clockBit(false, ((data[at + b] >> i) & 1) != 0)) in = static_cast<uint8_t>(in | (1u << i));
          }
          if (opcode == 0x39) answer(in);
        }
        at += count;
        break;
      }
      case 0x1B:
      case 0x3B:
      case 0x4B:
      case 0x6B: {
        need(2, opcode);
        const int bits = data[at] + 1;
        const bool tmsCommand = (opcode & 0x40) != 0;
        if (bits > (tmsCommand ? 7 : 8)) throw MpsseFault("command " + hex(opcode) + " asks for " + std::to_string(bits) + " bits");
        requireClockPins();
        shiftBits(opcode, data[at + 1], bits);
        at += 2;
        break;
      }
      case 0x80:
      case 0x82: {
        need(2, opcode);
        const int shift = opcode == 0x80 ? 0 : 8;
        const auto keep = static_cast<uint16_t>(0xFF00u >> shift);
        // What the old level has become by now reaches the board before the pins change.
        if (settleTrst()) drivePins(false);
        values_ = static_cast<uint16_t>((values_ & keep) | (data[at] << shift));
        directions_ = static_cast<uint16_t>((directions_ & keep) | (data[at + 1] << shift));
        at += 2;
        if (trstPinLow() != trstPinWasLow_) {
          trstPinWasLow_ = !trstPinWasLow_;
          trstChanged_ = std::chrono::steady_clock::now();
        }
        drivePins(false);
        break;
      }
      case 0x81: answer(static_cast<uint8_t>(values_ & 0xFF)); break;
      case 0x83: answer(static_cast<uint8_t>(values_ >> 8)); break;
      case 0x84: loopback_ = true; break;
      case 0x85: loopback_ = false; break;
      case 0x86:
        need(2, opcode);
        divisor_ = static_cast<uint16_t>(data[at] | (data[at + 1] << 8));
        at += 2;
        break;
      case 0x87: ++sendImmediates_; break;
      case 0x8A:
      case 0x8B:
      case 0x8D:
      case 0x97:
        if (!wiring_.highSpeed) throw MpsseFault("command " + hex(opcode) + " needs an H-series chip");
        if (opcode == 0x8A) divideBy5_ = false;
        if (opcode == 0x8B) divideBy5_ = true;
        break;
      default: throw MpsseFault("unknown opcode " + hex(opcode) + " at byte " + std::to_string(at - 1));
    }
  }
}

void MpsseInterpreter::take(uint8_t* dest, size_t length) {
  if (length > answersWaiting()) {
    throw MpsseFault("read of " + std::to_string(length) + " bytes, " + std::to_string(answersWaiting()) +
                     " answered");
  }
  std::copy_n(answers_.begin() + static_cast<std::ptrdiff_t>(answerRead_), length, dest);
  answerRead_ += length;
  if (answerRead_ == answers_.size()) {
    answers_.clear();
    answerRead_ = 0;
  }
}

}  // namespace zorv::sim
