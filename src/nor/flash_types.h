#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zorv {

// The supported NOR flash types, in the order of the Flash Type list.
enum FlashType : int {
  En29lv010a = 0,
  En29lv040a = 1,
  Am29lv040b = 2,
  S29al004d = 3,
  S29al008d = 4,
  S29gl064m = 5,
  S29gl128m = 6,
  K8d6316 = 7,
  Sst39vf6401 = 8,
  AutoDetect = 9,  // VESKAR only; also what an unrecognised VESKAR device becomes
};

inline constexpr int kFlashTypeCount = 9;

inline constexpr bool isFlashType(int index) { return index >= 0 && index < kFlashTypeCount; }

inline constexpr std::string_view kAutoDetectListText = "AutoDetect";
inline constexpr std::string_view kUnknownLogName = "Unknow";

// The bus cycles of one (width, interleave) setting: how the device is unlocked, where its codes
// sit and which values command it.
struct NorCommandSet {
  int32_t busWidth;
  uint32_t dataMask;
  uint32_t unlockAddress1;
  uint32_t unlockAddress2;
  uint32_t unlockData1;
  uint32_t unlockData2;
  uint32_t deviceIdAddress;
  uint32_t eraseSetupCommand;
  uint32_t autoselectCommand;
  uint32_t resetCommand;
  uint32_t programCommand;
  uint32_t sectorEraseCommand;
  uint32_t writeBufferCommand;
  uint32_t bufferConfirmCommand;
  uint32_t cfiQueryAddress;  // 0 with cfiQueryCommand 0: the type has no query
  uint32_t cfiQueryCommand;
};

// One (width, interleave) pair a type accepts, with the command set it gives.
struct NorBusSetting {
  int width;  // data bits of one device
  int interleave;
  const NorCommandSet* commands;
  uint32_t makerIdAddress;
  uint32_t expectedDeviceId;  // 0: the ID rule takes the device's own code
};

// How the code read from the device is accepted: equal to the setting's expected code, or, for
// parts whose code varies with the boot-block position, any code with one of these low bytes.
struct NorIdRule {
  bool byLowByte;
  std::array<uint8_t, 2> lowBytes;
};

struct EraseRegion {
  uint32_t blocks;
  uint32_t kiB;
};

// Erase geometry of a device without a query, keyed by its device code (one device, interleave 1).
struct DeviceCodeGeometry {
  uint32_t code;
  uint32_t deviceKiB;
  int regionCount;
  std::array<EraseRegion, 4> regions;
};

enum class GeometrySource { DeviceCode, Cfi };

// Everything the program knows about one flash type.
struct FlashTypeRow {
  std::string_view listText;  // the Flash Type list, and --type on the command line
  std::string_view logName;
  int defaultWidth = 8;  // the width the page selects when the type is chosen
  std::span<const NorBusSetting> settings;
  NorIdRule idRule{};
  GeometrySource geometry = GeometrySource::DeviceCode;
  std::span<const DeviceCodeGeometry> deviceCodes{};  // for GeometrySource::DeviceCode
  // In byte mode a device answers with only the low byte of its code; the high byte its codes
  // carry on a word bus (0 when they have none).
  uint32_t byteModeCodeHigh = 0;
  bool cfiUnlockFirst = false;  // the query is entered only after the unlock cycles
  int cfiOnlyRegion = -1;       // -1: every erase-block region; else only this descriptor
  bool writesInBuffers = false;  // programmed in write buffers rather than unit by unit
  uint32_t veskarDeviceCode = 0;  // the code by which VESKAR recognises the type; 0: never
  // For a part without the query: the longest one unit's program takes, from its data sheet, in
  // us, in byte mode (a byte-wide part, or each of an interleaved pair) and in word mode; 0 where
  // it is not known (the part is then polled).
  uint32_t maxProgramUs = 0;
  uint32_t maxWordProgramUs = 0;
};

std::span<const FlashTypeRow> flashTypeRows();
// The row of a type 0..8; only call with isFlashType(index).
const FlashTypeRow& flashTypeRow(int index);
// The accepted setting of a type, or nullptr.
const NorBusSetting* findBusSetting(int index, int width, int interleave);
// VESKAR's fixed bus setting.
const NorBusSetting& veskarBusSetting();
// The type VESKAR's device code names, or AutoDetect.
int veskarFlashType(uint32_t deviceId);

// The text of the Flash Type list ("AutoDetect" for 9), or empty for anything else.
std::string_view flashTypeListText(int index);
// The name used in log lines; "Unknow" for anything outside 0..8.
std::string_view flashTypeLogName(int index);
// The index of a list text (exact, any case), or -1.
int flashTypeFromText(std::string_view text);

// The width a type is used with unless the user chooses one; 16 for AutoDetect (which names no
// type, so its job refuses any width).
int flashTypeDefaultWidth(int index);

// Types programmed in write buffers rather than unit by unit.
bool usesWriteBuffer(int index);

}  // namespace zorv
