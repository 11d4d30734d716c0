#include <cctype>

#include "bsdl/bsdl_grammar.h"
#include "bsdl/bsdl_lexer.h"
#include "text/upper_case.h"

// The values that describe the instruction register, the identification registers and which
// register each instruction selects.
namespace zorv::bsdl {
namespace {

// A name as BSDL spells one: a letter first.
std::string readName(StringScanner& scanner, std::string_view what) {
  const int line = scanner.line();
  std::string name = scanner.word(what);
  if (std::isalpha(static_cast<unsigned char>(name[0])) == 0) {
    scanner.failAt(line, "expected " + std::string(what) + ", found '" + name + "'");
  }
  return name;
}

std::string readPattern(StringScanner& scanner, int length, std::string_view what) {
  const int line = scanner.line();
  std::string bits = scanner.word(what);
  if (!isBitPattern(bits)) scanner.failAt(line, "'" + bits + "' is not " + std::string(what) + " (only 0, 1 and X)");
  if (static_cast<int>(bits.size()) != length) {
    scanner.failAt(line, "'" + bits + "' has " + std::to_string(bits.size()) + " bits, not the " +
                             std::to_string(length) + " of INSTRUCTION_LENGTH");
  }
  return bits;
}

void expectEnd(StringScanner& scanner) {
  if (!scanner.atEnd()) scanner.failExpected("',' or the end of the value");
}

}  // namespace

std::vector<BsdlInstruction> readOpcodeTable(StringScanner& scanner, int instructionLength) {
  std::vector<BsdlInstruction> instructions;
  do {
    const int line = scanner.line();
    BsdlInstruction instruction{upperCase(readName(scanner, "an instruction's name")), {}};
    for (const BsdlInstruction& earlier : instructions) {
      if (earlier.name == instruction.name) scanner.failAt(line, "the instruction " + instruction.name + " is listed twice");
    }
    scanner.expect('(', "before the instruction's opcodes");
    do {
      instruction.opcodes.push_back(readPattern(scanner, instructionLength, "an opcode"));
    } while (scanner.take(','));
    scanner.expect(')', "after the instruction's opcodes");
    instructions.push_back(std::move(instruction));
  } while (scanner.take(','));
  expectEnd(scanner);
  return instructions;
}

std::string readCapturePattern(StringScanner& scanner, int instructionLength) {
  const int line = scanner.line();
  std::string bits = readPattern(scanner, instructionLength, "the captured pattern");
  // IEEE 1149.1: Capture-IR loads 01 into the two bits nearest TDO, whatever the rest.
  if (bits.substr(bits.size() - 2) != "01") scanner.failAt(line, "'" + bits + "' does not end in 01, as every TAP captures");
  expectEnd(scanner);
  return bits;
}

IdcodePattern readCodeRegister(StringScanner& scanner, bool isIdcode) {
  const int line = scanner.line();
  // Files join the fields with '&' and sometimes set them apart with blanks: read every word.
  std::string bits;
  do {
    const int wordLine = scanner.line();
    const std::string word = scanner.word("32 bits of 0, 1 and X");
    if (!isBitPattern(word)) scanner.failAt(wordLine, "'" + word + "' is not a run of 0, 1 and X");
    bits += word;
    if (bits.size() > 32) break;
  } while (!scanner.atEnd());
  if (bits.size() != 32) scanner.failAt(line, "expected 32 bits, found " + std::string(bits.size() > 32 ? "more" : std::to_string(bits.size())));
  if (isIdcode && bits[31] != '1') scanner.failAt(line, "bit 0 (the last) of an IDCODE is 1, found " + std::string(1, bits[31]));
  IdcodePattern pattern;
  for (int i = 0; i < 32; ++i) {
    const uint32_t bit = uint32_t{1} << (31 - i);
    if (bits[i] == '1') pattern.value |= bit;
    if (bits[i] == '0' || bits[i] == '1') pattern.mask |= bit;
  }
  return pattern;
}

std::vector<std::pair<std::string, std::vector<std::string>>> readRegisterAccess(StringScanner& scanner) {
  std::vector<std::pair<std::string, std::vector<std::string>>> access;
  do {
    std::string name = upperCase(readName(scanner, "a register's name"));
    if (scanner.take('[')) {
      scanner.number("the register's length");
      scanner.expect(']', "after the register's length");
    }
    scanner.expect('(', "before the register's instructions");
    std::vector<std::string> instructions;
    do {
      instructions.push_back(upperCase(readName(scanner, "an instruction's name")));
      // IEEE 1149.1-2013 may say what the register captures: "INSTRUCTION CAPTURES bits".
      if (scanner.take(')')) break;
      const int line = scanner.line();
      if (scanner.take(',')) continue;
      const std::string word = scanner.word("',' or ')' after the instruction");
      if (!sameName(word, "CAPTURES")) scanner.failAt(line, "expected ',' or ')' after the instruction, found '" + word + "'");
      const int bitsLine = scanner.line();
      if (!isBitPattern(scanner.word("the captured bits"))) scanner.failAt(bitsLine, "expected the captured bits (0, 1 and X)");
      if (scanner.take(')')) break;
      scanner.expect(',', "or ')' after the captured bits");
    } while (true);
    access.emplace_back(std::move(name), std::move(instructions));
  } while (scanner.take(','));
  expectEnd(scanner);
  return access;
}

std::vector<PinMapping> readPinMap(StringScanner& scanner) {
  std::vector<PinMapping> ports;
  if (scanner.atEnd()) return ports;
  do {
    PinMapping mapping{upperCase(readName(scanner, "a port's name")), {}};
    scanner.expect(':', "after the port's name");
    if (scanner.take('(')) {
      do {
        mapping.pins.push_back(scanner.word("a pin"));
      } while (scanner.take(','));
      scanner.expect(')', "after the port's pins");
    } else {
      mapping.pins.push_back(scanner.word("a pin"));
    }
    ports.push_back(std::move(mapping));
  } while (scanner.take(','));
  expectEnd(scanner);
  return ports;
}

}  // namespace zorv::bsdl
