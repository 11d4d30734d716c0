#include "bsdl/bsdl_string_scanner.h"

#include <cctype>
#include <climits>

#include "bsdl/bsdl_device.h"
#include "text/format.h"

namespace zorv::bsdl {
namespace {

bool isWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

void AttributeText::append(const std::string& piece, int line) {
  pieces_.emplace_back(text_.size(), line);
  text_ += piece;
}

int AttributeText::lineAt(size_t offset) const {
  int line = pieces_.empty() ? 1 : pieces_.front().second;
  for (const auto& [start, pieceLine] : pieces_) {
    if (start > offset) break;
    line = pieceLine;
  }
  return line;
}

StringScanner::StringScanner(const AttributeText& text, const std::string& fileName, std::string attribute)
    : text_(text), fileName_(fileName), attribute_(std::move(attribute)) {}

void StringScanner::skipBlanks() {
  while (at_ < text_.text().size() && isBlank(text_.text()[at_])) ++at_;
}

bool StringScanner::atEnd() {
  skipBlanks();
  return at_ == text_.text().size();
}

int StringScanner::line() {
  skipBlanks();
  return text_.lineAt(at_);
}

bool StringScanner::take(char symbol) {
  skipBlanks();
  if (at_ < text_.text().size() && text_.text()[at_] == symbol) {
    ++at_;
    return true;
  }
  return false;
}

void StringScanner::expect(char symbol, std::string_view where) {
  if (!take(symbol)) failExpected(format("'%c' %.*s", symbol, static_cast<int>(where.size()), where.data()));
}

std::string StringScanner::word(std::string_view what) {
  skipBlanks();
  const std::string& text = text_.text();
  const size_t start = at_;
  while (at_ < text.size() && isWordCharacter(text[at_])) ++at_;
  if (at_ == start) failExpected(what);
  return text.substr(start, at_ - start);
}

int StringScanner::number(std::string_view what) {
  const size_t start = at_;
  const std::string digits = word(what);
  long long value = 0;
  for (const char c : digits) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
      at_ = start;
      failExpected(what);
    }
    value = value * 10 + (c - '0');
    if (value > INT_MAX) {
      at_ = start;
      fail(std::string(what) + " " + digits + " is too large");
    }
  }
  return static_cast<int>(value);
}

std::string StringScanner::found() {
  skipBlanks();
  const std::string& text = text_.text();
  if (at_ == text.size()) return "the end of the value";
  const auto c = static_cast<unsigned char>(text[at_]);
  if (!isWordCharacter(text[at_]) && std::isprint(c) == 0) return format("a character of code %u", unsigned{c});
  size_t end = at_ + 1;
  while (isWordCharacter(text[at_]) && end < text.size() && end - at_ < 40 && isWordCharacter(text[end])) ++end;
  return format("'%s'", text.substr(at_, end - at_).c_str());
}

void StringScanner::fail(const std::string& message) { throw BsdlError(fileName_, line(), attribute_ + ": " + message); }

void StringScanner::failAt(int line, const std::string& message) const {
  throw BsdlError(fileName_, line, attribute_ + ": " + message);
}

void StringScanner::failExpected(std::string_view what) { fail("expected " + std::string(what) + ", found " + found()); }

bool isBitPattern(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c != '0' && c != '1' && c != 'X' && c != 'x') return false;
  }
  return true;
}

}  // namespace zorv::bsdl
