#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bsdl/bsdl_device.h"
#include "link/chain_padding.h"

namespace zorv {

// One device on the JTAG chain as the user describes it.
struct ChainDevice {
  bool isTarget = false;                // the selected product, whose facts are its own
  int instructionLength = 0;            // 0 for the target
  std::optional<IdcodePattern> idcode;  // the code it must answer; none: not checked
  std::string entity;                   // a BSDL file's entity; empty otherwise
  std::string item;                     // as written, for messages
};

// The devices on the chain, nearest TDO first (the order OpenOCD and UrJTAG use). Empty: the
// target alone on the cable, as without any description.
struct ChainDescription {
  std::vector<ChainDevice> devices;

  bool given() const { return !devices.empty(); }
  // The target's place (0 when none is given).
  size_t targetIndex() const;
  // The items as a user would write them again, comma separated.
  std::string text() const;
};

// A chain text that cannot be taken; the message says which item and why.
class ChainError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

inline constexpr int kMinChainInstructionLength = 2;
inline constexpr int kMaxChainInstructionLength = 64;
inline constexpr size_t kMaxChainDevices = 32;

using BsdlFileReader = std::function<BsdlDevice(const std::string& path)>;

// Reads "8,target,5:0x06413041,cpld.bsd": per item an instruction length (a device kept in BYPASS),
// a length and the IDCODE it must answer, a BSDL file, or "target" (exactly once). Blanks around
// items are ignored; an empty text gives the empty description. Throws ChainError (also for a BSDL
// file that cannot be read, with the reader's message).
ChainDescription parseChainText(std::string_view text, const BsdlFileReader& readBsdl = readBsdlFile);

// The padding every scan of the target needs on this chain (none for the empty description).
ChainPadding chainPadding(const ChainDescription& chain);

}  // namespace zorv
