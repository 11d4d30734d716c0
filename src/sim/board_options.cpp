#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "sim/board.h"
#include "sim/described_board.h"
#include "text/upper_case.h"

namespace zorv::sim {
namespace {

TargetProduct parseChip(const std::string& value) {
  const std::string name = upperCase(value);
  for (int p = 0; p < kProductCount; ++p) {
    if (name == simChip(static_cast<TargetProduct>(p)).name) return static_cast<TargetProduct>(p);
  }
  throw std::invalid_argument("unknown chip '" + value + "' (OBRIN, TQR2400, IKA or VESKAR)");
}

constexpr int kMaxTapInstructionLength = 64;

int parseInstructionLength(const std::string& text, const std::string& item) {
  size_t used = 0;
  int length = 0;
  try {
    length = std::stoi(text, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || length < 2 || length > kMaxTapInstructionLength) {
    throw std::invalid_argument("chain: '" + item + "' needs an instruction length from 2 to 64");
  }
  return length;
}

uint32_t parseIdcode(const std::string& text, const std::string& item) {
  size_t used = 0;
  unsigned long value = 0;
  try {
    value = std::stoul(text, &used, 16);
  } catch (const std::exception&) {
    used = 0;
  }
  if (text.rfind("0x", 0) != 0 || used != text.size() || value > 0xFFFFFFFFul || (value & 1u) == 0) {
    throw std::invalid_argument("chain: '" + item + "' needs an IDCODE such as 0x06413041 (bit 0 set)");
  }
  return static_cast<uint32_t>(value);
}

// "8:target:5/0x06413041": the chain nearest TDO first, "target" where the chip sits.
void parseChain(const std::string& value, BoardOptions& options) {
  options.otherTaps.clear();
  std::istringstream in(value);
  std::string item;
  int chips = 0;
  while (std::getline(in, item, ':')) {
    if (item == "target") {
      options.chipPosition = static_cast<int>(options.otherTaps.size());
      ++chips;
      continue;
    }
    const auto slash = item.find('/');
    OtherTap tap;
    tap.instructionLength = parseInstructionLength(item.substr(0, slash), item);
    if (slash != std::string::npos) tap.idcode = parseIdcode(item.substr(slash + 1), item);
    options.otherTaps.push_back(tap);
  }
  if (chips != 1) throw std::invalid_argument("chain: name the chip's place once, as 'target'");
}

}  // namespace

BoardOptions parseBoardOptions(const std::string& text) {
  BoardOptions options;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    const auto eq = item.find('=');
    const std::string key = item.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    if (key == "chip") {
      options.chip = parseChip(value);
    } else if (key == "chain") {
      parseChain(value, options);
    } else if (key == "board") {
      // The chip, its chain and where its flash parts hang, from a board file.
      std::optional<TargetProduct> product;
      options.described = readDescribedBoard(value, product);
      if (product) options.chip = *product;
      if (options.described) {
        options.otherTaps = options.described->otherTaps;
        options.chipPosition = options.described->chipPosition;
      }
    } else if (key == "noport") {
      options.portPresent = false;
    } else if (key == "noboard") {
      options.boardPresent = false;
    } else if (key == "tdo") {
      if (value != "0" && value != "1") throw std::invalid_argument("tdo must be 0 or 1");
      options.tdoStuck = value == "1" ? 1 : 0;
    } else {
      options.deviceOptions[key] = value;
    }
  }
  return options;
}

std::vector<uint8_t> readBoardFile(const std::string& key, const std::string& path, uint64_t maxBytes) {
  // A device node or a FIFO has no end to read up to; only a regular file's size is known.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) throw std::invalid_argument(key + ": cannot read '" + path + "'");
  if (!S_ISREG(status.st_mode)) throw std::invalid_argument(key + ": '" + path + "' is not a regular file");
  if (static_cast<uint64_t>(status.st_size) > maxBytes) {
    throw std::invalid_argument(key + ": the file is larger than the device");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::invalid_argument(key + ": cannot read '" + path + "'");
  std::vector<uint8_t> bytes(static_cast<size_t>(status.st_size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  // A file that grew since stat is still held to the device's size.
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

std::unique_ptr<Board> makeBoard(const std::string& optionsText) {
  BoardOptions options = parseBoardOptions(optionsText);
  auto board = std::make_unique<Board>(options);
  if (options.described) attachOutputControlWatch(*board, *options.described);
  attachNandFromOptions(*board, options);
  attachNorFromOptions(*board, options);
  if (!options.deviceOptions.empty()) {
    throw std::invalid_argument("unknown board option '" + options.deviceOptions.begin()->first + "'");
  }
  return board;
}

}  // namespace zorv::sim
