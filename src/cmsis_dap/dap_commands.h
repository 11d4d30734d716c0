#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorv::dap {

// Command and answer bytes of a CMSIS-DAP probe, as Arm's CMSIS-DAP documentation gives them
// ("CMSIS-DAP Commands", CMSIS 5 DoxyGen DAP/src/dap_USB_cmds.txt). Every command starts with its
// Command-ID; the answer repeats the ID (a probe answers 0xFF in its place for a command it does
// not implement) and carries the command's data. Multi-byte values are little-endian.

// General Commands.
inline constexpr uint8_t kInfo = 0x00;
inline constexpr uint8_t kConnect = 0x02;
inline constexpr uint8_t kDisconnect = 0x03;
// Common SWD/JTAG Commands.
inline constexpr uint8_t kSwjPins = 0x10;
inline constexpr uint8_t kSwjClock = 0x11;
// JTAG Commands.
inline constexpr uint8_t kJtagSequence = 0x14;
// What a probe answers in place of the ID of a command it does not implement.
inline constexpr uint8_t kNotImplemented = 0xFF;

// "Response Status": DAP_OK, DAP_ERROR.
inline constexpr uint8_t kStatusOk = 0x00;
inline constexpr uint8_t kStatusError = 0xFF;

// DAP_Info request identifiers.
inline constexpr uint8_t kInfoCapabilities = 0xF0;  // BYTE
inline constexpr uint8_t kInfoPacketCount = 0xFE;   // BYTE: packets the probe buffers
inline constexpr uint8_t kInfoPacketSize = 0xFF;    // SHORT: the largest command or answer
// Capabilities, bit 1: JTAG communication is implemented (bit 0 is SWD).
inline constexpr uint8_t kCapabilityJtag = 0x02;

// DAP_Connect port: 2 = JTAG mode; the answer names the port initialised (0 = failed).
inline constexpr uint8_t kPortJtag = 2;

// DAP_SWJ_Pins pin bits (Pin Output, Pin Select, Pin Input).
inline constexpr uint8_t kPinTrst = 0x20;  // bit 5: nTRST

// DAP_JTAG_Sequence Sequence Info: bits 5..0 the TCK cycles, 1 to 64 with 64 written as 0; bit 6
// the TMS level held for all of them; bit 7 TDO capture. TDI follows as one bit per cycle, LSB
// first, padded to a byte; the answer's TDO data likewise, for the captured sequences only.
inline constexpr uint8_t kSequenceClockMask = 0x3F;
inline constexpr uint8_t kSequenceTms = 0x40;
inline constexpr uint8_t kSequenceCapture = 0x80;
inline constexpr int kMaxSequenceClocks = 64;
inline constexpr int kMaxSequencesPerCommand = 255;  // the Sequence Count is a BYTE

// The commands the link sends outside its scans: DAP_Info for one identifier, DAP_Connect to
// JTAG, DAP_SWJ_Clock for a rate in Hz, DAP_SWJ_Pins moving nTRST (no pin wait), DAP_Disconnect.
// Each writes its bytes to out (room for 7) and returns their count.
size_t infoCommand(uint8_t id, uint8_t* out);
size_t connectCommand(uint8_t* out);
size_t clockCommand(uint32_t hz, uint8_t* out);
size_t trstCommand(bool released, uint8_t* out);
size_t disconnectCommand(uint8_t* out);

// The answer of the command whose ID is command, checked: its ID, its length (an answer too short
// for what was asked is a fault; one longer is too, unless the transport pads its answers) and,
// for the commands that carry one, its status. Empty when it is good, else the cause in the
// user's terms ("the CMSIS-DAP probe answered DAP_JTAG_Sequence with error status 0xFF").
std::string answerFault(uint8_t command, const uint8_t* answer, size_t length, size_t expected, bool padded);

// The name of a command, for messages: "DAP_JTAG_Sequence".
const char* commandName(uint8_t command);

}  // namespace zorv::dap
