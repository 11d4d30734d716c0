#pragma once

#include <cstdint>

namespace zorv {

// Command bytes of the NAND devices the boards carry (written with CLE high).
namespace nand_command {
// Read set-up; on small pages it also points reads and programs back at the main area.
inline constexpr uint8_t kRead = 0x00;
inline constexpr uint8_t kReadConfirm = 0x30;  // large pages: starts moving the page to the register
// Small pages: points reads and programs at the 16-byte spare area until kRead points them back.
inline constexpr uint8_t kReadSpare = 0x50;
inline constexpr uint8_t kBlockErase = 0x60;
inline constexpr uint8_t kEraseConfirm = 0xD0;
inline constexpr uint8_t kReadStatus = 0x70;
inline constexpr uint8_t kProgram = 0x80;
inline constexpr uint8_t kProgramConfirm = 0x10;
inline constexpr uint8_t kReadId = 0x90;
inline constexpr uint8_t kReset = 0xFF;
}  // namespace nand_command

// Status bit 0: the last program or erase failed.
inline constexpr uint8_t kNandStatusFail = 0x01;
// Status bit 7: "1" not protected, "0" protected, i.e. WP# is low and the device takes no program
// or erase (Samsung K9F5608U0A table 2, K9F1208U0B table 4, "Read Status Register Definition").
inline constexpr uint8_t kNandStatusWritable = 0x80;

}  // namespace zorv
