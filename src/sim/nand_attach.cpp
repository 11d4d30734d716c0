#include <sstream>
#include <stdexcept>

#include "sim/board.h"
#include "sim/described_board.h"
#include "sim/nand_device.h"

namespace zorv::sim {
namespace {

// Board options of the NAND device (every board carries a 0xDA part unless told otherwise):
//   nand=CODE             device code 0x75, 0x76, 0xF1, 0xDA, 0xDC or 0xD3; nand=none for no device
//   nandbad=B:B:...       factory bad blocks (marker and data 0x00; erase and program fail)
//   nanderasefail=B:...   blocks whose erase reports failure
//   nandprogfail=B:...    blocks whose page program reports failure
//   nandmarkonly=B:...    blocks that carry a factory bad-block marker but erase and program well
//   nandmarkpage1=B:...   as nandmarkonly, with the marker in the block's second page only
//   nandbusy              R/B stuck low
//   nandbusyafter=CMD[/N] the operation started after the Nth (default first) command CMD keeps R/B
//                         low until a reset, e.g. 0x10 a program, 0x30 a large-page read, 0x50 a
//                         small-page spare read
//   nandtdo=L@CMD[/N][+S] from the Nth (default first) command CMD on, TDO reads L (0 or 1): for good,
//                         or for the S scans after it (a glitch)
//   nandtdoread=L@CMD[/N][+S] as nandtdo, from the first data read (nRE low) after that command
//                         on, once R/B has said ready: a glitch that hits the byte read, e.g.
//                         nandtdoread=0@0x30/1+1 reads the first large-page marker as 0x00
//   nandwp[=CMD[/N]]      WP# held low (from the start, or from the Nth command CMD on): program
//                         and erase change nothing and report failure, status I/O7 reads 0
//   nanddropspare         programs leave the spare area as it was
//   nandid4=BYTE          fourth ID byte (page, spare and block size) instead of the part's own
//   nandflip=ADDR[/MASK]  reads of main byte ADDR come back XOR MASK (default 0x01)
//   nandload=FILE         the main area starts with the file's bytes, from address 0
// Numbers are decimal or 0x-prefixed hexadecimal.

uint32_t number(const std::string& key, const std::string& text) {
  try {
    size_t used = 0;
    const unsigned long value = std::stoul(text, &used, 0);
    if (used == text.size() && value <= 0xFFFFFFFFul) return static_cast<uint32_t>(value);
  } catch (const std::exception&) {
  }
  throw std::invalid_argument(key + ": '" + text + "' is not a number");
}

std::set<uint32_t> blockList(const std::string& key, const std::string& text) {
  std::set<uint32_t> blocks;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ':')) blocks.insert(number(key, item));
  if (blocks.empty()) throw std::invalid_argument(key + " needs block numbers, as in " + key + "=3:7");
  return blocks;
}

// L@CMD[/N][+S] of nandtdo and nandtdoread.
void forcedTdo(const std::string& key, const std::string& value, NandDeviceConfig& config) {
  const auto at = value.find('@');
  if (at != 1 || (value[0] != '0' && value[0] != '1'))
    throw std::invalid_argument(key + ": a level and a command, as in " + key + "=1@0x70/2+4");
  config.tdoLevel = value[0] == '1';
  std::string rest = value.substr(at + 1);
  if (const auto plus = rest.find('+'); plus != std::string::npos) {
    config.tdoScans = number(key, rest.substr(plus + 1));
    if (config.tdoScans == 0) throw std::invalid_argument(key + ": a glitch lasts at least 1 scan");
    rest.resize(plus);
  }
  const auto slash = rest.find('/');
  const uint32_t command = number(key, rest.substr(0, slash));
  if (command > 0xFF) throw std::invalid_argument(key + ": a command 0x00 to 0xFF");
  config.forceTdo = true;
  config.tdoAfter = static_cast<uint8_t>(command);
  if (slash != std::string::npos) {
    config.tdoAfterCount = number(key, rest.substr(slash + 1));
    if (config.tdoAfterCount == 0) throw std::invalid_argument(key + ": counts start at 1");
  }
}

// Removes key from options and returns its value; false when it is absent.
bool take(std::map<std::string, std::string>& options, const std::string& key, std::string& value) {
  const auto it = options.find(key);
  if (it == options.end()) return false;
  value = it->second;
  options.erase(it);
  return true;
}

}  // namespace

void attachNandFromOptions(Board& board, BoardOptions& options) {
  auto& items = options.deviceOptions;
  NandDeviceConfig config;
  std::string value;
  bool present = true;
  std::string asked;
  if (take(items, "nand", value)) {
    asked = value;
    if (value == "none") {
      present = false;
    } else {
      const uint32_t code = number("nand", value);
      if (code > 0xFF || !nandGeometry(static_cast<uint8_t>(code)))
        throw std::invalid_argument("nand: no part with device code '" + value +
                                    "' (0x75, 0x76, 0xF1, 0xDA, 0xDC, 0xD3 or none)");
      config.deviceCode = static_cast<uint8_t>(code);
    }
  }
  if (take(items, "nandbad", value)) config.factoryBadBlocks = blockList("nandbad", value);
  if (take(items, "nanderasefail", value)) config.eraseFailBlocks = blockList("nanderasefail", value);
  if (take(items, "nandprogfail", value)) config.programFailBlocks = blockList("nandprogfail", value);
  if (take(items, "nandmarkonly", value)) config.markOnlyBlocks = blockList("nandmarkonly", value);
  if (take(items, "nandmarkpage1", value)) config.secondPageMarkBlocks = blockList("nandmarkpage1", value);
  if (take(items, "nandbusy", value)) config.stuckBusy = true;
  if (take(items, "nandbusyafter", value)) {
    const auto slash = value.find('/');
    const uint32_t command = number("nandbusyafter", value.substr(0, slash));
    if (command == 0 || command > 0xFF) throw std::invalid_argument("nandbusyafter: a command 0x01 to 0xFF");
    config.hangAfter = static_cast<uint8_t>(command);
    if (slash != std::string::npos) {
      config.hangAfterCount = number("nandbusyafter", value.substr(slash + 1));
      if (config.hangAfterCount == 0) throw std::invalid_argument("nandbusyafter: counts start at 1");
    }
  }
  const bool atCommand = take(items, "nandtdo", value);
  std::string atReadValue;
  const bool atRead = take(items, "nandtdoread", atReadValue);
  if (atCommand && atRead) throw std::invalid_argument("nandtdo and nandtdoread: one of them at a time");
  if (atCommand) forcedTdo("nandtdo", value, config);
  if (atRead) {
    forcedTdo("nandtdoread", atReadValue, config);
    config.tdoAtRead = true;
  }
  if (take(items, "nandwp", value)) {
    config.writeProtect = true;
    if (!value.empty()) {
      const auto slash = value.find('/');
      const uint32_t command = number("nandwp", value.substr(0, slash));
      if (command > 0xFF) throw std::invalid_argument("nandwp: a command 0x00 to 0xFF");
      config.writeProtectLater = true;
      config.writeProtectAfter = static_cast<uint8_t>(command);
      if (slash != std::string::npos) {
        config.writeProtectAfterCount = number("nandwp", value.substr(slash + 1));
        if (config.writeProtectAfterCount == 0) throw std::invalid_argument("nandwp: counts start at 1");
      }
    }
  }
  if (take(items, "nanddropspare", value)) config.dropSpare = true;
  if (take(items, "nandid4", value)) {
    const uint32_t byte = number("nandid4", value);
    if (byte > 0xFF) throw std::invalid_argument("nandid4: one byte, 0x00 to 0xFF");
    config.idByte4Set = true;
    config.idByte4 = static_cast<uint8_t>(byte);
  }
  if (take(items, "nandflip", value)) {
    const auto slash = value.find('/');
    config.flipBit = true;
    config.flipAddress = number("nandflip", value.substr(0, slash));
    if (slash != std::string::npos) {
      const uint32_t mask = number("nandflip", value.substr(slash + 1));
      if (mask == 0 || mask > 0xFF) throw std::invalid_argument("nandflip: the mask must be 0x01 to 0xFF");
      config.flipMask = static_cast<uint8_t>(mask);
    }
  }
  std::string loadPath;
  const bool load = take(items, "nandload", loadPath);
  // A board file without NAND carries none unless a part is asked for (which it refuses).
  if (!present || (board.options().described && !describedNandWiring(*board.options().described) && asked.empty())) return;
  NandDevice& device = attachNandDevice(board, config);
  if (load) device.preload(0, readBoardFile("nandload", loadPath, device.geometry().mainSize()));
}

}  // namespace zorv::sim
