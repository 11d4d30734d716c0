#include "link/ftdi_link.h"

namespace zorv {

bool FtdiLink::grantAccess() {
  const std::string why = adapter_.open();
  if (!why.empty()) {
    noteLinkFailure(why);
    return true;  // the cable answers as absent, and the job names the cause
  }
  clearLinkFailure();
  return true;
}

bool FtdiLink::usable() {
  if (adapter_.usable()) return true;
  if (adapter_.encoderIfOpen() != nullptr) noteLinkFailure(adapter_.cause());
  return false;
}

void FtdiLink::clockTms(uint32_t tmsBits, int count, bool tdi) {
  if (!usable()) return;
  MpsseEncoder& encoder = adapter_.encoder();
  for (int i = 0; i < count; ++i) encoder.clock(((tmsBits >> i) & 1u) != 0, tdi);
  usable();
}

void FtdiLink::shiftBits(const char* tdi, uint32_t length, bool exitOnLast, const TdoCapture& capture) {
  if (!usable()) {
    for (uint32_t i = 0; capture.dest != nullptr && i < capture.count; ++i) capture.dest[i] = 0xFF;
    return;
  }
  MpsseEncoder& encoder = adapter_.encoder();
  for (uint32_t i = 0; i < length; ++i) {
    encoder.clock(exitOnLast && i + 1 == length, (tdi[i] & 1) != 0);
    if (capture.dest != nullptr && i >= capture.first && i - capture.first < capture.count) {
      encoder.captureLast(capture.dest + (i - capture.first), kTdoCaptured);
    }
  }
  usable();
}

void FtdiLink::flush() {
  if (adapter_.encoderIfOpen() == nullptr) return;
  if (adapter_.usable()) adapter_.encoder().flush();
  usable();
}

void FtdiLink::pulseTrst() {
  if (!usable()) return;
  if (!adapter_.hasTrst()) {
    clockTms(0x1F, 5, false);
    return;
  }
  adapter_.pulseTrst();
  usable();
}

}  // namespace zorv
