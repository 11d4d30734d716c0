#include "link/jtag_cable.h"

#include <algorithm>
#include <cstring>

#include "cable/bit_string.h"
#include "text/format.h"

namespace zorv {
namespace {

// TMS levels, first clock in the lowest bit, from Run-Test/Idle to the shift states.
constexpr uint32_t kToShiftIr = 0b00110;  // 0 1 1 0 0
constexpr uint32_t kToShiftDr = 0b0010;   // 0 1 0 0

}  // namespace

int JtagCable::detectPort() {
  dataPort = kLptDataPort;
  statusPort = kLptStatusPort;
  return link_.detect() ? 0 : -1;
}

void JtagCable::shiftBody(const char* bits, int length, const TdoCapture& capture) {
  // Taken first: the capture may land in the same buffer.
  const bool last = (bits[length - 1] & 1) != 0;
  link_.shiftBits(bits, static_cast<uint32_t>(length), true, capture);
  link_.clockTms(1, 1, last);
  link_.clockTms(0, 1, false);
}

// A scan needs at least one bit; a zero-length request shifts nothing at all.
void JtagCable::shiftIr(const char* bits, int length) {
  if (length < 1) return;
  link_.clockTms(kToShiftIr, 5, false);
  shiftBody(bits, length, {});
}

void JtagCable::shiftDr(const char* bits, int length) {
  if (length < 1) return;
  link_.clockTms(kToShiftDr, 4, false);
  shiftBody(bits, length, {});
}

void JtagCable::shiftDrCapture(const char* bitsIn, char* bitsOut, int length) {
  if (length < 1) return;
  link_.clockTms(kToShiftDr, 4, false);
  // The captured bytes land in bitsOut[i] after bitsIn[i] has been taken, so the two may be one
  // buffer; they become '0'/'1' once every capture is in.
  auto* raw = reinterpret_cast<uint8_t*>(bitsOut);
  shiftBody(bitsIn, length, {raw, 0, static_cast<uint32_t>(length)});
  link_.flush();
  for (int i = 0; i < length; ++i) bitsOut[i] = bitChar((raw[i] & kTdoCaptured) != 0);
}

void JtagCable::shiftDrCaptureDeferred(const char* bitsIn, int length, int first, int count, uint8_t* raw) {
  if (length < 1) return;
  link_.clockTms(kToShiftDr, 4, false);
  shiftBody(bitsIn, length, {raw, static_cast<uint32_t>(first), static_cast<uint32_t>(count)});
}

void JtagCable::checkTdoCarriesAnswers() {
  uint8_t raw[4] = {};
  link_.clockTms(kToShiftIr, 5, false);
  shiftBody(extestInstruction, 4, {raw, 0, 4});
  link_.flush();
  // The first bit out is the register's lowest.
  char captured[5] = {};
  for (int i = 0; i < 4; ++i) captured[3 - i] = bitChar((raw[i] & kTdoCaptured) != 0);
  if (captured[3] == '1' && captured[2] == '0') return;
  noteCableFault(format("TDO does not carry the chip's answers (its instruction register captured %s, "
                        "not ..01): the line is stuck or the cable is loose",
                        captured));
}

uint32_t JtagCable::readIdCode(std::string& message) {
  shiftIr(idInstruction, 4);
  char code[33] = "00001111000011110000111100001111";
  shiftDrCapture(code, code, 32);
  std::reverse(code, code + 32);
  if (std::memcmp(code, idCode, 4) != 0) return 0;
  const uint32_t value = msbFirstValue(std::string_view(code, 32));
  message = format("  JTAG ID: Ver(0x%01X), Part(0x%04X), Maker(0x%03X)\r\n", value >> 28, (value >> 16) & 0xFFF,
                   (value >> 4) & 0xFFF);
  return value;
}

}  // namespace zorv
