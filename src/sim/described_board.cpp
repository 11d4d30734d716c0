#include "sim/described_board.h"

#include <filesystem>
#include <stdexcept>

#include <toml++/toml.h>

#include "bsdl/bsdl_device.h"
#include "sim/pin_device.h"
#include "text/upper_case.h"

namespace zorv::sim {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void refuse(const std::string& path, const std::string& what) {
  throw std::invalid_argument("board=" + path + ": " + what);
}

// An opcode as the register holds it once shifted in: bit i is the i-th bit shifted, which BSDL
// writes rightmost first.
uint32_t opcodeValue(const std::string& path, const BsdlDevice& bsdl, const char* name) {
  const BsdlInstruction* instruction = bsdl.instruction(name);
  if (instruction == nullptr || instruction->opcodes.empty()) return kNoInstruction;
  const std::string& bits = instruction->opcodes.front();
  uint32_t value = 0;
  for (size_t i = 0; i < bits.size(); ++i) {
    const char c = bits[bits.size() - 1 - i];
    if (c != '0' && c != '1') refuse(path, std::string(name) + " has X bits");
    if (c == '1') value |= 1u << i;
  }
  return value;
}

struct PortReader {
  const std::string& path;
  const BsdlDevice& bsdl;
  DescribedBoard& board;

  std::string name(const toml::node* node, const std::string& what) const {
    if (node == nullptr || !node->is_string()) refuse(path, what + " must name a port");
    return node->as_string()->get();
  }

  PortCells cells(const toml::node* node, const std::string& what) const {
    const PortCells found = bsdl.portCells(name(node, what));
    if (found.input == nullptr && found.output == nullptr) refuse(path, what + ": no such port in " + bsdl.file);
    return found;
  }

  static char enableLevel(const BoundaryCell& output) { return output.disableValue == '0' ? '1' : '0'; }

  // A line the chip drives: its cell, and its control cell noted as one that must enable it.
  int output(const toml::node* node, const std::string& what) {
    const PortCells found = cells(node, what);
    if (found.output == nullptr) refuse(path, what + " has no output cell");
    if (found.control != nullptr) board.outputControls.emplace_back(found.control->number, enableLevel(*found.output));
    return found.output->number;
  }

  int input(const toml::node* node, const std::string& what) const {
    const PortCells found = cells(node, what);
    if (found.input == nullptr) refuse(path, what + " has no input cell");
    return found.input->number;
  }

  // A data line: its one cell, its control cell, and the control level with which the chip drives.
  struct Line {
    int cell;
    int control;
    char drive;
  };
  Line line(const toml::node* node, const std::string& what) const {
    const PortCells found = cells(node, what);
    if (found.output == nullptr || found.input != found.output || found.control == nullptr) {
      refuse(path, what + " is no bidirectional cell with a control cell");
    }
    return {found.output->number, found.control->number, enableLevel(*found.output)};
  }

  const toml::array& list(const toml::table& table, const char* key, size_t size) const {
    const toml::array* array = table[key].as_array();
    if (array == nullptr || (size != 0 && array->size() != size)) refuse(path, std::string(key) + " must be a list");
    return *array;
  }
};

NandWiring readNand(PortReader& ports, const toml::table& table) {
  NandWiring wiring{};
  wiring.ce = ports.output(table.get("ce"), "nand.ce");
  wiring.we = ports.output(table.get("we"), "nand.we");
  wiring.re = ports.output(table.get("re"), "nand.re");
  wiring.cle = ports.output(table.get("cle"), "nand.cle");
  wiring.ale = ports.output(table.get("ale"), "nand.ale");
  wiring.rb = ports.input(table.get("rb"), "nand.rb");
  const toml::array& io = ports.list(table, "io", 8);
  for (size_t n = 0; n < 8; ++n) {
    const PortReader::Line line = ports.line(io.get(n), "nand.io");
    wiring.data[n] = line.cell;
    wiring.direction[n] = line.control;
    wiring.driveLevel = line.drive;
  }
  return wiring;
}

NorWiring readNor(PortReader& ports, const toml::table& table) {
  NorWiring wiring{{}, {}, '0', {}, -1, -1, {-1, -1, -1, -1, -1, -1, -1, -1}};
  for (const toml::node& node : ports.list(table, "address", 0)) wiring.address.push_back(ports.output(&node, "nor.address"));
  for (const toml::node& node : ports.list(table, "data", 0)) {
    const PortReader::Line line = ports.line(&node, "nor.data");
    wiring.data.push_back(line.cell);
    wiring.enable.push_back(line.control);
    wiring.driveLevel = line.drive;
  }
  wiring.outputEnable = ports.output(table.get("oe"), "nor.oe");
  wiring.writeEnable = ports.output(table.get("we"), "nor.we");
  const toml::array& selects = ports.list(table, "ce", 0);
  for (size_t n = 0; n < selects.size() && n < 8; ++n) wiring.chipSelect[n] = ports.output(selects.get(n), "nor.ce");
  if (table.get("byte") != nullptr) wiring.byteSelect = ports.output(table.get("byte"), "nor.byte");
  return wiring;
}

// "8,target,5:0x06413041,other.bsd": the chain as --chain writes it, nearest TDO first.
void readChain(const std::string& path, const std::string& text, const fs::path& folder, DescribedBoard& board) {
  size_t start = 0;
  int targets = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    item.erase(0, item.find_first_not_of(' '));
    item.erase(item.find_last_not_of(' ') + 1);
    start = comma == std::string::npos ? text.size() + 1 : comma + 1;
    if (upperCase(item) == "TARGET") {
      board.chipPosition = static_cast<int>(board.otherTaps.size());
      ++targets;
      continue;
    }
    OtherTap tap;
    if (!item.empty() && item[0] >= '0' && item[0] <= '9') {
      size_t used = 0;
      tap.instructionLength = std::stoi(item, &used);
      if (used < item.size()) tap.idcode = static_cast<uint32_t>(std::stoul(item.substr(used + 1), nullptr, 16));
    } else {
      const BsdlDevice other = readBsdlFile((folder / item).string());
      tap.instructionLength = other.instructionLength;
      if (other.idcode) tap.idcode = other.idcode->value;
    }
    board.otherTaps.push_back(tap);
  }
  if (targets != 1) refuse(path, "the chain names 'target' once");
}

class OutputControlWatch : public PinDevice {
 public:
  OutputControlWatch(Board& board, std::vector<std::pair<int, char>> controls)
      : board_(board), controls_(std::move(controls)) {}
  void pinsUpdated(const char* cells, int count, uint64_t) override {
    for (const auto& [cell, level] : controls_) {
      if (cell < count && cells[cell] != level) {
        board_.reportViolation("a flash output is left disabled (control cell " + std::to_string(cell) + ")");
        return;
      }
    }
  }
  void capturePins(char*, int, uint64_t) override {}

 private:
  Board& board_;
  std::vector<std::pair<int, char>> controls_;
};

}  // namespace

std::shared_ptr<const DescribedBoard> readDescribedBoard(const std::string& path, std::optional<TargetProduct>& product) {
  toml::table root;
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& error) {
    refuse(path, std::string(error.description()));
  }
  const fs::path folder = fs::path(path).parent_path();
  if (const std::optional<std::string> name = root["target"]["product"].value<std::string>()) {
    const std::string upper = upperCase(*name);
    for (int p = 0; p < kProductCount; ++p) {
      if (upper == simChip(static_cast<TargetProduct>(p)).name) product = static_cast<TargetProduct>(p);
    }
    if (!product) refuse(path, "no product '" + *name + "'");
    return nullptr;
  }
  const std::optional<std::string> bsdlName = root["target"]["bsdl"].value<std::string>();
  if (!bsdlName) refuse(path, "[target] names no BSDL file");
  auto board = std::make_shared<DescribedBoard>();
  try {
    const BsdlDevice bsdl = readBsdlFile((folder / *bsdlName).string());
    board->name = bsdl.entity;
    board->chip.name = board->name.c_str();
    board->chip.instructionLength = bsdl.instructionLength;
    if (bsdl.instructionLength < 2 || bsdl.instructionLength > 32 || !bsdl.idcode) refuse(path, "the chip's TAP is not one to play");
    board->chip.idcodeInstruction = opcodeValue(path, bsdl, "IDCODE");
    board->chip.extestInstruction = opcodeValue(path, bsdl, "EXTEST");
    board->chip.preloadInstruction = opcodeValue(path, bsdl, "PRELOAD");
    if (board->chip.preloadInstruction == kNoInstruction) board->chip.preloadInstruction = opcodeValue(path, bsdl, "SAMPLE");
    board->chip.idcode = bsdl.idcode->value;
    board->chip.boundaryLength = bsdl.boundaryLength;
    board->chip.hasDebugAccess = false;
    PortReader ports{path, bsdl, *board};
    if (const toml::table* nand = root["nand"].as_table()) board->nand = readNand(ports, *nand);
    if (const toml::table* nor = root["nor"].as_table()) board->nor = readNor(ports, *nor);
    if (const std::optional<std::string> chain = root["chain"].value<std::string>()) readChain(path, *chain, folder, *board);
  } catch (const BsdlError& error) {
    refuse(path, error.what());
  } catch (const std::logic_error& error) {
    if (dynamic_cast<const std::invalid_argument*>(&error) != nullptr && std::string(error.what()).rfind("board=", 0) == 0) throw;
    refuse(path, std::string("cannot be read: ") + error.what());
  }
  return board;
}

SimChip describedChip(const DescribedBoard& board) {
  SimChip chip = board.chip;
  chip.name = board.name.c_str();
  return chip;
}

const NandWiring* describedNandWiring(const DescribedBoard& board) { return board.nand ? &*board.nand : nullptr; }

bool describedHasNor(const DescribedBoard& board) { return board.nor.has_value(); }

const NorWiring& describedNorWiring(const DescribedBoard& board) { return *board.nor; }

void attachOutputControlWatch(Board& board, const DescribedBoard& described) {
  if (!described.outputControls.empty()) board.attach(std::make_unique<OutputControlWatch>(board, described.outputControls));
}

}  // namespace zorv::sim
