#include "bsdl/bsdl_lexer.h"

#include <cctype>

#include "bsdl/bsdl_device.h"

namespace zorv::bsdl {
namespace {

bool isWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Long tokens are cut in messages, so that a line of garbage does not fill the screen.
std::string quoted(const std::string& text, char quote) {
  constexpr size_t kShown = 40;
  std::string shown(1, quote);
  shown.append(text, 0, kShown);
  if (text.size() > kShown) shown += "...";
  shown += quote;
  return shown;
}

}  // namespace

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool Token::is(std::string_view word) const { return kind == TokenKind::Word && sameName(text, word); }

std::string describe(const Token& token) {
  switch (token.kind) {
    case TokenKind::End:
      return "the end of the file";
    case TokenKind::String:
      return "the string " + quoted(token.text, '"');
    case TokenKind::Word:
      return quoted(token.text, '\'');
    case TokenKind::Symbol:
      break;
  }
  const auto c = static_cast<unsigned char>(token.text.empty() ? '\0' : token.text[0]);
  if (std::isprint(c) == 0) return "a character of code " + std::to_string(c);
  return quoted(token.text, '\'');
}

std::vector<Token> tokenize(std::string_view text, const std::string& fileName) {
  std::vector<Token> tokens;
  int line = 1;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n') {
      ++line;
      ++i;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
      ++i;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      while (i < text.size() && text[i] != '\n') ++i;  // a comment runs to the end of its line
    } else if (c == '"') {
      // VHDL strings end on the line they start on; long ones are joined with '&'.
      Token token{TokenKind::String, {}, line};
      ++i;
      for (;;) {
        if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
          throw BsdlError(fileName, line, "the string does not end on its line: expected '\"'");
        }
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            token.text += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        token.text += text[i++];
      }
      tokens.push_back(std::move(token));
    } else if (isWordCharacter(c)) {
      const size_t start = i;
      while (i < text.size() && isWordCharacter(text[i])) ++i;
      tokens.push_back({TokenKind::Word, std::string(text.substr(start, i - start)), line});
    } else if (c == ':' && i + 1 < text.size() && text[i + 1] == '=') {
      tokens.push_back({TokenKind::Symbol, ":=", line});
      i += 2;
    } else {
      tokens.push_back({TokenKind::Symbol, std::string(1, c), line});
      ++i;
    }
  }
  tokens.push_back({TokenKind::End, {}, line});
  return tokens;
}

}  // namespace zorv::bsdl
