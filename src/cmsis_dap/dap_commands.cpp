#include "cmsis_dap/dap_commands.h"

#include "text/format.h"

namespace zorv::dap {

size_t infoCommand(uint8_t id, uint8_t* out) {
  out[0] = kInfo;
  out[1] = id;
  return 2;
}

size_t connectCommand(uint8_t* out) {
  out[0] = kConnect;
  out[1] = kPortJtag;
  return 2;
}

// DAP_SWJ_Clock: the WORD is the highest TCK rate in Hz the probe may run.
size_t clockCommand(uint32_t hz, uint8_t* out) {
  out[0] = kSwjClock;
  for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<uint8_t>(hz >> (8 * i));
  return 5;
}

// DAP_SWJ_Pins: Pin Output, Pin Select (only nTRST changes), Pin Wait (a WORD, 0: no wait).
size_t trstCommand(bool released, uint8_t* out) {
  out[0] = kSwjPins;
  out[1] = released ? kPinTrst : 0;
  out[2] = kPinTrst;
  out[3] = out[4] = out[5] = out[6] = 0;
  return 7;
}

size_t disconnectCommand(uint8_t* out) {
  out[0] = kDisconnect;
  return 1;
}

const char* commandName(uint8_t command) {
  switch (command) {
    case kInfo: return "DAP_Info";
    case kConnect: return "DAP_Connect";
    case kDisconnect: return "DAP_Disconnect";
    case kSwjPins: return "DAP_SWJ_Pins";
    case kSwjClock: return "DAP_SWJ_Clock";
    case kJtagSequence: return "DAP_JTAG_Sequence";
    default: return "an unknown command";
  }
}

std::string answerFault(uint8_t command, const uint8_t* answer, size_t length, size_t expected, bool padded) {
  const char* name = commandName(command);
  if (length == 0) return format("the CMSIS-DAP probe answered %s with an empty packet", name);
  if (answer[0] != command) {
    if (answer[0] == kNotImplemented) return format("the CMSIS-DAP probe does not implement %s", name);
    return format("the CMSIS-DAP probe answered %s with the answer of command 0x%02X (out of step)", name, answer[0]);
  }
  if (length < expected || (length > expected && !padded)) {
    return format("the CMSIS-DAP probe's answer to %s is %zu bytes, %zu expected", name, length, expected);
  }
  const bool hasStatus = command == kDisconnect || command == kSwjClock || command == kJtagSequence;
  if (hasStatus && answer[1] != kStatusOk) {
    return format("the CMSIS-DAP probe answered %s with error status 0x%02X", name, answer[1]);
  }
  return {};
}

}  // namespace zorv::dap
