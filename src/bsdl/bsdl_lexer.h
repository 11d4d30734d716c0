#pragma once

#include <string>
#include <string_view>
#include <vector>

// The words of a BSDL file as VHDL spells them, each with the line it starts on. The reader's grammar
// works on these and never on characters, so that comments, line ends (LF or CRLF) and letter case
// are dealt with in one place.
namespace zorv::bsdl {

enum class TokenKind {
  Word,    // letters, digits and '_' ("entity", "BC_1", "0101", "10"); VHDL's identifiers and numbers
  String,  // a string literal, without its quotes ("" inside stands for one quote)
  Symbol,  // any other single character, or ":="
  End,     // after the last token
};

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;
  int line = 1;

  bool is(std::string_view word) const;  // a word equal to this one in any case
  bool isSymbol(std::string_view symbol) const { return kind == TokenKind::Symbol && text == symbol; }
};

// How a token reads in a message: "'entity'", "the string \"...\"", "the end of the file".
std::string describe(const Token& token);

// The tokens of a file, ending with one End token. Throws BsdlError for a string that does not end on
// its line.
std::vector<Token> tokenize(std::string_view text, const std::string& fileName);

// Compares two names the way BSDL does: letters in any case.
bool sameName(std::string_view a, std::string_view b);

}  // namespace zorv::bsdl
