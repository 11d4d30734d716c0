#include <gtest/gtest.h>

#include "bsdl/bsdl_device.h"
#include "bsdl_files.h"

namespace zorv {
namespace {

struct Fault {
  const char* original;     // text of hard_cases.bsd, found once
  const char* replacement;  // what the fault puts there
  int line;
  const char* message;      // after "hard.bsd:LINE: "
};

// Each row breaks the good file in one place; the reader must refuse it at the right line and say
// what it expected there.
const Fault kFaults[] = {
    {"GND: C7\";", "GND: C7;", 33, "the string does not end on its line: expected '\"'"},
    {"   Port (", "   signal x : bit; Port (", 9, "expected generic, port, use, attribute, constant or end, found 'signal'"},
    // A long word is cut in the message.
    {"   Port (", "   Port_AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA (", 9,
     "expected generic, port, use, attribute, constant or end, found 'Port_AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA...'"},
    {"Sense         : in bit", "Sense         : input bit", 16,
     "expected the port's direction (in, out, inout, buffer or linkage), found 'input'"},
    {"of HARD_CASE_CHIP", "of Other_Chip", 40, "INSTRUCTION_OPCODE is given of Other_Chip, not of the entity Hard_Case_Chip"},
    {"\"BYPASS   (11111)", "\"BYPASS   [11111]", 41,
     "INSTRUCTION_OPCODE: expected '(' before the instruction's opcodes, found '['"},
    {"\"sample   (00001)", "\"sample   (0001)", 43, "INSTRUCTION_OPCODE: '0001' has 4 bits, not the 5 of INSTRUCTION_LENGTH"},
    {"(0010X)", "(0010Z)", 47, "INSTRUCTION_OPCODE: '0010Z' is not an opcode (only 0, 1 and X)"},
    {"\"PRELOAD  (00001)", "\"SAMPLE  (00001)", 44, "INSTRUCTION_OPCODE: the instruction SAMPLE is listed twice"},
    {"   attribute instruction_length of hard_case_chip:entity is 5;\n", "", 90,
     "expected the attribute INSTRUCTION_LENGTH in the entity"},
    {"hard_case_chip:entity is 5;", "hard_case_chip:entity is 5000;", 48, "INSTRUCTION_LENGTH 5000 is not from 2 to 1024"},
    {"\"XXX01\"", "\"XXX10\"", 49, "INSTRUCTION_CAPTURE: 'XXX10' does not end in 01, as every TAP captures"},
    {"      \"1\";\n   attribute USERCODE", "      \"\";\n   attribute USERCODE", 53, "IDCODE_REGISTER: expected 32 bits, found 31"},
    {"      \"1\";\n   attribute USERCODE", "      \"0\";\n   attribute USERCODE", 53,
     "IDCODE_REGISTER: bit 0 (the last) of an IDCODE is 1, found 0"},
    {"entity is 16;", "entity is 99999999999;", 65, "BOUNDARY_LENGTH's value 99999999999 is too large"},
    {"entity is 16;", "entity is 16", 67, "expected ';' after BOUNDARY_LENGTH's value, found 'attribute'"},
    {"entity is 16;", "entity is 16; attribute BOUNDARY_LENGTH of Hard_Case_Chip : entity is 16;", 65,
     "BOUNDARY_LENGTH is given twice (first on line 65)"},
    // A register that claims a billion cells is refused for the cells it lacks, without making room for them.
    {"entity is 16;", "entity is 1000000000;", 85,
     "BOUNDARY_REGISTER: cell 16 is not described (BOUNDARY_LENGTH 1000000000 needs every cell from 0 to 999999999)"},
    {"   attribute BOUNDARY_LENGTH of Hard_Case_Chip : entity is 16;\n", "", 66, "BOUNDARY_REGISTER needs BOUNDARY_LENGTH"},
    {"      \"  1  (BC_7,  DATA(0),  BIDIR,         X,     0,     1,", "      \"  1  (BC_7,  DATA(0),  BIDIR,         X,     0,     X,",
     71, "BOUNDARY_REGISTER: expected the disable value (0 or 1), found 'X'"},
    {"      \"  4  (BC_7,  Data(2)", "      \"  4  (BC_7,  Data(4)", 74,
     "BOUNDARY_REGISTER: DATA(4) is outside the port's range 0 to 3"},
    {"      \"  4  (BC_7,  Data(2)", "      \"  4  (BC_7,  Data", 74,
     "BOUNDARY_REGISTER: the port DATA is a bit_vector: expected its bit as DATA(n)"},
    {"(BC_4,  Clk,", "(BC_4,  Clk(0),", 77, "BOUNDARY_REGISTER: the port CLK is a bit, not a bit_vector"},
    {"(BC_4,  Sense,", "(BC_4,  Sensor,", 78, "BOUNDARY_REGISTER: the entity has no port SENSOR"},
    {"OBSERVE_ONLY,  X", "OBSERVE,  X", 78,
     "BOUNDARY_REGISTER: 'OBSERVE' is not a cell function (INPUT, OUTPUT2, OUTPUT3, CONTROL, CONTROLR, BIDIR, INTERNAL, "
     "CLOCK or OBSERVE_ONLY)"},
    {"1,     10,    0,      Z)", "1,     9,    0,      Z)", 80,
     "BOUNDARY_REGISTER: cell 11 names cell 9 as its control, which is no CONTROL or CONTROLR cell"},
    {"X,     12,    1,      PULL1)", "X,     99,    1,      PULL1)", 81,
     "BOUNDARY_REGISTER: the control cell 99 is outside the register"},
    {"      \" 14  (BC_1", "      \" 16  (BC_1", 83,
     "BOUNDARY_REGISTER: cell 16 is outside the register (BOUNDARY_LENGTH 16: cells 0 to 15)"},
    {"      \" 14  (BC_1,  *,        internal,      0),\"                   &\n", "", 84,
     "BOUNDARY_REGISTER: cell 14 is not described (BOUNDARY_LENGTH 16 needs every cell from 0 to 15)"},
    {"Data(3),  INPUT,", "Data(3),  OUTPUT2,", 84,
     "BOUNDARY_REGISTER: cell 5 is listed twice as OUTPUT3 and OUTPUT2: only an input merged with an output or a control "
     "may share a cell"},
    {"CONTROL,       0)\";", "CONTROL,       0), 5 (BC_1, *, INTERNAL, X)\";", 85,
     "BOUNDARY_REGISTER: cell 5 is listed more than twice"},
    {"CONTROL,       0)\";", "CONTROL,       0\";", 85,
     "BOUNDARY_REGISTER: expected ')' after the cell's safe value or disable result, found the end of the value"},
    {"CONTROL,       0)\";", "CONTROL,       0)\x01\";", 85,
     "BOUNDARY_REGISTER: expected ',' or the end of the value, found a character of code 1"},
    {"end Hard_Case_Chip;", "end Other_Chip;", 91, "expected the entity's name Hard_Case_Chip after 'end', found 'Other_Chip'"},
    {"end Hard_Case_Chip;\n", "", 91, "expected generic, port, use, attribute, constant or end, found the end of the file"},
};

TEST(BsdlErrors, NameTheLineAndWhatWasExpected) {
  const std::string good = testing::bsdlFileText("hard_cases.bsd");
  ASSERT_NO_THROW(parseBsdl(good, "hard.bsd"));
  for (const Fault& fault : kFaults) {
    SCOPED_TRACE(fault.replacement);
    std::string text = good;
    const size_t at = text.find(fault.original);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(text.find(fault.original, at + 1), std::string::npos);
    text.replace(at, std::string(fault.original).size(), fault.replacement);
    try {
      parseBsdl(text, "hard.bsd");
      ADD_FAILURE() << "read without an error";
    } catch (const BsdlError& error) {
      EXPECT_EQ(error.line(), fault.line);
      EXPECT_EQ(error.file(), "hard.bsd");
      EXPECT_EQ(std::string(error.what()), "hard.bsd:" + std::to_string(fault.line) + ": " + fault.message);
    }
  }
  try {
    parseBsdl("", "empty.bsd");
    ADD_FAILURE() << "an empty file was read";
  } catch (const BsdlError& error) {
    EXPECT_STREQ(error.what(), "empty.bsd:1: expected 'entity' at the start of the description, found the end of the file");
  }
  // A text whose last character closes a string ends there, whatever follows it in memory.
  const std::string buffer = "entity X is attribute DESIGN_WARNING of X : entity is \"w\"\"\n; end X;";
  try {
    parseBsdl(std::string_view(buffer).substr(0, buffer.find("\"\"\n") + 1), "cut.bsd");
    ADD_FAILURE() << "a text without its end was read";
  } catch (const BsdlError& error) {
    EXPECT_STREQ(error.what(), "cut.bsd:1: expected ';' after DESIGN_WARNING's value, found the end of the file");
  }
}

TEST(BsdlErrors, AFileThatCannotBeReadIsNamed) {
  for (const std::string& path : {std::string("no/such/file.bsd"), std::string(ZORV_BSDL_FILES)}) {
    try {
      readBsdlFile(path);
      ADD_FAILURE() << path;
    } catch (const BsdlError& error) {
      EXPECT_EQ(error.line(), 0);
      EXPECT_EQ(std::string(error.what()).rfind(path + ": cannot be read", 0), 0u) << error.what();
    }
  }
}

}  // namespace
}  // namespace zorv
