#include "cable_choice/cable_form.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace zorv {
namespace {

constexpr CableField kAllAfterTheName{"Options", nullptr, 0, ""};

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

std::string join(const std::vector<std::string>& parts, size_t first, size_t last) {
  std::string text;
  for (size_t i = first; i < last; ++i) {
    if (i > first) text += ':';
    text += parts[i];
  }
  return text;
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::vector<CableField> cableFormFields(const CableKind& kind) {
  if (kind.fields.empty()) return {kAllAfterTheName};
  return {kind.fields.begin(), kind.fields.end()};
}

std::vector<std::string> cableFieldValues(const CableKind& kind, const std::string& cableText) {
  const std::string name = kind.name;
  const std::string after = cableText.rfind(name, 0) == 0 ? cableText.substr(name.size()) : std::string();
  if (kind.fields.empty()) return {!after.empty() && after[0] == ':' ? after.substr(1) : after};

  std::vector<std::string> values(kind.fields.size());
  const size_t colon = after.find(':');
  const std::vector<std::string> options = split(after.substr(0, colon), ',');
  for (size_t o = 1; o < options.size(); ++o) {  // options[0] is what stands between the name and its first comma
    const size_t equals = options[o].find('=');
    for (size_t f = 0; f < kind.fields.size(); ++f) {
      if (kind.fields[f].key != nullptr && options[o].substr(0, equals) == kind.fields[f].key)
        values[f] = equals == std::string::npos ? std::string() : options[o].substr(equals + 1);
    }
  }
  if (colon == std::string::npos) return values;

  // The parts after the colon: those before the one that takes the rest count from the left, those
  // after it from the right.
  const std::vector<std::string> pieces = split(after.substr(colon + 1), ':');
  std::vector<size_t> positional;
  for (size_t f = 0; f < kind.fields.size(); ++f)
    if (kind.fields[f].key == nullptr) positional.push_back(f);
  const auto rest = std::find_if(positional.begin(), positional.end(),
                                 [&](size_t f) { return kind.fields[f].pieces == 0; });
  size_t left = 0;
  size_t right = pieces.size();
  for (auto it = positional.end(); rest != positional.end() && it != rest + 1;) {
    --it;
    const size_t take = std::min(static_cast<size_t>(kind.fields[*it].pieces), right - left);
    values[*it] = join(pieces, right - take, right);
    right -= take;
  }
  for (auto it = positional.begin(); it != rest && it != positional.end(); ++it) {
    const size_t take = std::min(static_cast<size_t>(kind.fields[*it].pieces), right - left);
    values[*it] = join(pieces, left, left + take);
    left += take;
  }
  if (rest != positional.end()) values[*rest] = join(pieces, left, right);
  return values;
}

std::string composeCableText(const CableKind& kind, const std::vector<std::string>& values) {
  std::string text = kind.name;
  const auto value = [&](size_t i) { return i < values.size() ? trimmed(values[i]) : std::string(); };
  if (kind.fields.empty()) {
    const std::string all = value(0);
    if (all.empty()) return text;
    if (all[0] != ':' && all[0] != ',') text += ':';
    return text + all;
  }
  std::vector<std::string> positional;
  for (size_t f = 0; f < kind.fields.size(); ++f) {
    if (kind.fields[f].key == nullptr) {
      positional.push_back(value(f));
    } else if (!value(f).empty()) {
      text += ',';
      text += kind.fields[f].key;
      text += '=';
      text += value(f);
    }
  }
  while (!positional.empty() && positional.back().empty()) positional.pop_back();
  if (!positional.empty()) {
    text += ':';
    text += join(positional, 0, positional.size());
  }
  return text;
}

}  // namespace zorv
