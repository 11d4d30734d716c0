#include "nor/flash_types.h"

#include <cctype>

namespace zorv {
namespace {

// Command sets, one per bus shape; the types below share them. Fields in order: bus width, data
// mask, unlock addresses 1 and 2, unlock data 1 and 2, device code offset, erase setup, autoselect,
// reset, program, sector erase, write buffer and its confirm, query address and query command.
constexpr NorCommandSet kByteBus = {8, 0xFF, 0x555, 0x2AA, 0xAA, 0x55, 1, 0x80, 0x90, 0xF0, 0xA0, 0x30, 0, 0, 0, 0};
// Two byte-wide devices side by side on a 16-bit bus: every data value is doubled.
constexpr NorCommandSet kBytePair = {16,     0xFFFF, 0xAAA,  0x554,  0xAAAA, 0x5555, 2, 0x8080,
                                     0x9090, 0xF0F0, 0xA0A0, 0x3030, 0,      0,      0, 0};
constexpr NorCommandSet kWordBus = {16, 0xFFFF, 0xAAA, 0x554, 0xAA, 0x55, 2, 0x80, 0x90, 0xF0, 0xA0, 0x30, 0, 0, 0, 0};
// A word-wide part strapped to byte mode: A-1 becomes the lowest address line.
constexpr NorCommandSet kByteModeOfWordPart = {8,    0xFF, 0xAAA, 0x555, 0xAA, 0x55, 2, 0x80,
                                               0x90, 0xF0, 0xA0,  0x30,  0,    0,    0, 0};
constexpr NorCommandSet kWordBusWithQuery = {16,   0xFFFF, 0xAAA, 0x554, 0xAA, 0x55, 2,    0x80,
                                             0x90, 0xF0,   0xA0,  0x30,  0x25, 0x29, 0xAA, 0x98};
// The sector table holds this device's 64 KB blocks: 0x50 is its block erase (0x30 would clear
// only the 4 KB sector holding the address).
constexpr NorCommandSet kSstWordBus = {16,   0xFFFF, 0xAAAA, 0x5554, 0xAAAA, 0x5555, 2,      0x8080,
                                       0x90, 0xF0,   0xA0,   0x50,   0,      0,      0xAAAA, 0x98};

// Fields in order: width, interleave, command set, maker code offset, expected device code.
constexpr NorBusSetting kEn29lv010aSettings[] = {{8, 1, &kByteBus, 0x100, 0x6E}, {8, 2, &kBytePair, 0x200, 0x6E6E}};
constexpr NorBusSetting kEn29lv040aSettings[] = {{8, 1, &kByteBus, 0x100, 0x4F}, {8, 2, &kBytePair, 0x200, 0x4F4F}};
constexpr NorBusSetting kAm29lv040bSettings[] = {{8, 1, &kByteBus, 0, 0x4F}, {8, 2, &kBytePair, 0, 0x4F4F}};
constexpr NorBusSetting kS29alSettings[] = {{16, 1, &kWordBus, 0, 0}, {8, 1, &kByteModeOfWordPart, 0, 0}};
constexpr NorBusSetting kS29glSettings[] = {{16, 1, &kWordBusWithQuery, 0, 0x227E}};
constexpr NorBusSetting kK8d6316Settings[] = {{16, 1, &kWordBusWithQuery, 0, 0x22E2}};
constexpr NorBusSetting kSst39vf6401Settings[] = {{16, 1, &kSstWordBus, 0, 0x236B}};
// VESKAR's bus is wired for one byte-wide device, whatever the page shows.
constexpr NorBusSetting kFixedBusSetting = {8, 1, &kByteBus, 0x100, 0};

// Fields in order: code, device size in KiB, region count, regions (blocks, KiB) in address order.
constexpr DeviceCodeGeometry kEn29lv010aCodes[] = {{0x006E, 128, 1, {{{8, 16}}}}};
constexpr DeviceCodeGeometry kEn29lv040aCodes[] = {{0x004F, 512, 1, {{{8, 64}}}}};
constexpr DeviceCodeGeometry kS29al004dCodes[] = {
    {0x22B9, 512, 4, {{{7, 64}, {1, 32}, {2, 8}, {1, 16}}}},  // top boot block
    {0x22BA, 512, 4, {{{1, 16}, {2, 8}, {1, 32}, {7, 64}}}},  // bottom boot block
};
constexpr DeviceCodeGeometry kS29al008dCodes[] = {
    {0x22DA, 1024, 4, {{{15, 64}, {1, 32}, {2, 8}, {1, 16}}}},  // top boot block
    {0x225B, 1024, 4, {{{1, 16}, {2, 8}, {1, 32}, {15, 64}}}},  // bottom boot block
};

constexpr NorIdRule kExactId = {.byLowByte = false, .lowBytes = {}};

// Worst-case program times of the parts without a query, from each data sheet's table "Erase and
// Programming Performance" (maximum byte and word programming time, system overhead excluded):
// Am29LV040B 300 us a byte. S29AL004D and S29AL008D 150 us a byte, 210 us a word (as remembered from
// that table; no copy of it could be checked here, so a wait that proves short still ends in the
// reset and re-read that name the first unit that differs). EN29LV010A and EN29LV040A give 8 us
// typical a byte; they replace the Am29LV040B pin for pin and are held to its 300 us.
constexpr uint32_t kAm29lv040bByteUs = 300;
constexpr uint32_t kEonByteUs = 300;
constexpr uint32_t kS29alByteUs = 150;
constexpr uint32_t kS29alWordUs = 210;

constexpr FlashTypeRow kRows[kFlashTypeCount] = {
    {.listText = "EN29LV010A",
     .logName = "EN29LV010A",
     .defaultWidth = 8,
     .settings = kEn29lv010aSettings,
     .idRule = kExactId,
     .geometry = GeometrySource::DeviceCode,
     .deviceCodes = kEn29lv010aCodes,
     .veskarDeviceCode = 0x6E,
     .maxProgramUs = kEonByteUs},
    {.listText = "EN29LV040A",
     .logName = "EN29LV040A",
     .defaultWidth = 8,
     .settings = kEn29lv040aSettings,
     .idRule = kExactId,
     .geometry = GeometrySource::DeviceCode,
     .deviceCodes = kEn29lv040aCodes,
     .veskarDeviceCode = 0x4F,
     .maxProgramUs = kEonByteUs},
    {.listText = "AM29LV040B",
     .logName = "AM29LV040B",
     .defaultWidth = 8,
     .settings = kAm29lv040bSettings,
     .idRule = kExactId,
     .geometry = GeometrySource::DeviceCode,
     .deviceCodes = kEn29lv040aCodes,
     .maxProgramUs = kAm29lv040bByteUs},
    {.listText = "S29AL004D",
     .logName = "S29AL004D",
     .defaultWidth = 16,
     .settings = kS29alSettings,
     .idRule = {.byLowByte = true, .lowBytes = {0xB9, 0xBA}},
     .geometry = GeometrySource::DeviceCode,
     .deviceCodes = kS29al004dCodes,
     .byteModeCodeHigh = 0x2200,
     .maxProgramUs = kS29alByteUs,
     .maxWordProgramUs = kS29alWordUs},
    {.listText = "S29AL008D",
     .logName = "S29AL008D",
     .defaultWidth = 16,
     .settings = kS29alSettings,
     .idRule = {.byLowByte = true, .lowBytes = {0xDA, 0x5B}},
     .geometry = GeometrySource::DeviceCode,
     .deviceCodes = kS29al008dCodes,
     .byteModeCodeHigh = 0x2200,
     .maxProgramUs = kS29alByteUs,
     .maxWordProgramUs = kS29alWordUs},
    {.listText = "S29GL064M",
     .logName = "S29GL064M",
     .defaultWidth = 16,
     .settings = kS29glSettings,
     .idRule = kExactId,
     .geometry = GeometrySource::Cfi,
     .writesInBuffers = true},
    {.listText = "S29GL128M",
     .logName = "S29GL128M_N",
     .defaultWidth = 16,
     .settings = kS29glSettings,
     .idRule = kExactId,
     .geometry = GeometrySource::Cfi,
     .writesInBuffers = true},
    {.listText = "K8D6316",
     .logName = "K8D6316",
     .defaultWidth = 16,
     .settings = kK8d6316Settings,
     .idRule = kExactId,
     .geometry = GeometrySource::Cfi},
    // Its second erase-block region describes the 64 KB blocks its sector erase command clears.
    {.listText = "SST39VF6401",
     .logName = "SST39VF6401",
     .defaultWidth = 16,
     .settings = kSst39vf6401Settings,
     .idRule = kExactId,
     .geometry = GeometrySource::Cfi,
     .cfiUnlockFirst = true,
     .cfiOnlyRegion = 1},
};

bool sameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

std::span<const FlashTypeRow> flashTypeRows() { return kRows; }

const FlashTypeRow& flashTypeRow(int index) { return kRows[index]; }

const NorBusSetting& veskarBusSetting() { return kFixedBusSetting; }

const NorBusSetting* findBusSetting(int index, int width, int interleave) {
  if (!isFlashType(index)) return nullptr;
  for (const NorBusSetting& setting : kRows[index].settings) {
    if (setting.width == width && setting.interleave == interleave) return &setting;
  }
  return nullptr;
}

int veskarFlashType(uint32_t deviceId) {
  for (int i = 0; i < kFlashTypeCount; ++i) {
    if (kRows[i].veskarDeviceCode != 0 && kRows[i].veskarDeviceCode == deviceId) return i;
  }
  return AutoDetect;
}

std::string_view flashTypeListText(int index) {
  if (isFlashType(index)) return kRows[index].listText;
  return index == AutoDetect ? kAutoDetectListText : std::string_view();
}

std::string_view flashTypeLogName(int index) { return isFlashType(index) ? kRows[index].logName : kUnknownLogName; }

int flashTypeFromText(std::string_view text) {
  for (int i = 0; i <= AutoDetect; ++i) {
    if (sameText(text, flashTypeListText(i))) return i;
  }
  return -1;
}

int flashTypeDefaultWidth(int index) { return isFlashType(index) ? kRows[index].defaultWidth : 16; }

bool usesWriteBuffer(int index) { return isFlashType(index) && kRows[index].writesInBuffers; }

}  // namespace zorv
