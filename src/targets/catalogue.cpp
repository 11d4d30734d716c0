#include "targets/catalogue.h"

#include <array>
#include <cstring>

#include "cable/bit_string.h"
#include "text/upper_case.h"

namespace zorv {
namespace {

constexpr uint32_t kVersionMasked = 0x0FFFFFFF;

constexpr ChipDescriptor kChips[kProductCount] = {
    {"OBRIN", 4, "0101", "0000", "00000000101011101100101011011101", kVersionMasked, 298,
     "1110111111001010101010101010101010101010101010101010101010100000001111111101110101110101010101010101"
     "0101010101010101010101010101010101010101010101010111010101010101010111111101111111111110101010101010"
     "10101010101010101010101000000000000000000101010101010101001001000010101010101010101010101010101010",
     {false, false, false}},
    {"TQR2400", 4, "1011", "0000", "00010000000000000001010110111001", kVersionMasked, 298,
     "0000000000000000000000000000000000000000000000101000000000000000000000001010100000000000000000000000"
     "0000000000000000101010101011100101000000010000000000000000000101110110000000000000000000000001100001"
     "00000101011000000000000000000000000000000001000001000000000000000000000000000000000000000000000000",
     {false, false, false}},
    {"IKA", 4, "1011", "0000", "00010000000000000001010110111001", kVersionMasked, 185,
     "0000000000000000000000000000000000000001010001111111010101010000000000000000000000000000000000011000"
     "0101010101000000000101110111011101100000000001111111111111111111100000000000000000000",
     {false, false, false}},
    {"VESKAR", 4, "0101", "0000", "00000000001000101011010111100001", kVersionMasked, 80,
     "11111111111111111111111111111111101111010111111111111111111111111111111111111111",
     {true, true, true}},
};

using ImageBuffer = std::array<char, kImageCapacity + 1>;

std::array<ImageBuffer, kProductCount> makeImages() {
  std::array<ImageBuffer, kProductCount> images{};
  for (int p = 0; p < kProductCount; ++p) {
    images[p].fill('\0');
    std::memcpy(images[p].data(), kChips[p].resetTemplate, static_cast<size_t>(kChips[p].bsrLength));
  }
  return images;
}

std::array<ImageBuffer, kProductCount>& images() {
  static std::array<ImageBuffer, kProductCount> buffers = makeImages();
  return buffers;
}

void copyTerminated(char* dest, const char* text, size_t length) {
  std::memcpy(dest, text, length);
  dest[length] = '\0';
}

}  // namespace

const ChipDescriptor& chipDescriptor(TargetProduct product) { return kChips[product]; }

namespace {

uint32_t idValue(const ChipDescriptor& chip) { return msbFirstValue(std::string_view(chip.idCode, 32)); }

}  // namespace

bool sharesIdCode(TargetProduct product) {
  const ChipDescriptor& chip = kChips[product];
  for (int p = 0; p < kProductCount; ++p) {
    const ChipDescriptor& other = kChips[p];
    if (p != product && ((idValue(chip) ^ idValue(other)) & chip.idMask & other.idMask) == 0) return true;
  }
  return false;
}

std::string productsAnswering(uint32_t code) {
  std::string names;
  for (const ChipDescriptor& chip : kChips) {
    if (((code ^ idValue(chip)) & chip.idMask) != 0) continue;
    if (!names.empty()) names += " or ";
    names += chip.name;
  }
  return names;
}

const NorAbilities& norAbilities(int product) { return kChips[product].nor; }

std::string productNamesText() {
  std::string text;
  for (int p = 0; p < kProductCount; ++p) {
    if (p != 0) text += p + 1 == kProductCount ? " or " : ", ";
    text += kChips[p].name;
  }
  return text;
}

std::optional<TargetProduct> productFromName(std::string_view name) {
  const std::string upper = upperCase(std::string(name));
  for (int p = 0; p < kProductCount; ++p) {
    if (upper == kChips[p].name) return static_cast<TargetProduct>(p);
  }
  return std::nullopt;
}

char* productImage(TargetProduct product) { return images()[product].data(); }

void restoreProductImages() { images() = makeImages(); }

char* loadChip(JtagCable& cable, TargetProduct product, char* productName, ChipVariant variant) {
  const ChipDescriptor& chip = kChips[product];
  const auto irLength = static_cast<size_t>(chip.instructionLength);
  cable.instructionLength = chip.instructionLength;
  copyTerminated(cable.idInstruction, chip.idInstruction, irLength);
  copyTerminated(cable.extestInstruction, chip.extestInstruction, irLength);
  cable.sampleInstruction[0] = '\0';  // none of the products names one
  copyTerminated(cable.idCode, chip.idCode, 32);
  cable.idMask = chip.idMask;
  cable.bsrLength = chip.bsrLength;
  cable.idCodeShared = sharesIdCode(product);
  if (variant == ChipVariant::VeskarDebug) {
    copyTerminated(cable.debugInstruction, "1001", irLength);
    cable.bsrLength = 0;
  }
  copyTerminated(productName, chip.name, std::strlen(chip.name));
  return productImage(product);
}

}  // namespace zorv
