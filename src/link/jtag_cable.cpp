#include "link/jtag_cable.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cable/bit_string.h"
#include "text/format.h"

namespace zorv {
namespace {

// TMS levels, first clock in the lowest bit, from Run-Test/Idle to the shift states.
constexpr uint32_t kToShiftIr = 0b00110;  // 0 1 1 0 0
constexpr uint32_t kToShiftDr = 0b0010;   // 0 1 0 0
// From Exit1-DR: to Pause-DR, where the TAP may wait; then back to Shift-DR.
constexpr uint32_t kToPauseDr = 0b0;       // 0
constexpr uint32_t kPauseToShiftDr = 0b01; // 1 0

// Padding is shifted from these, whole, so that a padded scan costs no more work per bit.
constexpr int kPadChunk = 64;
constexpr char kZeros[kPadChunk + 1] = "0000000000000000000000000000000000000000000000000000000000000000";
constexpr char kOnes[kPadChunk + 1] = "1111111111111111111111111111111111111111111111111111111111111111";

}  // namespace

int JtagCable::detectPort() {
  dataPort = kLptDataPort;
  statusPort = kLptStatusPort;
  return link_.detect() ? 0 : -1;
}

void JtagCable::pad(const char* fill, int count, bool exitOnLast) {
  while (count > 0) {
    const int bits = std::min(count, kPadChunk);
    count -= bits;
    link_.shiftBits(fill, static_cast<uint32_t>(bits), exitOnLast && count == 0, {});
  }
}

void JtagCable::shiftBody(const char* bits, int length, const TdoCapture& capture, int before, int after,
                          const char* fill) {
  // Taken first: the capture may land in the same buffer.
  const bool last = ((after > 0 ? fill[0] : bits[length - 1]) & 1) != 0;
  pad(fill, before, false);
  link_.shiftBits(bits, static_cast<uint32_t>(length), after == 0, capture);
  pad(fill, after, true);
  link_.clockTms(1, 1, last);
  link_.clockTms(0, 1, false);
}

void JtagCable::shiftIrBody(const char* bits, int length, const TdoCapture& capture) {
  shiftBody(bits, length, capture, padding.irBefore, padding.irAfter, kOnes);
}

void JtagCable::shiftDrBody(const char* bits, int length, const TdoCapture& capture) {
  shiftBody(bits, length, capture, padding.drBefore, padding.drAfter, kZeros);
}

// A scan needs at least one bit; a zero-length request shifts nothing at all.
void JtagCable::shiftIr(const char* bits, int length) {
  if (length < 1) return;
  if (parked_) {
    // The count left EXTEST in force: loading it again would pass Update-DR with the count's fill.
    if (length == instructionLength && std::strncmp(bits, extestInstruction, static_cast<size_t>(length)) == 0) return;
    unpark();
  }
  link_.clockTms(kToShiftIr, 5, false);
  shiftIrBody(bits, length, {});
}

void JtagCable::shiftIrCapture(const char* bitsIn, char* bitsOut, int length) {
  if (length < 1) return;
  unpark();
  link_.clockTms(kToShiftIr, 5, false);
  auto* raw = reinterpret_cast<uint8_t*>(bitsOut);
  shiftIrBody(bitsIn, length, {raw, 0, static_cast<uint32_t>(length)});
  link_.flush();
  for (int i = 0; i < length; ++i) bitsOut[i] = bitChar((raw[i] & kTdoCaptured) != 0);
}

void JtagCable::shiftDr(const char* bits, int length) {
  if (length < 1) return;
  enterShiftDr();
  shiftDrBody(bits, length, {});
}

void JtagCable::shiftDrCapture(const char* bitsIn, char* bitsOut, int length) {
  if (length < 1) return;
  // The captured bytes land in bitsOut[i] after bitsIn[i] has been taken, so the two may be one
  // buffer; they become '0'/'1' once every capture is in.
  auto* raw = reinterpret_cast<uint8_t*>(bitsOut);
  if (enterShiftDr()) {
    shiftDrBody(bitsIn, length, {});
    capturedAtCount(0, length, raw);
  } else {
    shiftDrBody(bitsIn, length, {raw, 0, static_cast<uint32_t>(length)});
  }
  link_.flush();
  for (int i = 0; i < length; ++i) bitsOut[i] = bitChar((raw[i] & kTdoCaptured) != 0);
}

void JtagCable::shiftDrCaptureDeferred(const char* bitsIn, int length, int first, int count, uint8_t* raw) {
  if (length < 1) return;
  if (enterShiftDr()) {
    shiftDrBody(bitsIn, length, {});
    capturedAtCount(first, count, raw);
    return;
  }
  shiftDrBody(bitsIn, length, {raw, static_cast<uint32_t>(first), static_cast<uint32_t>(count)});
}

uint32_t JtagCable::expectedIdCode() const { return msbFirstValue(std::string_view(idCode, 32)); }

void JtagCable::checkTdoCarriesAnswers() {
  char captured[kMaxInstructionLength + 1] = {};
  shiftIrCapture(extestInstruction, captured, instructionLength);
  // The first bit out is the register's lowest: a TAP captures ...01 there.
  if (instructionLength >= 2 && captured[0] == '1' && captured[1] == '0') return;
  std::reverse(captured, captured + instructionLength);
  noteCableFault(format("TDO does not carry the chip's answers (its instruction register captured %s, "
                        "not ..01): the line is stuck or the cable is loose",
                        captured));
}

uint32_t JtagCable::readIdCode(std::string& message) {
  shiftIr(idInstruction, instructionLength);
  char code[33] = "00001111000011110000111100001111";
  shiftDrCapture(code, code, 32);
  std::reverse(code, code + 32);
  idRead = msbFirstValue(std::string_view(code, 32));
  // The whole code counts, not only its version field: products that share a version (and a
  // board carrying another chip) must not pass for one another.
  if (idCode[0] == '\0' || ((idRead ^ expectedIdCode()) & idMask) != 0 || idRead == 0) return 0;
  const uint32_t value = idRead;
  message = format("  JTAG ID: Ver(0x%01X), Part(0x%04X), Maker(0x%03X)\r\n", value >> 28, (value >> 16) & 0xFFF,
                   (value >> 4) & 0xFFF);
  return value;
}

// Nothing is driven while bits move through Shift-DR; only Update-DR puts the register on the
// pins, and every way out of Shift-DR but an nTRST pulse passes it. So the count runs in one scan
// that waits in Pause-DR for its answer, holding what the cells captured.
int JtagCable::countInPauseDr() {
  const int pads = padding.drBefore + padding.drAfter;
  const int fill = kMaxBoundaryLength + pads;
  const std::vector<char> zeros(static_cast<size_t>(fill), '0');
  std::vector<char> marker(static_cast<size_t>(fill) + 1, '0');
  marker[0] = '1';
  countCapture_.assign(static_cast<size_t>(fill), 0);
  std::vector<uint8_t> emerging(marker.size());
  link_.clockTms(kToShiftDr, 4, false);
  link_.shiftBits(zeros.data(), static_cast<uint32_t>(fill), false,
                  {countCapture_.data(), 0, static_cast<uint32_t>(fill)});
  link_.shiftBits(marker.data(), static_cast<uint32_t>(marker.size()), true,
                  {emerging.data(), 0, static_cast<uint32_t>(marker.size())});
  link_.clockTms(kToPauseDr, 1, false);
  link_.flush();
  countPath_ = -1;
  for (size_t i = 0; i < emerging.size(); ++i) {
    if ((emerging[i] & kTdoCaptured) != 0) {
      countPath_ = static_cast<int>(i);
      break;
    }
  }
  if (countPath_ <= 0) {
    // Longer than anything counted, or TDO stuck high: no safe content is known. nTRST, where the
    // cable has it, leaves Pause-DR without an update; the reset that follows covers a cable
    // without it.
    if (link_.hasTrst()) link_.pulseTrst();
    resetTap();
    return countPath_;
  }
  return std::max(countPath_ - pads, 0);
}

std::vector<char> JtagCable::capturedBits() const {
  std::vector<char> back(static_cast<size_t>(countPath_));
  for (size_t i = 0; i < back.size(); ++i) back[i] = bitChar((countCapture_[i] & kTdoCaptured) != 0);
  return back;
}

void JtagCable::putBackCaptured() {
  parked_ = false;
  link_.clockTms(kPauseToShiftDr, 2, false);
  const std::vector<char> back = capturedBits();
  shiftBody(back.data(), countPath_, {}, 0, 0, kZeros);
}

void JtagCable::refillParked() {
  parked_ = false;
  link_.clockTms(kPauseToShiftDr, 2, false);
  const std::vector<char> back = capturedBits();
  link_.shiftBits(back.data(), static_cast<uint32_t>(back.size()), true, {});
  link_.clockTms(kToPauseDr, 1, false);
}

int JtagCable::measureBoundaryLength(const char* instruction) {
  unpark();
  shiftIr(instruction, instructionLength);
  const int length = countInPauseDr();
  if (length > 0) putBackCaptured();
  return length;
}

int JtagCable::proveBoundaryLength() {
  unpark();
  shiftIr(extestInstruction, instructionLength);
  const int length = countInPauseDr();
  if (length <= 0) return length;
  if (length == bsrLength) {
    parked_ = true;
  } else {
    putBackCaptured();
  }
  return length;
}

bool JtagCable::enterShiftDr() {
  if (!parked_) {
    link_.clockTms(kToShiftDr, 4, false);
    return false;
  }
  parked_ = false;
  link_.clockTms(kPauseToShiftDr, 2, false);
  return true;
}

void JtagCable::capturedAtCount(int first, int count, uint8_t* raw) const {
  for (int i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(padding.drBefore + first + i);
    raw[i] = at < static_cast<size_t>(countPath_) ? countCapture_[at] : 0xFF;
  }
}

}  // namespace zorv
