#pragma once

#include <cstdint>

namespace zorv::cfi {

// Word offsets of the common flash interface query fields that the sector table needs.
inline constexpr uint32_t kQueryString = 0x10;  // "QRY", one character per word
inline constexpr uint32_t kDeviceSize = 0x27;   // n: the device holds 2^n bytes
// The device interface code, right after the size: which data-bus widths the part can run
// ("Common Flash Memory Interface Publication 100": 0 x8 only, 1 x16 only, 2 x8 or x16 by BYTE#,
// 3 x32 only, 5 x16 or x32 by WORD#).
inline constexpr uint32_t kInterface = 0x28;
inline constexpr uint32_t kRegionCount = 0x2C;  // number of erase-block regions
// Four words per region, least significant first: blocks - 1 (16 bits), block size / 256 (16 bits).
inline constexpr uint32_t kRegionInfo = 0x2D;
inline constexpr uint32_t kRegionInfoWords = 4;
// Program times, as exponents: typical unit (2^n us) and typical write buffer, then two erase
// times, then the maximum multipliers (2^n times typical) in the same order.
inline constexpr uint32_t kProgramTimes = 0x1F;
inline constexpr uint32_t kProgramTimeWords = 6;

// The query answers one value per word; the bus addresses the words by byte.
constexpr uint32_t byteOffset(uint32_t wordOffset) { return 2 * wordOffset; }

}  // namespace zorv::cfi
