#include "board/board_file.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <toml++/toml.h>

#include "bsdl/bsdl_device.h"
#include "cable/bit_string.h"
#include "targets/catalogue.h"
#include "targets/product_wiring.h"
#include "text/format.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

// The keys each table may hold: a key no table knows is a typing error, never dropped.
const std::set<std::string> kTopKeys = {"chain", "target", "hold", "nand", "nor", "toggle"};
const std::set<std::string> kTargetKeys = {"product", "bsdl"};
const std::set<std::string> kNandKeys = {"ce", "we", "re", "cle", "ale", "rb", "io", "io_direction", "drive"};
const std::set<std::string> kNorKeys = {"address", "data", "data_enable", "enable_group", "drive",
                                        "samples_whole_bus", "ce", "oe", "we", "byte", "width", "type"};
const std::set<std::string> kToggleKeys = {"enable_level", "output_enables", "toggled", "chip_selects", "held_high"};

class Reader {
 public:
  Reader(std::string path) : path_(std::move(path)) {}

  [[noreturn]] void fail(const toml::node* node, const std::string& what) const {
    const auto line = node != nullptr ? node->source().begin.line : 0;
    if (line == 0) throw BoardFileError(path_ + ": " + what);
    throw BoardFileError(format("%s:%u: %s", path_.c_str(), static_cast<unsigned>(line), what.c_str()));
  }

  void onlyKnownKeys(const toml::table& table, const std::set<std::string>& known, const std::string& where) const {
    for (const auto& [key, value] : table) {
      if (known.count(std::string(key.str())) == 0) {
        fail(&value, format("unknown key '%s'%s", std::string(key.str()).c_str(), where.c_str()));
      }
    }
  }

  const toml::table* table(const toml::table& parent, const char* key) const {
    const toml::node* node = parent.get(key);
    if (node == nullptr) return nullptr;
    if (!node->is_table()) fail(node, format("'%s' must be a table ([%s])", key, key));
    return node->as_table();
  }

  std::optional<std::string> text(const toml::table& parent, const char* key, const char* section) const {
    const toml::node* node = parent.get(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_string()) fail(node, format("%s%s must be a text in quotes", section, key));
    return node->as_string()->get();
  }

  std::optional<int64_t> integer(const toml::table& parent, const char* key, const char* section) const {
    const toml::node* node = parent.get(key);
    if (node == nullptr) return std::nullopt;
    if (!node->is_integer()) fail(node, format("%s%s must be a whole number", section, key));
    return node->as_integer()->get();
  }

  const toml::array* array(const toml::table& parent, const char* key, const char* section) const {
    const toml::node* node = parent.get(key);
    if (node == nullptr) return nullptr;
    if (!node->is_array()) fail(node, format("%s%s must be a list in [ ]", section, key));
    return node->as_array();
  }

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Where a signal sits: a cell number of a built-in product's image, or a BSDL port's cells.
class SignalPlaces {
 public:
  SignalPlaces(const Reader& reader, const BsdlDevice* bsdl, int bsrLength)
      : reader_(reader), bsdl_(bsdl), bsrLength_(bsrLength) {}

  // The cell that drives the signal; for a BSDL port also its control cell and that cell's value
  // that lets the output drive (none where the output is always driven).
  struct Output {
    int cell = -1;
    int control = -1;
    char enable = '1';
  };

  Output output(const toml::node& node, const std::string& what) const {
    if (bsdl_ == nullptr) return {cellNumber(node, what), -1, '1'};
    if (!node.is_string()) reader_.fail(&node, format("%s: a BSDL board's signals are port names in quotes", what.c_str()));
    return namedOutput(node.as_string()->get(), node, what);
  }

  // The output of the port of that name; where says which line of the file named it.
  Output namedOutput(const std::string& portName, const toml::node& where, const std::string& what) const {
    const PortCells cells = port(portName, where, what);
    if (cells.output == nullptr) reader_.fail(&where, format("%s: port '%s' has no output cell", what.c_str(), portName.c_str()));
    Output out{cells.output->number, -1, '1'};
    if (cells.control != nullptr) {
      out.control = cells.control->number;
      out.enable = cells.output->disableValue == '0' ? '1' : '0';
    }
    return out;
  }

  // A line the chip both drives and reads back: one cell for both, and the control cell.
  Output bidirectional(const toml::node& node, const std::string& what) const {
    if (bsdl_ == nullptr) return {cellNumber(node, what), -1, '1'};
    const PortCells cells = port(node, what);
    if (cells.output == nullptr || cells.input != cells.output || cells.control == nullptr) {
      reader_.fail(&node, format("%s: port '%s' needs one bidirectional cell (BIDIR) with a control cell", what.c_str(),
                                 name(node).c_str()));
    }
    return {cells.output->number, cells.control->number, cells.output->disableValue == '0' ? '1' : '0'};
  }

  int input(const toml::node& node, const std::string& what) const {
    if (bsdl_ == nullptr) return cellNumber(node, what);
    const PortCells cells = port(node, what);
    if (cells.input == nullptr) reader_.fail(&node, format("%s: port '%s' has no input cell", what.c_str(), name(node).c_str()));
    return cells.input->number;
  }

 private:
  std::string name(const toml::node& node) const { return node.is_string() ? node.as_string()->get() : std::string(); }

  int cellNumber(const toml::node& node, const std::string& what) const {
    if (!node.is_integer()) reader_.fail(&node, format("%s: a built-in product's signals are cell numbers", what.c_str()));
    const int64_t cell = node.as_integer()->get();
    if (cell < 0 || cell >= bsrLength_) {
      reader_.fail(&node, format("%s: cell %lld is outside the boundary register (0 to %d)", what.c_str(),
                                 static_cast<long long>(cell), bsrLength_ - 1));
    }
    return static_cast<int>(cell);
  }

  PortCells port(const toml::node& node, const std::string& what) const {
    if (!node.is_string()) reader_.fail(&node, format("%s: a BSDL board's signals are port names in quotes", what.c_str()));
    return port(node.as_string()->get(), node, what);
  }

  PortCells port(const std::string& portName, const toml::node& where, const std::string& what) const {
    const PortCells cells = bsdl_->portCells(portName);
    if (cells.input == nullptr && cells.output == nullptr) {
      reader_.fail(&where, format("%s: %s has no port '%s' in its boundary register", what.c_str(), bsdl_->file.c_str(),
                                  portName.c_str()));
    }
    return cells;
  }

  const Reader& reader_;
  const BsdlDevice* bsdl_;
  int bsrLength_;
};

// Cells that one signal has taken, so that no cell serves two.
class CellOwners {
 public:
  CellOwners(const Reader& reader, std::map<int, std::string>& everyOwner) : reader_(reader), everyOwner_(everyOwner) {}
  // A new section: the NAND and the NOR bus may share lines (a board whose NAND sits on the
  // memory bus), within one section every cell serves one signal.
  void newSection() {
    owners_.clear();
    sharedCells_.clear();
  }
  void take(int cell, const std::string& what, const toml::node* node, bool shared = false) {
    if (cell < 0) return;
    everyOwner_.try_emplace(cell, what);
    const auto [it, fresh] = owners_.try_emplace(cell, what);
    if (!fresh && !(shared && sharedCells_.count(cell) != 0)) {
      reader_.fail(node, format("%s: cell %d already serves %s", what.c_str(), cell, it->second.c_str()));
    }
    if (shared) sharedCells_.insert(cell);
  }

 private:
  const Reader& reader_;
  std::map<int, std::string>& everyOwner_;
  std::map<int, std::string> owners_;
  std::set<int> sharedCells_;
};

char levelChar(const Reader& reader, const toml::node& node, const std::string& what) {
  if (node.is_integer() && (node.as_integer()->get() == 0 || node.as_integer()->get() == 1)) {
    return node.as_integer()->get() == 1 ? '1' : '0';
  }
  if (node.is_string() && (node.as_string()->get() == "0" || node.as_string()->get() == "1")) {
    return node.as_string()->get()[0];
  }
  reader.fail(&node, what + " must be 0 or 1");
}

const toml::node& required(const Reader& reader, const toml::table& table, const char* key, const char* section) {
  const toml::node* node = table.get(key);
  if (node == nullptr) reader.fail(&table, format("[%s] needs '%s'", section, key));
  return *node;
}

// "first-last/step", "first-last" or "cell".
CellRange parseRange(const Reader& reader, const toml::node& node, int bsrLength) {
  if (!node.is_string()) reader.fail(&node, "a cell range is a text such as \"12-58/2\"");
  const std::string text = node.as_string()->get();
  CellRange range{};
  int used = 0;
  if (std::sscanf(text.c_str(), "%d-%d/%d%n", &range.first, &range.last, &range.step, &used) == 3 &&
      used == static_cast<int>(text.size())) {
  } else if (std::sscanf(text.c_str(), "%d-%d%n", &range.first, &range.last, &used) == 2 &&
             used == static_cast<int>(text.size())) {
    range.step = 1;
  } else if (std::sscanf(text.c_str(), "%d%n", &range.first, &used) == 1 && used == static_cast<int>(text.size())) {
    range.last = range.first;
    range.step = 1;
  } else {
    reader.fail(&node, "'" + text + "' is not a cell range such as \"12-58/2\"");
  }
  const bool reaches = range.step != 0 && (range.last - range.first) % range.step == 0 &&
                       (range.last - range.first) / range.step >= 0;
  if (!reaches || range.first < 0 || range.last < 0 || range.first >= bsrLength || range.last >= bsrLength) {
    reader.fail(&node, "'" + text + "' does not run from its first cell to its last inside the boundary register");
  }
  return range;
}

std::vector<const toml::node*> listOf(const Reader& reader, const toml::table& table, const char* key,
                                      const char* section, size_t minimum, size_t maximum) {
  const toml::array* list = reader.array(table, key, section);
  if (list == nullptr) reader.fail(&table, format("[%s] needs '%s'", section, key));
  if (list->size() < minimum || list->size() > maximum) {
    reader.fail(list, minimum == maximum ? format("%s%s lists %zu signals", section, key, minimum)
                                         : format("%s%s lists %zu to %zu signals", section, key, minimum, maximum));
  }
  std::vector<const toml::node*> nodes;
  for (const toml::node& node : *list) nodes.push_back(&node);
  return nodes;
}

// Opcodes are written most significant bit first; the cable shifts them first bit first.
std::string shiftingOrder(std::string opcode) {
  std::reverse(opcode.begin(), opcode.end());
  return opcode;
}

std::string bitsOf(uint32_t value) {
  std::string bits(32, '0');
  for (int i = 0; i < 32; ++i) bits[static_cast<size_t>(31 - i)] = bitChar((value >> i) & 1u);
  return bits;
}

void describeProduct(BoardChip& chip, TargetProduct product) {
  const ChipDescriptor& descriptor = chipDescriptor(product);
  chip.name = descriptor.name;
  chip.instructionLength = descriptor.instructionLength;
  chip.idInstruction = descriptor.idInstruction;
  chip.extestInstruction = descriptor.extestInstruction;
  chip.idCode = descriptor.idCode;
  chip.idMask = descriptor.idMask;
  chip.bsrLength = descriptor.bsrLength;
  chip.resetTemplate = descriptor.resetTemplate;
  chip.idCodeShared = sharesIdCode(product);
  chip.nor = descriptor.nor;
  chip.product = product;
  chip.wiring.product = product;
}

const BsdlInstruction* firstInstruction(const BsdlDevice& bsdl, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (const BsdlInstruction* instruction = bsdl.instruction(name); instruction != nullptr) return instruction;
  }
  return nullptr;
}

void describeBsdlChip(const Reader& reader, const toml::node& where, BoardChip& chip, const BsdlDevice& bsdl) {
  const auto refuse = [&](const std::string& what) { reader.fail(&where, bsdl.file + ": " + what); };
  if (bsdl.instructionLength < 2 || bsdl.instructionLength > JtagCable::kMaxInstructionLength) {
    refuse(format("an instruction length of %d bits is not taken (2 to %d)", bsdl.instructionLength,
                  JtagCable::kMaxInstructionLength));
  }
  const BsdlInstruction* extest = firstInstruction(bsdl, {"EXTEST"});
  const BsdlInstruction* idcode = firstInstruction(bsdl, {"IDCODE"});
  const BsdlInstruction* sample = firstInstruction(bsdl, {"SAMPLE/PRELOAD", "PRELOAD", "SAMPLE"});
  if (extest == nullptr || extest->opcodes.empty()) refuse("names no EXTEST opcode");
  if (idcode == nullptr || idcode->opcodes.empty() || !bsdl.idcode) refuse("names no IDCODE opcode and register");
  if (bsdl.boundaryLength < 1) refuse("gives no boundary register");
  // The jobs capture the register into buffers of the products' size.
  if (bsdl.boundaryLength > kImageCapacity) {
    refuse(format("a boundary register of %d cells is longer than the %d the program holds", bsdl.boundaryLength,
                  kImageCapacity));
  }
  chip.name = bsdl.entity;
  chip.instructionLength = bsdl.instructionLength;
  chip.extestInstruction = shiftingOrder(extest->opcodes.front());
  chip.idInstruction = shiftingOrder(idcode->opcodes.front());
  if (sample != nullptr && !sample->opcodes.empty()) chip.sampleInstruction = shiftingOrder(sample->opcodes.front());
  for (const std::string* opcode : {&chip.extestInstruction, &chip.idInstruction, &chip.sampleInstruction}) {
    if (opcode->find_first_not_of("01") != std::string::npos) refuse("an opcode with X bits is not taken");
  }
  chip.idCode = bitsOf(bsdl.idcode->value);
  chip.idMask = bsdl.idcode->mask;
  chip.bsrLength = bsdl.boundaryLength;
  chip.resetTemplate.assign(static_cast<size_t>(bsdl.boundaryLength), '0');
  for (const BoundaryCell& cell : bsdl.cells) {
    if (cell.number >= 0 && cell.number < bsdl.boundaryLength && cell.safe == '1') {
      chip.resetTemplate[static_cast<size_t>(cell.number)] = '1';
    }
  }
  chip.designWarnings = bsdl.designWarnings;
}

struct Loader {
  const Reader& reader;
  BoardChip& chip;
  const BsdlDevice* bsdl;
  SignalPlaces places;
  std::map<int, std::string> signalCells;  // every cell a signal uses, and the first signal using it
  CellOwners owners;
  // Control cells of the board's outputs that always drive, and the level that lets them.
  std::map<int, char> heldControls;

  Loader(const Reader& r, BoardChip& c, const BsdlDevice* b)
      : reader(r), chip(c), bsdl(b), places(r, b, c.bsrLength), owners(r, signalCells) {}

  void setIdle(int cell, char level) {
    if (cell >= 0) chip.resetTemplate[static_cast<size_t>(cell)] = level;
  }

  // An output the job strobes or drives: its control cell is held enabled.
  int strobe(const toml::node& node, const std::string& what, char idle) {
    const SignalPlaces::Output out = places.output(node, what);
    owners.take(out.cell, what, &node);
    holdControl(out, what, node);
    if (bsdl != nullptr) setIdle(out.cell, idle);
    return out.cell;
  }

  void holdControl(const SignalPlaces::Output& out, const std::string& what, const toml::node& node) {
    if (out.control < 0) return;
    const auto [it, fresh] = heldControls.try_emplace(out.control, out.enable);
    if (!fresh && it->second != out.enable) {
      reader.fail(&node, format("%s: its control cell %d must enable it at another level than another output's",
                                what.c_str(), out.control));
    }
    owners.take(out.control, "the control cell of " + what, &node, true);
    setIdle(out.control, out.enable);
  }

  void nand(const toml::table& table) {
    reader.onlyKnownKeys(table, kNandKeys, " in [nand]");
    owners.newSection();
    NandPins& pins = chip.wiring.nand.pins;
    pins.pinCe = strobe(required(reader, table, "ce", "nand"), "nand.ce", '1');
    pins.pinWe = strobe(required(reader, table, "we", "nand"), "nand.we", '1');
    pins.pinRe = strobe(required(reader, table, "re", "nand"), "nand.re", '1');
    pins.pinCle = strobe(required(reader, table, "cle", "nand"), "nand.cle", '0');
    pins.pinAle = strobe(required(reader, table, "ale", "nand"), "nand.ale", '0');
    const toml::node& rb = required(reader, table, "rb", "nand");
    pins.pinRb = places.input(rb, "nand.rb");
    owners.take(pins.pinRb, "nand.rb", &rb);
    const std::vector<const toml::node*> io = listOf(reader, table, "io", "nand.", 8, 8);
    NandDataBus& bus = chip.wiring.nand.bus;
    if (bsdl == nullptr) {
      const std::vector<const toml::node*> directions = listOf(reader, table, "io_direction", "nand.", 8, 8);
      const toml::node& drive = required(reader, table, "drive", "nand");
      bus.outputLevel = levelChar(reader, drive, "nand.drive");
      bus.inputLevel = bus.outputLevel == '1' ? '0' : '1';
      for (size_t n = 0; n < 8; ++n) {
        chip.nandLines.push_back(places.input(*io[n], format("nand.io[%zu]", n)));
        chip.nandDirections.push_back(places.input(*directions[n], format("nand.io_direction[%zu]", n)));
      }
    } else {
      if (table.get("io_direction") != nullptr || table.get("drive") != nullptr) {
        reader.fail(table.get("io_direction") != nullptr ? table.get("io_direction") : table.get("drive"),
                    "a BSDL board's direction cells and levels come from its BSDL file");
      }
      for (size_t n = 0; n < 8; ++n) {
        const std::string what = format("nand.io[%zu]", n);
        const SignalPlaces::Output line = places.bidirectional(*io[n], what);
        if (n == 0) bus.outputLevel = line.enable;
        if (line.enable != bus.outputLevel) reader.fail(io[n], what + ": its control cell enables at another level than I/O0's");
        chip.nandLines.push_back(line.cell);
        chip.nandDirections.push_back(line.control);
      }
      bus.inputLevel = bus.outputLevel == '1' ? '0' : '1';
      for (int cell : chip.nandDirections) setIdle(cell, bus.inputLevel);
    }
    for (size_t n = 0; n < 8; ++n) {
      owners.take(chip.nandLines[n], format("nand.io[%zu]", n), io[n]);
      owners.take(chip.nandDirections[n], format("the direction of nand.io[%zu]", n), io[n], true);
    }
    // The products' record places the lines by a first cell and a step; a board that follows that
    // rule keeps to it, so that it reads exactly as the compiled record.
    const int step = chip.nandLines[1] - chip.nandLines[0];
    bool regular = step == 2 || step == -2;
    for (int n = 0; n < 8; ++n) {
      const auto i = static_cast<size_t>(n);
      regular = regular && chip.nandLines[i] == chip.nandLines[0] + n * step && chip.nandDirections[i] == chip.nandLines[i] + 1;
    }
    bus.io0 = chip.nandLines[0];
    bus.step = regular ? step : 0;
    if (regular) {
      chip.nandLines.clear();
      chip.nandDirections.clear();
    }
    chip.hasNand = true;
  }

  void nor(const toml::table& table) {
    reader.onlyKnownKeys(table, kNorKeys, " in [nor]");
    owners.newSection();
    NorBus& bus = chip.norBus;
    const std::vector<const toml::node*> address = listOf(reader, table, "address", "nor.", 1, 32);
    for (size_t n = 0; n < address.size(); ++n) chip.norAddress.push_back(strobe(*address[n], format("nor.address[%zu]", n), '0'));
    const std::vector<const toml::node*> data = listOf(reader, table, "data", "nor.", 8, 32);
    if (bsdl == nullptr) {
      const std::vector<const toml::node*> enables = listOf(reader, table, "data_enable", "nor.", data.size(), data.size());
      bus.driveLevel = levelChar(reader, required(reader, table, "drive", "nor"), "nor.drive");
      const std::optional<int64_t> group = reader.integer(table, "enable_group", "nor.");
      bus.enableGroup = static_cast<int>(group.value_or(1));
      if (bus.enableGroup < 1 || bus.enableGroup > 32) reader.fail(table.get("enable_group"), "nor.enable_group is 1 to 32");
      const toml::node* whole = table.get("samples_whole_bus");
      if (whole != nullptr && !whole->is_boolean()) reader.fail(whole, "nor.samples_whole_bus is true or false");
      bus.samplesWholeBus = whole != nullptr && whole->as_boolean()->get();
      for (size_t n = 0; n < data.size(); ++n) {
        chip.norData.push_back(places.input(*data[n], format("nor.data[%zu]", n)));
        chip.norEnables.push_back(places.input(*enables[n], format("nor.data_enable[%zu]", n)));
      }
    } else {
      for (const char* key : {"data_enable", "drive", "enable_group", "samples_whole_bus"}) {
        if (table.get(key) != nullptr) reader.fail(table.get(key), format("nor.%s comes from a BSDL board's BSDL file", key));
      }
      bus.enableGroup = 1;
      bus.samplesWholeBus = false;
      for (size_t n = 0; n < data.size(); ++n) {
        const std::string what = format("nor.data[%zu]", n);
        const SignalPlaces::Output line = places.bidirectional(*data[n], what);
        if (n == 0) bus.driveLevel = line.enable;
        if (line.enable != bus.driveLevel) reader.fail(data[n], what + ": its control cell enables at another level than D0's");
        chip.norData.push_back(line.cell);
        chip.norEnables.push_back(line.control);
      }
    }
    bus.releaseLevel = bus.driveLevel == '1' ? '0' : '1';
    for (size_t n = 0; n < data.size(); ++n) {
      owners.take(chip.norData[n], format("nor.data[%zu]", n), data[n]);
      owners.take(chip.norEnables[n], format("the enable of nor.data[%zu]", n), data[n], true);
      if (bsdl != nullptr) setIdle(chip.norEnables[n], bus.releaseLevel);
    }
    bus.outputEnable = strobe(required(reader, table, "oe", "nor"), "nor.oe", '1');
    bus.writeEnable = strobe(required(reader, table, "we", "nor"), "nor.we", '1');
    const std::vector<const toml::node*> selects = listOf(reader, table, "ce", "nor.", 1, 8);
    bus.chipSelects.fill(-1);
    for (size_t n = 0; n < selects.size(); ++n) {
      // A product's record marks a region no chip select serves with -1.
      if (bsdl == nullptr && selects[n]->is_integer() && selects[n]->as_integer()->get() == -1) continue;
      bus.chipSelects[n] = strobe(*selects[n], format("nor.ce[%zu]", n), '1');
    }
    if (const std::optional<int64_t> width = reader.integer(table, "width", "nor.")) {
      if (*width != 8 && *width != 16) reader.fail(table.get("width"), "nor.width is 8 or 16");
      norWidth = static_cast<int>(*width);
    }
    if (const toml::node* byte = table.get("byte")) {
      // BYTE# chooses the part's bus width: high for a 16-bit bus, low for bytes.
      if (norWidth == 0) reader.fail(byte, "nor.byte needs nor.width, which sets its level");
      const SignalPlaces::Output out = places.output(*byte, "nor.byte");
      owners.take(out.cell, "nor.byte", byte);
      holdControl(out, "nor.byte", *byte);
      chip.heldCells.emplace_back(out.cell, norWidth == 16 ? '1' : '0');
    }
    norType = reader.text(table, "type", "nor.").value_or("");
    chip.hasNor = true;
  }

  void hold(const toml::table& table) {
    for (const auto& [key, value] : table) {
      const std::string name(key.str());
      const std::string what = "hold." + name;
      const char level = levelChar(reader, value, what);
      int cell = -1;
      if (bsdl == nullptr) {
        if (name.empty() || name.size() > 6 || name.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(name) >= chip.bsrLength) {
          reader.fail(&value, format("%s: a built-in product's held pins are cell numbers, 0 to %d", what.c_str(),
                                     chip.bsrLength - 1));
        }
        cell = std::stoi(name);
      } else {
        const SignalPlaces::Output out = places.namedOutput(name, value, what);
        holdControl(out, what, value);
        cell = out.cell;
      }
      const auto serving = signalCells.find(cell);
      if (serving != signalCells.end()) {
        reader.fail(&value, format("%s: cell %d serves %s, which the jobs drive", what.c_str(), cell, serving->second.c_str()));
      }
      owners.take(cell, what, &value);
      chip.heldCells.emplace_back(cell, level);
    }
  }

  void toggle(const toml::table* table) {
    if (bsdl != nullptr) {
      if (table != nullptr) reader.fail(table, "a BSDL board toggles the flash signals it names: [toggle] is for a built-in product");
      deriveToggle();
      return;
    }
    if (table == nullptr) reader.fail(nullptr, "a built-in product's board needs [toggle]");
    reader.onlyKnownKeys(*table, kToggleKeys, " in [toggle]");
    chip.wiring.toggle.enableLevel = levelChar(reader, required(reader, *table, "enable_level", "toggle"), "toggle.enable_level");
    const auto ranges = [&](const char* key, std::vector<CellRange>& into) {
      const toml::array* list = reader.array(*table, key, "toggle.");
      if (list == nullptr) return;
      for (const toml::node& node : *list) into.push_back(parseRange(reader, node, chip.bsrLength));
    };
    ranges("output_enables", chip.toggleEnables);
    ranges("toggled", chip.toggled);
    ranges("chip_selects", chip.toggleChipSelects);
    ranges("held_high", chip.toggleHeldHigh);
  }

  // Every output the board names toggles, its chip selects held high unless they toggle too; the
  // held cells and the control cells keep their levels.
  void deriveToggle() {
    std::set<int> selects;
    if (chip.hasNand) selects.insert(chip.wiring.nand.pins.pinCe);
    for (int cell : chip.norBus.chipSelects) {
      if (chip.hasNor && cell >= 0) selects.insert(cell);
    }
    std::vector<int> outputs;
    const auto add = [&](int cell) {
      if (cell >= 0) outputs.push_back(cell);
    };
    if (chip.hasNand) {
      const NandPins& p = chip.wiring.nand.pins;
      for (int cell : {p.pinCe, p.pinWe, p.pinRe, p.pinCle, p.pinAle}) add(cell);
      for (int n = 0; n < 8; ++n) add(chip.wiring.nand.bus.dataCell(n));
    }
    if (chip.hasNor) {
      for (int cell : chip.norAddress) add(cell);
      for (int cell : chip.norData) add(cell);
      add(chip.norBus.outputEnable);
      add(chip.norBus.writeEnable);
      for (int cell : selects) add(cell);
    }
    std::sort(outputs.begin(), outputs.end());
    outputs.erase(std::unique(outputs.begin(), outputs.end()), outputs.end());
    for (int cell : outputs) chip.toggled.push_back({cell, cell, 1});
    for (int cell : selects) chip.toggleChipSelects.push_back({cell, cell, 1});
    // The data lines' direction cells are turned to drive; they share one level on each bus.
    std::vector<int> enables;
    char level = 0;
    bool oneLevel = true;
    const auto enable = [&](int cell, char drive) {
      if (cell < 0) return;
      enables.push_back(cell);
      if (level != 0 && level != drive) oneLevel = false;
      level = drive;
    };
    if (chip.hasNand) {
      for (int n = 0; n < 8; ++n) enable(chip.wiring.nand.bus.directionCell(n), chip.wiring.nand.bus.outputLevel);
    }
    if (chip.hasNor) {
      for (int cell : chip.norEnables) enable(cell, chip.norBus.driveLevel);
    }
    chip.toggleable = oneLevel;
    chip.wiring.toggle.enableLevel = level == 0 ? '1' : level;
    for (int cell : enables) chip.toggleEnables.push_back({cell, cell, 1});
  }

  std::string norType;
  int norWidth = 0;
};

std::string readWholeFile(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) throw BoardFileError(path + ": cannot be read: no such file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw BoardFileError(path + ": cannot be read");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

BoardFile readBoardFile(const std::string& path) { return parseBoardFile(readWholeFile(path), path); }

BoardFile parseBoardFile(std::string_view text, const std::string& path) {
  const Reader reader(path);
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& error) {
    throw BoardFileError(format("%s:%u: %s", path.c_str(), static_cast<unsigned>(error.source().begin.line),
                                std::string(error.description()).c_str()));
  }
  reader.onlyKnownKeys(root, kTopKeys, "");
  const fs::path folder = fs::path(path).parent_path();
  const auto besideBoard = [&](const std::string& name) {
    const fs::path file(name);
    return (file.is_absolute() || folder.empty() ? file : folder / file).string();
  };

  BoardFile board;
  board.path = path;
  auto chip = std::make_shared<BoardChip>();

  const toml::table* target = reader.table(root, "target");
  if (target == nullptr) reader.fail(nullptr, "[target] is missing: name a product or a BSDL file");
  reader.onlyKnownKeys(*target, kTargetKeys, " in [target]");
  const std::optional<std::string> productName = reader.text(*target, "product", "target.");
  const std::optional<std::string> bsdlName = reader.text(*target, "bsdl", "target.");
  if (productName.has_value() == bsdlName.has_value()) {
    reader.fail(target, "[target] names either a product or a BSDL file, exactly one of them");
  }
  std::optional<BsdlDevice> bsdl;
  if (productName) {
    board.product = productFromName(*productName);
    if (!board.product) {
      reader.fail(target->get("product"), format("'%s' is not %s", productName->c_str(), productNamesText().c_str()));
    }
    describeProduct(*chip, *board.product);
  } else {
    board.bsdlPath = besideBoard(*bsdlName);
    try {
      bsdl = readBsdlFile(board.bsdlPath);
    } catch (const BsdlError& error) {
      reader.fail(target->get("bsdl"), error.what());
    }
    describeBsdlChip(reader, *target->get("bsdl"), *chip, *bsdl);
  }

  Loader loader(reader, *chip, bsdl ? &*bsdl : nullptr);
  const toml::table* nand = reader.table(root, "nand");
  const toml::table* nor = reader.table(root, "nor");
  if (nand != nullptr) loader.nand(*nand);
  if (nor != nullptr) {
    if (chip->nor.throughDebugPath) reader.fail(nor, format("%s reaches its NOR flash through its debug access: no [nor]", chip->name.c_str()));
    loader.nor(*nor);
  }
  if (nand == nullptr && nor == nullptr) reader.fail(nullptr, "the board names no flash: give [nand], [nor] or both");
  if (const toml::table* hold = reader.table(root, "hold")) {
    loader.owners.newSection();
    loader.hold(*hold);
  }
  loader.toggle(reader.table(root, "toggle"));
  for (const auto& [cell, level] : chip->heldCells) chip->resetTemplate[static_cast<size_t>(cell)] = level;
  board.norType = loader.norType;
  board.norWidth = loader.norWidth;
  chip->linkWiring();

  if (const std::optional<std::string> chainText = reader.text(root, "chain", "")) {
    try {
      board.chain = parseChainText(*chainText, [&](const std::string& item) { return readBsdlFile(besideBoard(item)); });
    } catch (const ChainError& error) {
      reader.fail(root.get("chain"), std::string("chain: ") + error.what());
    }
  }
  board.chip = std::move(chip);
  return board;
}

}  // namespace zorv
