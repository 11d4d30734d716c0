#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The inside of an attribute's value. BSDL writes the long values (opcode tables, the boundary
// register) as strings joined with '&' over many lines, and gives them a grammar of their own; this
// reads that grammar's words and symbols and still knows the file line of each.
namespace zorv::bsdl {

// The strings of one value joined, with the line each came from.
class AttributeText {
 public:
  void append(const std::string& piece, int line);
  const std::string& text() const { return text_; }
  // The line of the piece that holds character offset (the last piece's line past the end).
  int lineAt(size_t offset) const;

 private:
  std::string text_;
  std::vector<std::pair<size_t, int>> pieces_;  // where each piece starts, and its line
};

class StringScanner {
 public:
  // attribute names the value in messages ("BOUNDARY_REGISTER").
  StringScanner(const AttributeText& text, const std::string& fileName, std::string attribute);

  // Whether only blanks are left.
  bool atEnd();
  // Takes the symbol if it comes next.
  bool take(char symbol);
  // Takes the symbol or fails: "expected ')' after the cell's port".
  void expect(char symbol, std::string_view where);
  // The next word (letters, digits, '_'), or fails naming what was wanted.
  std::string word(std::string_view what);
  // The next word read as a decimal number up to 2^31 - 1, or fails.
  int number(std::string_view what);
  // The line of what comes next.
  int line();

  // Throws BsdlError at the line of what comes next: "ATTRIBUTE: message".
  [[noreturn]] void fail(const std::string& message);
  // "expected WHAT, found X".
  [[noreturn]] void failExpected(std::string_view what);
  // Throws BsdlError at a line read earlier, for what only a later part of the value shows.
  [[noreturn]] void failAt(int line, const std::string& message) const;

 private:
  void skipBlanks();
  std::string found();

  const AttributeText& text_;
  const std::string& fileName_;
  std::string attribute_;
  size_t at_ = 0;
};

// A pattern of opcode or register bits: only '0', '1' and 'X' (any case).
bool isBitPattern(std::string_view text);

}  // namespace zorv::bsdl
