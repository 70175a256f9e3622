#pragma once
/// \file
/// An INI file held as its lines, so that writing a few keys keeps everything else in it as it
/// was: other sections, unknown keys, comments, blank lines and the file's line ends. Sections and
/// keys are found ignoring case, and a section's name ignoring blanks around it; the first of
/// duplicates is the one read and written. The section named "" is the part before the first
/// section header and is always there.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include "../../platform/Export.h"

namespace serial {

/// Keys and their values in the order they were read or are to be written.
using TSettingValues = std::vector<std::pair<std::string, std::string>>;

/// An INI file's lines, read and written by section and key; see the file's description.
class VALTREX_API TIniDocument {
 public:
  /// An empty document: only the section named "".
  TIniDocument() = default;
  /// The document a file's text makes; its line ends (LF or CR LF, by the first line) are kept.
  explicit TIniDocument(std::string_view text);

  /// Whether the section is there.
  bool HasSection(std::string_view section) const;
  /// The key's value, without blanks around it; none when the section or the key is not there.
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;
  /// Every key of the section with its value; empty for a section not there.
  TSettingValues ReadSection(std::string_view section) const;
  /// Replaces the key's value where it stands, or adds the key at the end of its section, or the
  /// section at the end of the file. Raises std::invalid_argument for a section, key or value
  /// that the file could not give back as it was written (a line end in it, a key with "=").
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  /// The file's text, every line ended as the file's lines end.
  std::string Text() const;

 private:
  struct Range {
    size_t begin;  // the header line, or 0 for ""
    size_t end;    // one past the section's last line
  };
  std::optional<Range> FindSection(std::string_view section) const;

  std::vector<std::string> lines_;
  std::string lineEnd_ = "\n";
};

}  // namespace serial
