#include "serial/extras/IniDocument.h"

#include <cstddef>
#include <stdexcept>

#include "serial/extras/ComStrings.h"

namespace serial {
namespace {

// The name in a section header line, if the line is one.
std::optional<std::string_view> HeaderName(std::string_view line) {
  const std::string_view trimmed = TrimText(line);
  if (trimmed.size() < 2 || trimmed.front() != '[') return std::nullopt;
  const size_t close = trimmed.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return TrimText(trimmed.substr(1, close - 1));
}

struct KeyLine {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyLine> ParseKeyLine(std::string_view line) {
  const std::string_view trimmed = TrimText(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return std::nullopt;
  if (trimmed.front() == '[') return std::nullopt;
  const size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  return KeyLine{TrimText(trimmed.substr(0, equals)), TrimText(trimmed.substr(equals + 1))};
}

bool HasLineEnd(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

TIniDocument::TIniDocument(std::string_view text) {
  if (text.empty()) return;
  const size_t firstEnd = text.find('\n');
  if (firstEnd != std::string_view::npos && firstEnd > 0 && text[firstEnd - 1] == '\r') {
    lineEnd_ = "\r\n";
  }
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

std::optional<TIniDocument::Range> TIniDocument::FindSection(std::string_view section) const {
  // Header names are read trimmed, so a name given with blanks around it must find them too.
  section = TrimText(section);
  size_t begin = 0;
  bool found = section.empty();
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto name = HeaderName(lines_[i]);
    if (!name) continue;
    if (found) return Range{begin, i};
    if (SameText(*name, section)) {
      found = true;
      begin = i;
    }
  }
  if (!found) return std::nullopt;
  return Range{begin, lines_.size()};
}

bool TIniDocument::HasSection(std::string_view section) const {
  return FindSection(section).has_value();
}

std::optional<std::string> TIniDocument::ReadString(std::string_view section,
                                                    std::string_view key) const {
  const auto range = FindSection(section);
  if (!range) return std::nullopt;
  for (size_t i = range->begin; i < range->end; ++i) {
    const auto parsed = ParseKeyLine(lines_[i]);
    if (parsed && SameText(parsed->key, key)) return std::string(parsed->value);
  }
  return std::nullopt;
}

TSettingValues TIniDocument::ReadSection(std::string_view section) const {
  TSettingValues values;
  const auto range = FindSection(section);
  if (!range) return values;
  for (size_t i = range->begin; i < range->end; ++i) {
    if (const auto parsed = ParseKeyLine(lines_[i])) {
      values.emplace_back(parsed->key, parsed->value);
    }
  }
  return values;
}

void TIniDocument::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
  // A new header gets the name as FindSection sees it: blanks around it would not read back.
  section = TrimText(section);
  const std::string_view trimmedKey = TrimText(key);
  if (HasLineEnd(section) || section.find(']') != std::string_view::npos) {
    throw std::invalid_argument("section name \"" + std::string(section) + "\" cannot be stored");
  }
  if (trimmedKey.empty() || trimmedKey != key || HasLineEnd(key) ||
      key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '#' ||
      key.front() == '[') {
    throw std::invalid_argument("key \"" + std::string(key) + "\" cannot be stored");
  }
  if (HasLineEnd(value) || TrimText(value) != value) {
    throw std::invalid_argument("value \"" + std::string(value) + "\" of " + std::string(key) +
                                " cannot be stored");
  }
  std::string line = std::string(key) + "=" + std::string(value);

  auto range = FindSection(section);
  if (!range) {
    if (!lines_.empty() && !TrimText(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::move(line));
    return;
  }
  for (size_t i = range->begin; i < range->end; ++i) {
    const auto parsed = ParseKeyLine(lines_[i]);
    if (parsed && SameText(parsed->key, key)) {
      lines_[i] = std::move(line);
      return;
    }
  }
  // After the section's last non-blank line, so the blank line before the next header stays.
  size_t at = range->end;
  while (at > range->begin && TrimText(lines_[at - 1]).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

std::string TIniDocument::Text() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += lineEnd_;
  }
  return text;
}

}  // namespace serial
