#include "sim/dap_probe.h"

#include <algorithm>
#include <string>

#include "sim/lpt_pins.h"

namespace zorv::sim {
namespace {

// Command IDs and fields as Arm's CMSIS-DAP documentation ("CMSIS-DAP Commands") lists them; kept
// apart from the program's own encoder on purpose.
enum : uint8_t {
  Info = 0x00,
  Connect = 0x02,
  Disconnect = 0x03,
  SwjPins = 0x10,
  SwjClock = 0x11,
  JtagSequence = 0x14,
};
constexpr uint8_t kOk = 0x00;
constexpr uint8_t kError = 0xFF;
// DAP_SWJ_Pins bits.
constexpr uint8_t kPinTck = 1u << 0;
constexpr uint8_t kPinTms = 1u << 1;
constexpr uint8_t kPinTdi = 1u << 2;
constexpr uint8_t kPinTdo = 1u << 3;
constexpr uint8_t kPinTrst = 1u << 5;
constexpr uint8_t kPinReset = 1u << 7;
constexpr uint32_t kLongestPinWaitUs = 3000000;

std::string hex(unsigned value) {
  const char* digits = "0123456789ABCDEF";
  return std::string("0x") + digits[(value >> 4) & 0xF] + digits[value & 0xF];
}

void expectLength(const char* name, size_t length, size_t wanted) {
  if (length != wanted) {
    throw DapProbeFault(std::string(name) + " of " + std::to_string(length) + " bytes, the command has " +
                        std::to_string(wanted));
  }
}

}  // namespace

DapProbe::DapProbe(PortIo& board, Config config) : board_(board), config_(config) {}

void DapProbe::drive() {
  uint8_t lpt = 0;
  if (tdi_) lpt |= kTdi;
  if (tms_) lpt |= kTms;
  if (tckHigh_) lpt |= kTck;
  if (!config_.trstWired || trstHigh_) lpt |= kTrst;
  board_.write(kLptDataPort, lpt);
}

// TMS and TDI change as TCK falls; the TAP takes them as it rises, and TDO is sampled while it is
// high. TCK idles high between clocks, as the parallel cable leaves it.
bool DapProbe::clock(bool tms, bool tdi) {
  tms_ = tms;
  tdi_ = tdi;
  uint8_t lpt = (tdi ? kTdi : 0) | (tms ? kTms : 0);
  if (!config_.trstWired || trstHigh_) lpt |= kTrst;
  board_.write(kLptDataPort, lpt);
  board_.write(kLptDataPort, lpt | kTck);
  tckHigh_ = true;
  ++clocks_;
  return (board_.read(kLptStatusPort) & kTdo) != 0;
}

void DapProbe::command(const uint8_t* packet, size_t length) {
  if (length == 0) throw DapProbeFault("an empty command packet");
  if (length > config_.packetSize) {
    throw DapProbeFault("a packet of " + std::to_string(length) + " bytes, the probe takes " +
                        std::to_string(config_.packetSize));
  }
  if (answers_.size() >= config_.packetCount) {
    throw DapProbeFault("command " + hex(packet[0]) + " sent while " + std::to_string(answers_.size()) +
                        " answers wait unread: the probe buffers " + std::to_string(config_.packetCount) + " packets");
  }
  ++commands_;
  std::vector<uint8_t> reply;
  switch (packet[0]) {
    case Info: reply = info(packet, length); break;
    case Connect: {
      expectLength("DAP_Connect", length, 2);
      const uint8_t port = packet[1];
      uint8_t initialised = 0;
      if ((port == 0 || port == 2) && config_.jtag) initialised = 2;
      if (port == 1 || (port == 0 && !config_.jtag)) initialised = 1;  // SWD: no sequences are clocked then
      connected_ = initialised == 2;
      reply = {Connect, initialised};
      break;
    }
    case Disconnect:
      expectLength("DAP_Disconnect", length, 1);
      connected_ = false;
      ++disconnects_;
      reply = {Disconnect, kOk};
      break;
    case SwjClock: {
      expectLength("DAP_SWJ_Clock", length, 5);
      const uint32_t hz = packet[1] | (packet[2] << 8) | (packet[3] << 16) | (static_cast<uint32_t>(packet[4]) << 24);
      if (hz != 0) clockHz_ = hz;
      reply = {SwjClock, hz != 0 ? kOk : kError};
      break;
    }
    case SwjPins: reply = pins(packet, length); break;
    case JtagSequence: reply = sequences(packet, length); break;
    default: reply = {0xFF}; break;  // not implemented
  }
  answers_.push_back(std::move(reply));
}

std::vector<uint8_t> DapProbe::info(const uint8_t* packet, size_t length) {
  expectLength("DAP_Info", length, 2);
  switch (packet[1]) {
    case 0x04: return {Info, 6, '2', '.', '1', '.', '1', 0};  // firmware version, with its terminator
    case 0xF0: return {Info, 1, static_cast<uint8_t>(config_.jtag ? 0x03 : 0x01)};  // SWD, and JTAG
    case 0xFE: return {Info, 1, config_.packetCount};
    case 0xFF:
      return {Info, 2, static_cast<uint8_t>(config_.packetSize & 0xFF), static_cast<uint8_t>(config_.packetSize >> 8)};
    default: return {Info, 0};  // no such information
  }
}

std::vector<uint8_t> DapProbe::pins(const uint8_t* packet, size_t length) {
  expectLength("DAP_SWJ_Pins", length, 7);
  const uint8_t output = packet[1];
  const uint8_t select = packet[2];
  const uint32_t wait = packet[3] | (packet[4] << 8) | (packet[5] << 16) | (static_cast<uint32_t>(packet[6]) << 24);
  if (wait > kLongestPinWaitUs) throw DapProbeFault("DAP_SWJ_Pins with a pin wait over 3 s");
  if (select & kPinTms) tms_ = (output & kPinTms) != 0;
  if (select & kPinTdi) tdi_ = (output & kPinTdi) != 0;
  if (select & kPinTck) tckHigh_ = (output & kPinTck) != 0;
  if (select & kPinTrst) {
    const bool high = (output & kPinTrst) != 0;
    if (config_.trstWired && trstHigh_ && !high) ++trstPulses_;
    trstHigh_ = high;
  }
  drive();
  uint8_t input = kPinReset;
  if (tckHigh_) input |= kPinTck;
  if (tms_) input |= kPinTms;
  if (tdi_) input |= kPinTdi;
  if (board_.read(kLptStatusPort) & kTdo) input |= kPinTdo;
  if (config_.trstWired && trstHigh_) input |= kPinTrst;
  return {SwjPins, input};
}

std::vector<uint8_t> DapProbe::sequences(const uint8_t* packet, size_t length) {
  if (!connected_) throw DapProbeFault("DAP_JTAG_Sequence while not connected in JTAG mode");
  if (length < 2 || packet[1] == 0) throw DapProbeFault("DAP_JTAG_Sequence without a sequence");
  const int count = packet[1];
  // Every sequence is checked before a clock moves: a probe would clock a cut command's garbage.
  size_t at = 2;
  for (int s = 0; s < count; ++s) {
    if (at >= length) {
      throw DapProbeFault("DAP_JTAG_Sequence announces " + std::to_string(count) + " sequences, the packet holds " +
                          std::to_string(s));
    }
    const int clocks = (packet[at] & 0x3F) == 0 ? 64 : packet[at] & 0x3F;
    const size_t tdiBytes = (static_cast<size_t>(clocks) + 7) / 8;
    if (at + 1 + tdiBytes > length) {
      throw DapProbeFault("sequence " + std::to_string(s) + " of " + std::to_string(clocks) + " clocks needs " +
                          std::to_string(tdiBytes) + " TDI bytes, the packet has " + std::to_string(length - at - 1));
    }
    at += 1 + tdiBytes;
  }
  if (at != length) {
    throw DapProbeFault(std::to_string(length - at) + " bytes after the last of " + std::to_string(count) +
                        " sequences: the TDI bytes do not match the clocks");
  }
  std::vector<uint8_t> reply{JtagSequence, kOk};
  reply.reserve(length);  // no more TDO bytes than the command brought TDI bytes
  at = 2;
  for (int s = 0; s < count; ++s) {
    const uint8_t seqInfo = packet[at++];
    const int clocks = (seqInfo & 0x3F) == 0 ? 64 : seqInfo & 0x3F;
    const bool tms = (seqInfo & 0x40) != 0;
    const bool capture = (seqInfo & 0x80) != 0;
    uint8_t in = 0;
    for (int i = 0; i < clocks; ++i) {
      const bool tdi = ((packet[at + static_cast<size_t>(i / 8)] >> (i % 8)) & 1) != 0;
      if (clock(tms, tdi)) in = static_cast<uint8_t>(in | (1u << (i % 8)));
      if (capture && (i % 8 == 7 || i + 1 == clocks)) {
        reply.push_back(in);
        in = 0;
      }
    }
    at += (static_cast<size_t>(clocks) + 7) / 8;
  }
  return reply;
}

size_t DapProbe::answer(uint8_t* dest, size_t capacity) {
  if (answers_.empty()) throw DapProbeFault("an answer read that was never made");
  const std::vector<uint8_t>& front = answers_.front();
  if (front.size() > capacity) {
    throw DapProbeFault("an answer of " + std::to_string(front.size()) + " bytes read into " +
                        std::to_string(capacity));
  }
  std::copy(front.begin(), front.end(), dest);
  const size_t length = front.size();
  answers_.pop_front();
  return length;
}

}  // namespace zorv::sim
