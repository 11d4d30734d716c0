#include <algorithm>
#include <numeric>

#include "bsdl/bsdl_grammar.h"
#include "bsdl/bsdl_lexer.h"
#include "text/upper_case.h"

// BOUNDARY_REGISTER: one entry per cell, "num (cell, port, function, safe[, ccell, disval, rslt])"
// (IEEE 1149.1, the boundary-scan register description), and the checks that make the cell map
// safe to drive pins with.
namespace zorv::bsdl {
namespace {

struct FunctionName {
  const char* name;
  CellFunction function;
};
constexpr FunctionName kFunctions[] = {
    {"INPUT", CellFunction::Input},       {"OUTPUT2", CellFunction::Output2},   {"OUTPUT3", CellFunction::Output3},
    {"CONTROL", CellFunction::Control},   {"CONTROLR", CellFunction::Controlr}, {"BIDIR", CellFunction::Bidir},
    {"INTERNAL", CellFunction::Internal}, {"CLOCK", CellFunction::Clock},       {"OBSERVE_ONLY", CellFunction::ObserveOnly},
};
constexpr const char* kDisableResults[] = {"Z", "WEAK0", "WEAK1", "PULL0", "PULL1", "KEEPER"};

bool observes(CellFunction f) {
  return f == CellFunction::Input || f == CellFunction::Clock || f == CellFunction::ObserveOnly;
}
bool drives(CellFunction f) {
  return f == CellFunction::Output2 || f == CellFunction::Output3 || f == CellFunction::Control ||
         f == CellFunction::Controlr;
}
bool isControl(CellFunction f) { return f == CellFunction::Control || f == CellFunction::Controlr; }
bool isOutput(CellFunction f) {
  return f == CellFunction::Output2 || f == CellFunction::Output3 || f == CellFunction::Bidir;
}

// The port field: "*", a bit port "NCE" or one bit of a bit_vector port "D(3)", checked against the
// entity's ports; upper case, as BoundaryCell keeps it.
std::string readCellPort(StringScanner& scanner, const std::vector<BsdlPort>& ports) {
  if (scanner.take('*')) return "*";
  const int line = scanner.line();
  const std::string name = upperCase(scanner.word("the cell's port or '*'"));
  const auto port = std::find_if(ports.begin(), ports.end(), [&](const BsdlPort& p) { return p.name == name; });
  if (port == ports.end()) scanner.failAt(line, "the entity has no port " + name);
  if (!port->isVector) {
    if (scanner.take('(')) scanner.failAt(line, "the port " + name + " is a bit, not a bit_vector");
    return name;
  }
  if (!scanner.take('(')) scanner.failAt(line, "the port " + name + " is a bit_vector: expected its bit as " + name + "(n)");
  const int index = scanner.number("the bit of the port");
  if (index < std::min(port->first, port->last) || index > std::max(port->first, port->last)) {
    scanner.failAt(line, name + "(" + std::to_string(index) + ") is outside the port's range " +
                             std::to_string(port->first) + (port->first <= port->last ? " to " : " downto ") +
                             std::to_string(port->last));
  }
  scanner.expect(')', "after the port's bit");
  return name + "(" + std::to_string(index) + ")";
}

CellFunction readFunction(StringScanner& scanner) {
  const int line = scanner.line();
  const std::string word = scanner.word("the cell's function");
  for (const FunctionName& entry : kFunctions) {
    if (sameName(word, entry.name)) return entry.function;
  }
  scanner.failAt(line, "'" + word +
                           "' is not a cell function (INPUT, OUTPUT2, OUTPUT3, CONTROL, CONTROLR, BIDIR, INTERNAL, CLOCK "
                           "or OBSERVE_ONLY)");
}

char readBit(StringScanner& scanner, std::string_view what, bool allowX) {
  const int line = scanner.line();
  const std::string word = upperCase(scanner.word(what));
  if (word == "0" || word == "1" || (allowX && word == "X")) return word[0];
  scanner.failAt(line, "expected " + std::string(what) + (allowX ? " (0, 1 or X)" : " (0 or 1)") + ", found '" + word + "'");
}

std::string readDisableResult(StringScanner& scanner) {
  const int line = scanner.line();
  const std::string word = upperCase(scanner.word("the disable result"));
  for (const char* result : kDisableResults) {
    if (word == result) return word;
  }
  scanner.failAt(line, "'" + word + "' is not a disable result (Z, WEAK0, WEAK1, PULL0, PULL1 or KEEPER)");
}

// A cell listed twice serves an input and something that drives (an output or a control): the
// merged cells of IEEE 1149.1. Anything else is two cells given one number.
void checkMerges(StringScanner& scanner, const std::vector<BoundaryCell>& cells, const std::vector<int>& lines,
                 const std::vector<size_t>& byNumber) {
  for (size_t k = 1; k < byNumber.size(); ++k) {
    const BoundaryCell& first = cells[byNumber[k - 1]];
    const BoundaryCell& second = cells[byNumber[k]];
    if (first.number != second.number) continue;
    const int line = lines[std::max(byNumber[k - 1], byNumber[k])];
    if (k + 1 < byNumber.size() && cells[byNumber[k + 1]].number == first.number) {
      scanner.failAt(lines[byNumber[k + 1]], "cell " + std::to_string(first.number) + " is listed more than twice");
    }
    const bool merge = (observes(first.function) && drives(second.function)) ||
                       (drives(first.function) && observes(second.function));
    if (!merge) {
      scanner.failAt(line, "cell " + std::to_string(first.number) + " is listed twice as " +
                               cellFunctionName(first.function) + " and " + cellFunctionName(second.function) +
                               ": only an input merged with an output or a control may share a cell");
    }
  }
}

}  // namespace

std::vector<BoundaryCell> readBoundaryRegister(StringScanner& scanner, int length, const std::vector<BsdlPort>& ports) {
  std::vector<BoundaryCell> cells;
  std::vector<int> lines;
  do {
    const int line = scanner.line();
    BoundaryCell cell;
    cell.number = scanner.number("a cell number");
    if (cell.number >= length) {
      scanner.failAt(line, "cell " + std::to_string(cell.number) + " is outside the register (BOUNDARY_LENGTH " +
                               std::to_string(length) + ": cells 0 to " + std::to_string(length - 1) + ")");
    }
    // Each cell may be listed at most twice; more entries than that cannot be a register.
    if (cells.size() >= 2 * static_cast<size_t>(length)) scanner.failAt(line, "more entries than twice BOUNDARY_LENGTH");
    scanner.expect('(', "after the cell number");
    cell.cellType = scanner.word("the cell's type (BC_1, ...)");
    scanner.expect(',', "after the cell's type");
    cell.port = readCellPort(scanner, ports);
    scanner.expect(',', "after the cell's port");
    cell.function = readFunction(scanner);
    scanner.expect(',', "after the cell's function");
    cell.safe = readBit(scanner, "the safe value", true);
    if (scanner.take(',')) {
      const int controlLine = scanner.line();
      cell.controlCell = scanner.number("the control cell");
      if (cell.controlCell >= length) {
        scanner.failAt(controlLine, "the control cell " + std::to_string(cell.controlCell) + " is outside the register");
      }
      scanner.expect(',', "after the control cell");
      cell.disableValue = readBit(scanner, "the disable value", false);
      scanner.expect(',', "after the disable value");
      cell.disableResult = readDisableResult(scanner);
    }
    scanner.expect(')', "after the cell's safe value or disable result");
    cells.push_back(std::move(cell));
    lines.push_back(line);
  } while (scanner.take(','));
  if (!scanner.atEnd()) scanner.failExpected("',' or the end of the value");

  // Entries by cell number, without an array as long as the register claims to be.
  std::vector<size_t> byNumber(cells.size());
  std::iota(byNumber.begin(), byNumber.end(), size_t{0});
  std::stable_sort(byNumber.begin(), byNumber.end(), [&](size_t a, size_t b) { return cells[a].number < cells[b].number; });
  checkMerges(scanner, cells, lines, byNumber);

  int expected = 0;
  for (const size_t index : byNumber) {
    if (cells[index].number > expected) break;
    expected = cells[index].number + 1;
  }
  if (expected < length) {
    scanner.failAt(lines.back(), "cell " + std::to_string(expected) + " is not described (BOUNDARY_LENGTH " +
                                     std::to_string(length) + " needs every cell from 0 to " + std::to_string(length - 1) + ")");
  }

  // An output's control cell must be one: writing its disable value is what keeps the pin off the
  // board. An output that names itself is an open-collector pin, disabled by its own value.
  for (size_t i = 0; i < cells.size(); ++i) {
    const BoundaryCell& cell = cells[i];
    if (cell.controlCell < 0 || cell.controlCell == cell.number) continue;
    const auto first = std::lower_bound(byNumber.begin(), byNumber.end(), cell.controlCell,
                                        [&](size_t index, int number) { return cells[index].number < number; });
    bool controls = false;
    for (auto it = first; it != byNumber.end() && cells[*it].number == cell.controlCell; ++it) {
      controls = controls || isControl(cells[*it].function);
    }
    if (!controls && isOutput(cell.function)) {
      scanner.failAt(lines[i], "cell " + std::to_string(cell.number) + " names cell " + std::to_string(cell.controlCell) +
                                   " as its control, which is no CONTROL or CONTROLR cell");
    }
  }
  return cells;
}

}  // namespace zorv::bsdl
