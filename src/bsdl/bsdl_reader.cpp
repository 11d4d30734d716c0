#include <algorithm>
#include <cctype>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "bsdl/bsdl_device.h"
#include "bsdl/bsdl_grammar.h"
#include "bsdl/bsdl_lexer.h"
#include "text/upper_case.h"

// The entity around the attributes: its name, generic, port list, use clauses, attributes and
// constants, in the order VHDL allows (IEEE 1149.1's BSDL is a subset of VHDL). The values of the
// attributes the program uses are kept as they stand and read once the whole entity is known, so
// that their order in the file does not matter.
namespace zorv {
namespace {

using bsdl::AttributeText;
using bsdl::describe;
using bsdl::sameName;
using bsdl::StringScanner;
using bsdl::Token;
using bsdl::TokenKind;

// No device has an instruction register anywhere near this long; a larger INSTRUCTION_LENGTH is a
// broken file, and refusing it keeps every scan built from it small.
constexpr int kLongestInstructionRegister = 1024;
// BSDL files of the largest devices run to a few megabytes.
constexpr uintmax_t kLargestFile = 64u << 20;

// The attributes the program uses. Any other attribute is passed over.
constexpr const char* kKnownAttributes[] = {
    "INSTRUCTION_LENGTH", "INSTRUCTION_OPCODE", "INSTRUCTION_CAPTURE", "IDCODE_REGISTER", "USERCODE_REGISTER",
    "REGISTER_ACCESS",    "BOUNDARY_LENGTH",    "BOUNDARY_REGISTER",   "DESIGN_WARNING",
};

bool isKnownAttribute(const std::string& upperName) {
  return std::any_of(std::begin(kKnownAttributes), std::end(kKnownAttributes),
                     [&](const char* name) { return upperName == name; });
}

// The value of one attribute, as it stands in the file.
struct RawValue {
  int line = 0;        // of the attribute's name
  int valueLine = 0;   // where its value starts
  int number = 0;      // INSTRUCTION_LENGTH, BOUNDARY_LENGTH
  AttributeText text;  // a string value
};

class EntityReader {
 public:
  EntityReader(std::vector<Token> tokens, const std::string& fileName) : tokens_(std::move(tokens)), file_(fileName) {}

  BsdlDevice read() {
    device_.file = file_;
    expectWord("entity", "at the start of the description");
    device_.entity = name("the entity's name");
    expectWord("is", "after the entity's name");
    while (!readStatement()) {
    }
    interpretAttributes();
    return std::move(device_);
  }

 private:
  const Token& peek() const { return tokens_[at_]; }
  const Token& next() {
    const Token& token = tokens_[at_];
    if (token.kind != TokenKind::End) ++at_;
    return token;
  }
  [[noreturn]] void fail(const Token& token, const std::string& message) const {
    throw BsdlError(file_, token.line, message);
  }
  [[noreturn]] void failExpected(const std::string& what) const {
    fail(peek(), "expected " + what + ", found " + describe(peek()));
  }
  void expectWord(std::string_view word, const std::string& where) {
    if (!peek().is(word)) failExpected("'" + std::string(word) + "' " + where);
    next();
  }
  // Takes the symbol if it comes next.
  bool take(std::string_view symbol) {
    if (!peek().isSymbol(symbol)) return false;
    next();
    return true;
  }
  void expectSymbol(std::string_view symbol, const std::string& where) {
    if (!peek().isSymbol(symbol)) failExpected("'" + std::string(symbol) + "' " + where);
    next();
  }
  // A VHDL identifier: a word that starts with a letter.
  std::string name(const std::string& what) {
    const Token& token = peek();
    if (token.kind != TokenKind::Word || std::isalpha(static_cast<unsigned char>(token.text[0])) == 0) failExpected(what);
    return next().text;
  }
  int number(const std::string& what) {
    const Token& token = peek();
    if (token.kind != TokenKind::Word ||
        !std::all_of(token.text.begin(), token.text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      failExpected(what);
    }
    long long value = 0;
    for (const char c : token.text) {
      value = value * 10 + (c - '0');
      if (value > INT_MAX) fail(token, what + " " + token.text + " is too large");
    }
    next();
    return static_cast<int>(value);
  }
  // Passes over everything up to the ';' that ends a statement, parentheses and all.
  void skipStatement(const std::string& what) {
    int depth = 0;
    for (;;) {
      const Token& token = peek();
      if (token.kind == TokenKind::End) failExpected("';' to end " + what);
      next();
      if (token.isSymbol("(")) ++depth;
      if (token.isSymbol(")")) --depth;
      if (token.isSymbol(";") && depth <= 0) return;
    }
  }
  // Strings joined with '&'.
  AttributeText strings(const std::string& what) {
    AttributeText text;
    do {
      if (peek().kind != TokenKind::String) failExpected(what);
      const Token& token = next();
      text.append(token.text, token.line);
    } while (take("&"));
    return text;
  }

  // One statement of the entity; true after its end.
  bool readStatement() {
    const Token& token = peek();
    if (token.is("generic")) {
      next();
      skipStatement("the generic clause");
    } else if (token.is("port")) {
      next();
      readPorts();
    } else if (token.is("use")) {
      next();
      device_.packages.push_back(name("a package's name"));
      expectSymbol(".", "after the package's name");
      expectWord("all", "after the package's name and '.'");
      expectSymbol(";", "after the use clause");
    } else if (token.is("attribute")) {
      next();
      readAttribute();
    } else if (token.is("constant")) {
      next();
      readConstant();
    } else if (token.is("end")) {
      endLine_ = next().line;
      if (peek().is("entity")) next();
      if (peek().kind == TokenKind::Word) {
        if (!sameName(peek().text, device_.entity)) failExpected("the entity's name " + device_.entity + " after 'end'");
        next();
      }
      expectSymbol(";", "after 'end'");
      return true;
    } else {
      failExpected("generic, port, use, attribute, constant or end");
    }
    return false;
  }

  // port (A, B : in bit; D : inout bit_vector(0 to 7); ...);
  void readPorts() {
    expectSymbol("(", "after 'port'");
    do {
      std::vector<BsdlPort> group;
      do {
        const Token& at = peek();
        BsdlPort port;
        port.name = upperCase(name("a port's name"));
        const bool known = std::any_of(device_.ports.begin(), device_.ports.end(),
                                       [&](const BsdlPort& p) { return p.name == port.name; }) ||
                           std::any_of(group.begin(), group.end(), [&](const BsdlPort& p) { return p.name == port.name; });
        if (known) fail(at, "the port " + port.name + " is declared twice");
        group.push_back(std::move(port));
      } while (take(","));
      expectSymbol(":", "after the port's name");
      std::string direction;
      for (const char* d : {"in", "out", "inout", "buffer", "linkage"}) {
        if (peek().is(d)) direction = d;
      }
      if (direction.empty()) failExpected("the port's direction (in, out, inout, buffer or linkage)");
      next();
      bool isVector = false;
      int first = 0;
      int last = 0;
      if (peek().is("bit_vector")) {
        next();
        isVector = true;
        expectSymbol("(", "after 'bit_vector'");
        first = number("the first bit of the range");
        if (peek().is("to") || peek().is("downto")) {
          next();
        } else {
          failExpected("'to' or 'downto'");
        }
        last = number("the last bit of the range");
        expectSymbol(")", "after the range");
      } else {
        expectWord("bit", "or 'bit_vector' after the direction");
      }
      for (BsdlPort& port : group) {
        port.direction = direction;
        port.isVector = isVector;
        port.first = first;
        port.last = last;
        device_.ports.push_back(std::move(port));
      }
    } while (take(";"));
    expectSymbol(")", "or ';' after the port's type");
    expectSymbol(";", "after the port list");
  }

  // attribute NAME of ENTITY : entity is VALUE;   or a declaration, attribute NAME : TYPE;
  void readAttribute() {
    const Token& nameToken = peek();
    const std::string attribute = upperCase(name("the attribute's name"));
    if (peek().isSymbol(":")) {
      skipStatement("the attribute's declaration");
      return;
    }
    expectWord("of", "after the attribute's name");
    const Token& target = peek();
    name("what the attribute is of");
    expectSymbol(":", "after what the attribute is of");
    const bool ofEntity = peek().is("entity");
    if (!ofEntity || !isKnownAttribute(attribute)) {
      skipStatement("the attribute " + attribute);
      return;
    }
    if (!sameName(target.text, device_.entity)) {
      fail(target, attribute + " is given of " + target.text + ", not of the entity " + device_.entity);
    }
    next();
    expectWord("is", "after 'entity'");
    if (const auto earlier = attributes_.find(attribute); earlier != attributes_.end()) {
      fail(nameToken, attribute + " is given twice (first on line " + std::to_string(earlier->second.line) + ")");
    }
    RawValue value;
    value.line = nameToken.line;
    value.valueLine = peek().line;
    if (attribute == "INSTRUCTION_LENGTH" || attribute == "BOUNDARY_LENGTH") {
      value.number = number(attribute + "'s value");
    } else {
      value.text = strings(attribute + "'s value, a string");
    }
    expectSymbol(";", "after " + attribute + "'s value");
    attributes_.emplace(attribute, std::move(value));
  }

  // constant NAME : PIN_MAP_STRING := "..." & "...";  other constants are passed over.
  void readConstant() {
    const std::string constant = name("the constant's name");
    expectSymbol(":", "after the constant's name");
    if (!peek().is("PIN_MAP_STRING")) {
      skipStatement("the constant " + constant);
      return;
    }
    next();
    expectSymbol(":=", "after PIN_MAP_STRING");
    const AttributeText text = strings("the pin map, a string");
    expectSymbol(";", "after the pin map");
    StringScanner scanner(text, file_, constant);
    device_.pinMaps.push_back({constant, bsdl::readPinMap(scanner)});
  }

  const RawValue* attribute(const char* name) const {
    const auto found = attributes_.find(name);
    return found == attributes_.end() ? nullptr : &found->second;
  }

  void interpretAttributes() {
    const RawValue* length = attribute("INSTRUCTION_LENGTH");
    if (length == nullptr) throw BsdlError(file_, endLine_, "expected the attribute INSTRUCTION_LENGTH in the entity");
    if (length->number < 2 || length->number > kLongestInstructionRegister) {
      throw BsdlError(file_, length->valueLine,
                      "INSTRUCTION_LENGTH " + std::to_string(length->number) + " is not from 2 to " +
                          std::to_string(kLongestInstructionRegister));
    }
    device_.instructionLength = length->number;
    if (const RawValue* opcodes = attribute("INSTRUCTION_OPCODE")) {
      StringScanner scanner(opcodes->text, file_, "INSTRUCTION_OPCODE");
      device_.instructions = bsdl::readOpcodeTable(scanner, device_.instructionLength);
    }
    if (const RawValue* capture = attribute("INSTRUCTION_CAPTURE")) {
      StringScanner scanner(capture->text, file_, "INSTRUCTION_CAPTURE");
      device_.instructionCapture = bsdl::readCapturePattern(scanner, device_.instructionLength);
    }
    if (const RawValue* idcode = attribute("IDCODE_REGISTER")) {
      StringScanner scanner(idcode->text, file_, "IDCODE_REGISTER");
      device_.idcode = bsdl::readCodeRegister(scanner, true);
    }
    if (const RawValue* usercode = attribute("USERCODE_REGISTER")) {
      StringScanner scanner(usercode->text, file_, "USERCODE_REGISTER");
      device_.usercode = bsdl::readCodeRegister(scanner, false);
    }
    if (const RawValue* access = attribute("REGISTER_ACCESS")) {
      StringScanner scanner(access->text, file_, "REGISTER_ACCESS");
      device_.registerAccess = bsdl::readRegisterAccess(scanner);
    }
    const RawValue* boundaryLength = attribute("BOUNDARY_LENGTH");
    const RawValue* boundary = attribute("BOUNDARY_REGISTER");
    if ((boundaryLength == nullptr) != (boundary == nullptr)) {
      const RawValue* given = boundary != nullptr ? boundary : boundaryLength;
      throw BsdlError(file_, given->line,
                      boundary != nullptr ? "BOUNDARY_REGISTER needs BOUNDARY_LENGTH" : "BOUNDARY_LENGTH needs BOUNDARY_REGISTER");
    }
    if (boundary != nullptr) {
      if (boundaryLength->number < 1) throw BsdlError(file_, boundaryLength->valueLine, "BOUNDARY_LENGTH must be at least 1");
      device_.boundaryLength = boundaryLength->number;
      StringScanner scanner(boundary->text, file_, "BOUNDARY_REGISTER");
      device_.cells = bsdl::readBoundaryRegister(scanner, device_.boundaryLength, device_.ports);
    }
    if (const RawValue* warning = attribute("DESIGN_WARNING")) device_.designWarnings.push_back(warning->text.text());
  }

  std::vector<Token> tokens_;
  size_t at_ = 0;
  int endLine_ = 0;
  const std::string& file_;
  BsdlDevice device_;
  std::map<std::string, RawValue> attributes_;
};

}  // namespace

BsdlDevice parseBsdl(std::string_view text, const std::string& fileName) {
  return EntityReader(bsdl::tokenize(text, fileName), fileName).read();
}

BsdlDevice readBsdlFile(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (error || !std::filesystem::exists(status)) throw BsdlError(path, "cannot be read: no such file");
  if (!std::filesystem::is_regular_file(status)) throw BsdlError(path, "cannot be read: not a regular file");
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (!error && size > kLargestFile) throw BsdlError(path, "is larger than 64 MiB: not a BSDL file");
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  if (!file || !(text << file.rdbuf()) || text.str().size() > kLargestFile) {
    throw BsdlError(path, "cannot be read");
  }
  return parseBsdl(text.str(), path);
}

}  // namespace zorv
