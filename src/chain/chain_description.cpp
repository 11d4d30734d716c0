#include "chain/chain_description.h"

#include "text/format.h"
#include "text/number_text.h"
#include "text/upper_case.h"

namespace zorv {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

[[noreturn]] void refuse(size_t index, std::string_view item, const std::string& why) {
  throw ChainError(format("item %zu ('%.*s'): %s", index + 1, static_cast<int>(item.size()), item.data(), why.c_str()));
}

int instructionLength(size_t index, std::string_view item, std::string_view digits) {
  const NumberRead read = readNumber(digits, {.radix = 10, .whole = true});
  if (!read.valid || read.value < kMinChainInstructionLength || read.value > kMaxChainInstructionLength) {
    refuse(index, item, format("an instruction length is %d to %d bits", kMinChainInstructionLength,
                               kMaxChainInstructionLength));
  }
  return static_cast<int>(read.value);
}

ChainDevice lengthItem(size_t index, std::string_view item) {
  ChainDevice device;
  device.item = std::string(item);
  const size_t colon = item.find(':');
  device.instructionLength = instructionLength(index, item, item.substr(0, colon));
  if (colon == std::string_view::npos) return device;
  const std::string_view code = item.substr(colon + 1);
  const NumberRead read = readNumber(code, {.radix = 16, .hexPrefix = true, .upperHexPrefix = true, .whole = true});
  if (!read.valid || (code.rfind("0x", 0) != 0 && code.rfind("0X", 0) != 0) || !read.fits32()) {
    refuse(index, item, "an IDCODE is written as 0x and up to eight hexadecimal digits");
  }
  // Every IDCODE register shifts out a 1 first; an even code is a typing error.
  if ((read.value & 1u) == 0) refuse(index, item, "an IDCODE has bit 0 set");
  device.idcode = IdcodePattern{static_cast<uint32_t>(read.value), 0xFFFFFFFFu};
  return device;
}

ChainDevice bsdlItem(size_t index, std::string_view item, const BsdlFileReader& readBsdl) {
  BsdlDevice bsdl;
  try {
    bsdl = readBsdl(std::string(item));
  } catch (const std::exception& error) {
    refuse(index, item, error.what());
  }
  if (bsdl.instructionLength < kMinChainInstructionLength || bsdl.instructionLength > kMaxChainInstructionLength) {
    refuse(index, item, format("its instruction length %d is not %d to %d bits", bsdl.instructionLength,
                               kMinChainInstructionLength, kMaxChainInstructionLength));
  }
  ChainDevice device;
  device.item = std::string(item);
  device.instructionLength = bsdl.instructionLength;
  device.idcode = bsdl.idcode;
  device.entity = bsdl.entity;
  return device;
}

}  // namespace

size_t ChainDescription::targetIndex() const {
  for (size_t i = 0; i < devices.size(); ++i) {
    if (devices[i].isTarget) return i;
  }
  return 0;
}

std::string ChainDescription::text() const {
  std::string joined;
  for (const ChainDevice& device : devices) {
    if (!joined.empty()) joined += ',';
    joined += device.item;
  }
  return joined;
}

ChainDescription parseChainText(std::string_view text, const BsdlFileReader& readBsdl) {
  ChainDescription chain;
  if (trimmed(text).empty()) return chain;
  int targets = 0;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const size_t end = comma == std::string_view::npos ? text.size() : comma;
    const std::string_view item = trimmed(text.substr(start, end - start));
    const size_t index = chain.devices.size();
    if (item.empty()) refuse(index, item, "an empty item (two commas, or one at an end)");
    if (index == kMaxChainDevices) refuse(index, item, format("a chain holds at most %zu devices", kMaxChainDevices));
    if (upperCase(std::string(item)) == "TARGET") {
      ChainDevice device;
      device.isTarget = true;
      device.item = "target";
      chain.devices.push_back(device);
      ++targets;
    } else if (allDigits(item.substr(0, item.find(':')))) {
      chain.devices.push_back(lengthItem(index, item));
    } else {
      chain.devices.push_back(bsdlItem(index, item, readBsdl));
    }
    start = end + 1;
  }
  if (targets != 1) {
    throw ChainError(targets == 0 ? "no item is 'target': name the selected product's place on the chain"
                                  : "'target' is named more than once");
  }
  return chain;
}

ChainPadding chainPadding(const ChainDescription& chain) {
  ChainPadding padding;
  const size_t target = chain.targetIndex();
  for (size_t i = 0; i < chain.devices.size(); ++i) {
    if (i == target) continue;
    const int length = chain.devices[i].instructionLength;
    if (i < target) {
      padding.irBefore += length;
      ++padding.drBefore;
    } else {
      padding.irAfter += length;
      ++padding.drAfter;
    }
  }
  return padding;
}

}  // namespace zorv
