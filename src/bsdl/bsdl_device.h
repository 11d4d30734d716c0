#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What a device's BSDL file says about it: its ports, instructions, identification and boundary
// register, as far as boundary-scan programming needs them. The reader takes the subset device files
// use (IEEE 1149.1 BSDL); everything here is as the file gives it, nothing is checked against a chip.
namespace zorv {

enum class CellFunction { Input, Output2, Output3, Control, Controlr, Bidir, Internal, Clock, ObserveOnly };

// The function's name as BSDL writes it ("OUTPUT3", "OBSERVE_ONLY").
const char* cellFunctionName(CellFunction function);

// One entry of BOUNDARY_REGISTER. A merged cell (one cell serving an input and an output) is listed
// once per entry, both with the same number.
struct BoundaryCell {
  int number = 0;             // 0 is the cell nearest TDO
  std::string cellType;       // "BC_1", "BC_2", ... as written
  std::string port;           // "NCE", "D(3)" (upper case, index in parentheses), "*" for none
  CellFunction function = CellFunction::Internal;
  char safe = 'X';            // '0', '1' or 'X'
  int controlCell = -1;       // the cell that disables this output; -1 where none is given
  char disableValue = 'X';    // '0' or '1': the control cell's value that disables the output
  std::string disableResult;  // "Z", "WEAK0", "WEAK1", "PULL0", "PULL1", "KEEPER"
};

// A port of the entity; a bit_vector port is one entry with its range as written.
struct BsdlPort {
  std::string name;       // upper case
  std::string direction;  // "in", "out", "inout", "buffer", "linkage"
  bool isVector = false;
  int first = 0;          // bit_vector(first to last) or (first downto last)
  int last = 0;
};

// A constant of type PIN_MAP_STRING: which package pins each port is bonded to.
struct PinMapping {
  std::string port;               // upper case
  std::vector<std::string> pins;  // as written; one per bit of a bit_vector port
};
struct BsdlPinMap {
  std::string name;  // the constant's name, as written
  std::vector<PinMapping> ports;
};

// Where one port sits in the boundary register. A bidirectional cell is both the input and the output.
struct PortCells {
  const BoundaryCell* input = nullptr;    // the cell that captures the pin (INPUT, BIDIR, CLOCK, OBSERVE_ONLY)
  const BoundaryCell* output = nullptr;   // the cell that drives it (OUTPUT2, OUTPUT3, BIDIR)
  const BoundaryCell* control = nullptr;  // the control cell's entry named by the output; its disable
                                          // value and result are the output's disableValue, disableResult
};

struct BsdlInstruction {
  std::string name;                  // upper case
  std::vector<std::string> opcodes;  // as written: the rightmost character is shifted first (nearest TDO)
};

// A 32-bit code with the bits a match compares (mask bit 1); X bits in the file are 0 in the mask.
struct IdcodePattern {
  uint32_t value = 0;
  uint32_t mask = 0;
  bool matches(uint32_t code) const { return (code & mask) == (value & mask); }
};

struct BsdlDevice {
  std::string file;    // as given to the reader, for messages
  std::string entity;  // as written
  std::vector<BsdlPort> ports;
  std::vector<std::string> packages;  // of the use clauses, as written ("STD_1149_1_2001")
  std::vector<BsdlPinMap> pinMaps;
  int instructionLength = 0;
  std::vector<BsdlInstruction> instructions;
  std::string instructionCapture;  // as written, e.g. "0001" or "XX01"
  std::optional<IdcodePattern> idcode;
  std::optional<IdcodePattern> usercode;
  std::vector<std::pair<std::string, std::vector<std::string>>> registerAccess;  // register, instructions
  int boundaryLength = 0;
  std::vector<BoundaryCell> cells;  // in the order of the file
  std::vector<std::string> designWarnings;

  // Null where the file names no such instruction.
  const BsdlInstruction* instruction(std::string_view name) const;
  // Every entry of a port ("D(3)", any case), inputs, outputs and controls alike.
  std::vector<const BoundaryCell*> cellsOfPort(std::string_view port) const;
  // The port of that name (any case), without an index; null where the entity has none.
  const BsdlPort* port(std::string_view name) const;
  // The input, output and control cells of one port bit ("D(3)", "NCE"; any case).
  PortCells portCells(std::string_view port) const;
};

// A file the reader cannot take: the message names the file, the line and what was expected,
// e.g. "board.bsd:41: expected ')' after the cell's port".
class BsdlError : public std::runtime_error {
 public:
  BsdlError(const std::string& file, int line, const std::string& what)
      : std::runtime_error(file + ":" + std::to_string(line) + ": " + what), file_(file), line_(line) {}
  // A file that cannot be read at all: line 0, "board.bsd: cannot be read: no such file".
  BsdlError(const std::string& file, const std::string& what)
      : std::runtime_error(file + ": " + what), file_(file), line_(0) {}
  const std::string& file() const { return file_; }
  int line() const { return line_; }

 private:
  std::string file_;
  int line_;
};

// Reads a device from BSDL text; fileName is used in messages only. Throws BsdlError.
BsdlDevice parseBsdl(std::string_view text, const std::string& fileName);
// Reads a BSDL file. Throws BsdlError (also for a file that cannot be read).
BsdlDevice readBsdlFile(const std::string& path);

}  // namespace zorv
