#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "link/jtag_cable.h"
#include "targets/target_product.h"

namespace zorv {

// What a product's NOR bus can do. Jobs and front ends ask these instead of naming the product.
struct NorAbilities {
  bool fixedBus;           // one byte-wide device at base 0, whatever a page shows
  bool findsByDeviceCode;  // no flash-type list: the device code read names the type
  bool throughDebugPath;   // flash accesses go through the debug-access instruction, not EXTEST
};

// What a chip looks like from the cable.
struct ChipDescriptor {
  const char* name;
  int instructionLength;
  const char* idInstruction;
  const char* extestInstruction;
  const char* idCode;  // most significant bit first
  // The bits of idCode a chip must match: all but the version field (bits 31-28), so that another
  // silicon revision of the product is still taken for it.
  uint32_t idMask;
  int bsrLength;
  const char* resetTemplate;  // bsrLength characters, cell 0 first
  NorAbilities nor;
};

const ChipDescriptor& chipDescriptor(TargetProduct product);

// Whether another product answers a code that product's check would take: then only the length of
// the boundary register tells the two apart.
bool sharesIdCode(TargetProduct product);
// The products whose check takes code, in catalogue order, as a user reads them ("TQR2400 or IKA");
// empty for none.
std::string productsAnswering(uint32_t code);

// The NOR abilities of a known product (isKnownProduct).
const NorAbilities& norAbilities(int product);

// The products' names in catalogue order, as a user reads them: "A, B, C or D".
std::string productNamesText();
// The product a name gives, in any case; none for a name the catalogue does not hold.
std::optional<TargetProduct> productFromName(std::string_view name);

// Every product's image buffer holds this many characters and a terminator; VESKAR builds its
// debug-access frames in the same buffer.
inline constexpr int kImageCapacity = 640;

// The one boundary-scan image of a product, shared by all its jobs and edited in place; it starts
// as the reset template when the program starts and is never restored by the program itself.
char* productImage(TargetProduct product);

// Puts every product image back to its reset template (tests only).
void restoreProductImages();

// The init variants of the target families.
enum class ChipVariant { Boundary, VeskarDebug };

// Loads the chip descriptor into the cable (its instructions, identification code and mask,
// boundary length, and whether that length must be proven), copies the product name (at most 7 characters and a
// terminator) and returns the product's image. VeskarDebug also sets debugInstruction "1001" and a
// boundary-scan length of 0.
char* loadChip(JtagCable& cable, TargetProduct product, char* productName, ChipVariant variant);

}  // namespace zorv
