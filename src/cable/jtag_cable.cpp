#include "cable/jtag_cable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cable/bit_string.h"

namespace zorv {

bool JtagCable::grantPortAccess() { return io_.grantAccess(); }

int JtagCable::detectPort() {
  io_.write(kLptDataPort, 0x55);
  const uint8_t echoed = io_.read(kLptDataPort);
  dataPort = kLptDataPort;
  statusPort = kLptStatusPort;
  if (echoed != 0x55) return -1;
  io_.write(dataPort, kTrstReleasedBit | kTckBit);
  return 0;
}

void JtagCable::pulseTrst() {
  io_.write(dataPort, kTrstReleasedBit | kTckBit);
  io_.write(dataPort, kTckBit);
  io_.write(dataPort, kTrstReleasedBit | kTckBit);
}

void JtagCable::resetTap() {
  for (int i = 0; i < 5; ++i) {
    io_.write(dataPort, kTrstReleasedBit | kTmsBit);
    io_.write(dataPort, kTrstReleasedBit | kTmsBit | kTckBit);
  }
}

// Shift state to Update (last bit leaves with TMS high, the level is repeated on the update clock),
// then Run-Test/Idle.
void JtagCable::shiftBody(const char* bits, int length) {
  for (int i = 0; i < length - 1; ++i) clockTck(0, bits[i] & 1);
  const int last = bits[length - 1] & 1;
  clockTck(1, last);
  clockTck(1, last);
  clockTck(0, 0);
}

// A scan needs at least one bit; a zero-length request shifts nothing at all.
void JtagCable::shiftIr(const char* bits, int length) {
  if (length < 1) return;
  clockTck(0, 0);
  clockTck(1, 0);
  clockTck(1, 0);
  clockTck(0, 0);
  clockTck(0, 0);
  shiftBody(bits, length);
}

void JtagCable::shiftDr(const char* bits, int length) {
  if (length < 1) return;
  clockTck(0, 0);
  clockTck(1, 0);
  clockTck(0, 0);
  clockTck(0, 0);
  shiftBody(bits, length);
}

void JtagCable::shiftDrCapture(const char* bitsIn, char* bitsOut, int length) {
  if (length < 1) return;
  clockTck(0, 0);
  clockTck(1, 0);
  clockTck(0, 0);
  clockTck(0, 0);
  // The raw status bytes land in bitsOut[i] after bitsIn[i] has been shifted, so the two may be
  // one buffer; they become '0'/'1' once every deferred read is in.
  auto* raw = reinterpret_cast<uint8_t*>(bitsOut);
  for (int i = 0; i < length - 1; ++i) {
    clockTck(0, bitsIn[i] & 1);
    io_.readDeferred(statusPort, raw + i);
  }
  const int last = bitsIn[length - 1] & 1;
  clockTck(1, last);
  io_.readDeferred(statusPort, raw + length - 1);
  clockTck(1, last);
  clockTck(0, 0);
  io_.flush();
  for (int i = 0; i < length; ++i) bitsOut[i] = bitChar((raw[i] & kTdoStatusBit) != 0);
}

void JtagCable::shiftDrCaptureDeferred(const char* bitsIn, int length, int first, int count, uint8_t* raw) {
  if (length < 1) return;
  clockTck(0, 0);
  clockTck(1, 0);
  clockTck(0, 0);
  clockTck(0, 0);
  for (int i = 0; i < length; ++i) {
    const bool last = i == length - 1;
    clockTck(last ? 1 : 0, bitsIn[i] & 1);
    io_.readDeferred(statusPort, i >= first && i < first + count ? raw + (i - first) : nullptr);
  }
  clockTck(1, bitsIn[length - 1] & 1);
  clockTck(0, 0);
}

uint32_t JtagCable::readIdCode(std::string& message) {
  shiftIr(idInstruction, 4);
  char code[33] = "00001111000011110000111100001111";
  shiftDrCapture(code, code, 32);
  std::reverse(code, code + 32);
  if (std::memcmp(code, idCode, 4) != 0) return 0;
  const uint32_t value = msbFirstValue(std::string_view(code, 32));
  char line[80];
  std::snprintf(line, sizeof line, "  JTAG ID: Ver(0x%01X), Part(0x%04X), Maker(0x%03X)\r\n", value >> 28,
                (value >> 16) & 0xFFF, (value >> 4) & 0xFFF);
  message = line;
  return value;
}

}  // namespace zorv
