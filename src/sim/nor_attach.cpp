#include "sim/nor_attach.h"

#include <stdexcept>
#include <string>

#include "sim/described_board.h"

namespace zorv::sim {

// Board options of the NOR device:
//   nor=TYPE|none       the part (EN29LV010A, EN29LV040A, AM29LV040B, S29AL004D, S29AL008D, S29GL064M,
//                       S29GL128M, K8D6316, SST39VF6401); default S29GL064M, EN29LV040A on VESKAR
//   norwidth=8|16       the bus width; default 16 for parts with a 16-bit mode, 8 otherwise (8 on VESKAR)
//   interleave=1|2      2: two byte-wide parts side by side on a 16-bit bus
//   norcs=REGION        0-7: the 512 MB region whose chip-select cell selects the flash (default 0)
//   norerasestuck=HEX   erasing the sector holding this bus offset never ends
//   norprogramfail=HEX  the byte at this bus offset never takes a program: the program runs past
//                       its time limit and the part shows DQ5 until it is reset
//   norbufferabort=HEX  loading a write buffer that holds this bus offset aborts (a glitched load):
//                       the part waits for the write-to-buffer-abort reset (AA, 55, F0)
//   nornocfi            the device does not answer the CFI query
//   nordevice=HEX       the device answers this device code instead of the part's own (an
//                       uncatalogued part with the same command set)
//   veskarnodebug       VESKAR refuses the debug-mode entry sequence
//   veskarcfgmask=HEX   VESKAR's bank-0 configuration register keeps only these bits
//   norload=FILE        the flash starts with the file's bytes, from bus offset 0
//   nortck=NS           strict timing for a TCK period of NS ns: each program takes exactly the
//                       worst case the part's data sheet states (its program-time table, or its
//                       query's typical time times maximum multiplier)
//   norslow             with nortck: each program takes twice that, longer than the part claims
namespace {

std::string take(BoardOptions& options, const std::string& key, const std::string& fallback) {
  auto it = options.deviceOptions.find(key);
  if (it == options.deviceOptions.end()) return fallback;
  std::string value = it->second;
  options.deviceOptions.erase(it);
  return value;
}

bool takeFlag(BoardOptions& options, const std::string& key) {
  return options.deviceOptions.erase(key) != 0;
}

uint32_t parseHex(const std::string& key, const std::string& value) {
  try {
    size_t used = 0;
    const unsigned long number = std::stoul(value, &used, 16);
    if (used == value.size() && number <= 0xFFFFFFFFul) return static_cast<uint32_t>(number);
  } catch (const std::exception&) {
  }
  throw std::invalid_argument(key + " needs a hexadecimal number, not '" + value + "'");
}

uint32_t parseNanoseconds(const std::string& key, const std::string& value) {
  try {
    size_t used = 0;
    const unsigned long number = std::stoul(value, &used, 10);
    if (used == value.size() && number > 0 && number <= 1000000ul) return static_cast<uint32_t>(number);
  } catch (const std::exception&) {
  }
  throw std::invalid_argument(key + " needs a period of 1 to 1000000 ns, not '" + value + "'");
}

int parseChoice(const std::string& key, const std::string& value, std::initializer_list<int> allowed) {
  for (int choice : allowed) {
    if (value == std::to_string(choice)) return choice;
  }
  throw std::invalid_argument("bad value '" + value + "' for " + key);
}

}  // namespace

uint8_t AttachedNor::busByte(uint32_t offset) const {
  if (bank) return bank->busByte(offset);
  return debug && debug->flash() ? debug->flash()->byteAt(offset) : 0xFF;
}

void AttachedNor::setBusByte(uint32_t offset, uint8_t value) {
  if (bank) bank->setBusByte(offset, value);
  if (debug && debug->flash()) debug->flash()->setByte(offset, value);
}

uint32_t AttachedNor::sizeBytes() const {
  if (bank) return bank->sizeBytes();
  return debug && debug->flash() ? debug->flash()->sizeBytes() : 0;
}

std::vector<std::pair<uint32_t, uint32_t>> AttachedNor::erasedRanges() const {
  if (bank) return bank->erasedRanges();
  if (debug && debug->flash()) return debug->flash()->erasures();
  return {};
}

uint64_t AttachedNor::programOperations() const {
  if (bank) return bank->chip(0).programOperations();
  if (debug && debug->flash()) return debug->flash()->programOperations();
  return 0;
}

AttachedNor attachNorDevice(Board& board, BoardOptions& options) {
  const bool veskar = options.chip == Veskar && !options.described;
  const std::string typeText = take(options, "nor", veskar ? "EN29LV040A" : "S29GL064M");
  const std::string widthText = take(options, "norwidth", "");
  const std::string interleaveText = take(options, "interleave", "1");
  const std::string regionText = take(options, "norcs", "0");
  const std::string eraseStuck = take(options, "norerasestuck", "");
  const std::string programFail = take(options, "norprogramfail", "");
  const std::string bufferAbort = take(options, "norbufferabort", "");
  const bool noCfi = takeFlag(options, "nornocfi");
  const std::string deviceText = take(options, "nordevice", "");
  const bool noDebug = takeFlag(options, "veskarnodebug");
  const std::string configMask = take(options, "veskarcfgmask", "");
  const std::string loadPath = take(options, "norload", "");
  const std::string tckText = take(options, "nortck", "");
  const bool slow = takeFlag(options, "norslow");
  if (typeText == "none") return {};
  if (options.described && !describedHasNor(*options.described)) {
    throw std::invalid_argument("the board file wires no NOR flash (nor=" + typeText + ")");
  }

  const NorPart* catalogued = findNorPart(typeText);
  if (!catalogued) throw std::invalid_argument("unknown NOR part '" + typeText + "'");
  NorPart fitted = *catalogued;
  if (!deviceText.empty()) fitted.deviceCode = static_cast<uint16_t>(parseHex("nordevice", deviceText));
  const NorPart* part = &fitted;
  const int interleave = parseChoice("interleave", interleaveText, {1, 2});
  const int region = parseChoice("norcs", regionText, {0, 1, 2, 3, 4, 5, 6, 7});
  int width = widthText.empty() ? (part->wordCapable && !veskar ? 16 : 8) : parseChoice("norwidth", widthText, {8, 16});
  if (interleave == 2) {
    if (part->wordCapable) throw std::invalid_argument("interleave=2 needs byte-wide NOR parts");
    if (!widthText.empty() && width != 16) throw std::invalid_argument("interleave=2 puts the parts on a 16-bit bus");
    width = 16;
  } else if (width == 16 && !part->wordCapable) {
    throw std::invalid_argument(std::string(part->name) + " has no 16-bit mode");
  } else if (width == 8 && !part->byteCapable) {
    throw std::invalid_argument(std::string(part->name) + " has no 8-bit mode");
  }
  if (veskar && (width != 8 || interleave != 1)) throw std::invalid_argument("VESKAR's NOR bus is 8 bits wide");
  const NorWiring& wiring = options.described ? describedNorWiring(*options.described) : norWiring(options.chip);
  if (!veskar && wiring.chipSelect[region] < 0) {
    throw std::invalid_argument("the chip has no chip-select cell for norcs=" + regionText);
  }

  const bool wordMode = width == 16 && interleave == 1;
  std::vector<std::unique_ptr<NorChip>> chips;
  for (int i = 0; i < interleave; ++i) {
    chips.push_back(std::make_unique<NorChip>(*part, wordMode));
    chips.back()->setCfiAbsent(noCfi);
    if (!tckText.empty()) chips.back()->timeForTck(parseNanoseconds("nortck", tckText), slow ? 2 : 1);
  }
  if (slow && tckText.empty()) throw std::invalid_argument("norslow needs nortck");
  // Fault offsets are bus offsets; find the chip and byte behind them.
  enum class Fault { EraseStuck, ProgramFail, BufferAbort };
  auto place = [&](const std::string& text, const char* key, Fault fault) {
    if (text.empty()) return;
    const uint32_t offset = parseHex(key, text);
    const size_t chip = interleave == 2 ? offset & 1u : 0;
    const uint32_t at = interleave == 2 ? offset >> 1 : offset;
    for (size_t i = 0; i < chips.size(); ++i) {
      if (fault == Fault::EraseStuck) {
        chips[i]->setEraseStuck(at);
      } else if (i == chip) {
        fault == Fault::ProgramFail ? chips[i]->setProgramFail(at) : chips[i]->setBufferAbort(at);
      }
    }
  };
  place(eraseStuck, "norerasestuck", Fault::EraseStuck);
  place(programFail, "norprogramfail", Fault::ProgramFail);
  place(bufferAbort, "norbufferabort", Fault::BufferAbort);

  AttachedNor attached;
  if (veskar) {
    auto reg = std::make_unique<VeskarDebugRegister>(board, std::move(chips[0]));
    reg->setEntryRefused(noDebug);
    if (!configMask.empty()) reg->setConfigMask(parseHex("veskarcfgmask", configMask));
    attached.debug = reg.get();
    board.attachDebugRegister(std::move(reg));
  } else {
    auto bank = std::make_unique<NorBank>(board, wiring, region, std::move(chips), width);
    attached.bank = bank.get();
    board.attach(std::move(bank));
  }
  if (!loadPath.empty()) {
    const std::vector<uint8_t> contents = readBoardFile("norload", loadPath, attached.sizeBytes());
    for (uint32_t o = 0; o < contents.size(); ++o) attached.setBusByte(o, contents[o]);
  }
  return attached;
}

void attachNorFromOptions(Board& board, BoardOptions& options) {
  // A board file without a NOR bus carries none unless asked for one (which it refuses).
  if (options.described && !describedHasNor(*options.described) && options.deviceOptions.count("nor") == 0) return;
  attachNorDevice(board, options);
}

}  // namespace zorv::sim
