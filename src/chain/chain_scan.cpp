#include "chain/chain_scan.h"

#include "text/format.h"

namespace zorv {
namespace {

constexpr int kMaxDevicesCounted = 64;
constexpr int kIdcodeBits = 32;

// The length of the path a fill-then-ones scan went through: fill zeros went in first, then ones,
// so the captured bits are the path's own, then the zeros, then the ones. Empty fault when they
// are; else why the cable's answer is no chain's.
int pathLength(const std::string& captured, int fill, std::string& fault) {
  const size_t firstOne = captured.find('1', static_cast<size_t>(fill));
  if (captured.find('0') == std::string::npos) {
    fault = "TDO stays high: no device answers";
    return 0;
  }
  if (captured.find('1') == std::string::npos || firstOne == std::string::npos) {
    fault = "TDO stays low: no device answers";
    return 0;
  }
  const int length = static_cast<int>(firstOne) - fill;
  const bool zerosCameBack = captured.find('1', static_cast<size_t>(length)) >= firstOne;
  const bool onesCameBack = captured.find('0', firstOne) == std::string::npos;
  if (length == 0 || !zerosCameBack || !onesCameBack) {
    fault = "the bits shifted through the chain come back changed";
    return 0;
  }
  return length;
}

std::string fillThenOnes(int fill) {
  std::string bits(static_cast<size_t>(2 * fill), '1');
  bits.replace(0, static_cast<size_t>(fill), static_cast<size_t>(fill), '0');
  return bits;
}

}  // namespace

FoundChain findChain(JtagCable& cable) {
  FoundChain found;
  JtagCable whole(cable.link());  // no padding: these scans are the whole chain's
  whole.resetTap();

  std::string bits = fillThenOnes(kMaxChainInstructionBits);
  std::string captured(bits.size(), '0');
  whole.shiftIrCapture(bits.data(), captured.data(), static_cast<int>(bits.size()));
  const int instructionBits = pathLength(captured, kMaxChainInstructionBits, found.cableFault);
  if (!found.cableFault.empty()) return found;
  found.instructionCapture = captured.substr(0, static_cast<size_t>(instructionBits));

  // Every instruction register now holds ones: BYPASS, one bit per device.
  bits = fillThenOnes(kMaxDevicesCounted);
  captured.assign(bits.size(), '0');
  whole.shiftDrCapture(bits.data(), captured.data(), static_cast<int>(bits.size()));
  const int devices = pathLength(captured, kMaxDevicesCounted, found.cableFault);
  if (!found.cableFault.empty()) return found;

  whole.resetTap();
  bits.assign(static_cast<size_t>((devices + 1) * kIdcodeBits), '1');
  captured.assign(bits.size(), '0');
  whole.shiftDrCapture(bits.data(), captured.data(), static_cast<int>(bits.size()));
  size_t at = 0;
  for (int d = 0; d < devices; ++d) {
    if (captured[at] == '0') {
      found.idcodes.emplace_back();
      ++at;
      continue;
    }
    uint32_t code = 0;
    for (int b = 0; b < kIdcodeBits; ++b) code |= static_cast<uint32_t>(captured[at + b] == '1') << b;
    found.idcodes.emplace_back(code);
    at += kIdcodeBits;
  }
  // After the devices' registers come the ones shifted in; anything else is a device not counted.
  if (captured.find('0', at) != std::string::npos) {
    found.idcodes.clear();
    found.cableFault = format("the IDCODE scan does not fit the %d devices the bypass scan counted", devices);
  }
  return found;
}

std::string chainMismatch(const FoundChain& found, const ChainDescription& chain, int targetInstructionLength) {
  const auto lengthOf = [&](const ChainDevice& device) {
    return device.isTarget ? targetInstructionLength : device.instructionLength;
  };
  int total = 0;
  for (const ChainDevice& device : chain.devices) total += lengthOf(device);
  if (found.instructionCapture.size() != static_cast<size_t>(total)) {
    return format("%zu instruction register bits answer, the chain given has %d", found.instructionCapture.size(),
                  total);
  }
  if (found.idcodes.size() != chain.devices.size()) {
    return format("%zu devices answer, the chain given has %zu", found.idcodes.size(), chain.devices.size());
  }
  size_t offset = 0;
  for (size_t i = 0; i < chain.devices.size(); ++i) {
    const ChainDevice& device = chain.devices[i];
    if (found.instructionCapture.compare(offset, 2, "10") != 0) {
      return format("device %zu (%s) captures no 01 at bit %zu of the instruction registers: the lengths do not "
                    "match the chain given",
                    i + 1, device.item.c_str(), offset);
    }
    offset += static_cast<size_t>(lengthOf(device));
  }
  for (size_t i = 0; i < chain.devices.size(); ++i) {
    const ChainDevice& device = chain.devices[i];
    if (device.isTarget || !device.idcode) continue;
    const std::optional<uint32_t>& answered = found.idcodes[i];
    if (!answered) {
      return format("device %zu (%s) answers no IDCODE, expected 0x%08X", i + 1, device.item.c_str(),
                    device.idcode->value);
    }
    if (!device.idcode->matches(*answered)) {
      return format("device %zu (%s) answers IDCODE 0x%08X, expected 0x%08X (mask 0x%08X)", i + 1,
                    device.item.c_str(), *answered, device.idcode->value, device.idcode->mask);
    }
  }
  return {};
}

}  // namespace zorv
