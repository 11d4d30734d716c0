#include "link/parallel_port_link.h"

namespace zorv {

bool ParallelPortLink::detect() {
  io_.write(kLptDataPort, 0x55);
  if (io_.read(kLptDataPort) != 0x55) return false;
  io_.write(kLptDataPort, kTrstReleasedBit | kTckBit);
  return true;
}

void ParallelPortLink::shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) {
  for (uint32_t i = 0; i < length; ++i) {
    clock(exitOnLast && i + 1 == length, (tdi[i] & 1) != 0);
    // Every clock of a capturing shift is read, kept or not: the port sees the same accesses
    // whichever bits the caller wants.
    if (capture.dest != nullptr) {
      const bool kept = i >= capture.first && i - capture.first < capture.count;
      io_.readDeferred(kLptStatusPort, kept ? capture.dest + (i - capture.first) : nullptr);
    }
  }
}

void ParallelPortLink::pulseTrst() {
  io_.write(kLptDataPort, kTrstReleasedBit | kTckBit);
  io_.write(kLptDataPort, kTckBit);
  io_.write(kLptDataPort, kTrstReleasedBit | kTckBit);
}

}  // namespace zorv
