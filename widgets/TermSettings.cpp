#include "widgets/TermSettings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>

#include "serial/extras/ComStrings.h"
#include "widgets/emulation/TermScreen.h"

namespace widgets {
namespace {

constexpr int kMaxFontSize = 144;

constexpr std::array<const char*, 4> kEmulations = {"VT52", "VT100", "ANSI", "Plain"};
constexpr std::array<const char*, 3> kLineEnds = {"AsIs", "CRLF", "LF"};

std::string BoolToText(bool value) {
  return value ? "True" : "False";
}

bool TextToBool(std::string_view text) {
  const std::string_view t = serial::TrimText(text);
  for (const char* yes : {"true", "yes", "on", "1"}) {
    if (serial::SameText(t, yes)) return true;
  }
  for (const char* no : {"false", "no", "off", "0"}) {
    if (serial::SameText(t, no)) return false;
  }
  throw serial::EComConvert("truth value", std::string(text));
}

int TextToInt(std::string_view text, int low, int high) {
  const std::string_view t = serial::TrimText(text);
  long long value = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || error != std::errc() || end != t.data() + t.size()) {
    throw serial::EComConvert("whole number", std::string(text));
  }
  return static_cast<int>(std::clamp<long long>(value, low, high));
}

using S = TTermSettings;
struct Key {
  const char* name;
  std::string (*store)(const S&);
  void (*load)(S&, std::string_view);
};

const std::array<Key, 10> kKeys = {{
    {"Emulation", [](const S& s) { return EmulationToStr(s.Emulation); },
     [](S& s, std::string_view t) { s.Emulation = StrToEmulation(t); }},
    {"Columns", [](const S& s) { return std::to_string(s.Columns); },
     [](S& s, std::string_view t) { s.Columns = TextToInt(t, 1, TTermScreen::kMaxColumns); }},
    {"Rows", [](const S& s) { return std::to_string(s.Rows); },
     [](S& s, std::string_view t) { s.Rows = TextToInt(t, 1, TTermScreen::kMaxRows); }},
    {"LocalEcho", [](const S& s) { return BoolToText(s.LocalEcho); },
     [](S& s, std::string_view t) { s.LocalEcho = TextToBool(t); }},
    {"SendLineEnd", [](const S& s) { return LineEndToStr(s.SendLineEnd); },
     [](S& s, std::string_view t) { s.SendLineEnd = StrToLineEnd(t); }},
    {"ReceiveLineEnd", [](const S& s) { return LineEndToStr(s.ReceiveLineEnd); },
     [](S& s, std::string_view t) { s.ReceiveLineEnd = StrToLineEnd(t); }},
    {"WrapLines", [](const S& s) { return BoolToText(s.WrapLines); },
     [](S& s, std::string_view t) { s.WrapLines = TextToBool(t); }},
    {"ScrollBack", [](const S& s) { return std::to_string(s.ScrollBack); },
     [](S& s, std::string_view t) { s.ScrollBack = TextToInt(t, 0, TTermScreen::kMaxHistory); }},
    {"FontName", [](const S& s) { return s.FontName; },
     [](S& s, std::string_view t) { s.FontName = std::string(serial::TrimText(t)); }},
    {"FontSize", [](const S& s) { return std::to_string(s.FontSize); },
     [](S& s, std::string_view t) { s.FontSize = TextToInt(t, 1, kMaxFontSize); }},
}};

template <size_t N>
size_t Find(const std::array<const char*, N>& names, std::string_view text, const char* what) {
  const std::string_view t = serial::TrimText(text);
  for (size_t i = 0; i < N; ++i) {
    if (serial::SameText(t, names[i])) return i;
  }
  throw serial::EComConvert(what, std::string(text));
}

}  // namespace

std::string EmulationToStr(TTermEmulation value) {
  return value < kEmulations.size() ? kEmulations[value] : "";
}

TTermEmulation StrToEmulation(std::string_view text) {
  return static_cast<TTermEmulation>(Find(kEmulations, text, "emulation"));
}

std::string LineEndToStr(TTermLineEnd value) {
  return value < kLineEnds.size() ? kLineEnds[value] : "";
}

TTermLineEnd StrToLineEnd(std::string_view text) {
  // The other spellings people write read too; what is stored is always the one above.
  const std::string_view t = serial::TrimText(text);
  if (serial::SameText(t, "As is")) return tlAsIs;
  if (serial::SameText(t, "CR+LF")) return tlCRLF;
  return static_cast<TTermLineEnd>(Find(kLineEnds, text, "line end"));
}

serial::TSettingValues TermSettingsToValues(const TTermSettings& settings) {
  serial::TSettingValues values;
  for (const Key& key : kKeys) values.emplace_back(key.name, key.store(settings));
  return values;
}

void ValuesToTermSettings(const serial::TSettingValues& values, TTermSettings& settings) {
  TTermSettings read = settings;
  // The first of duplicate keys counts, as it does for the file's reader.
  for (const Key& key : kKeys) {
    for (const auto& [name, text] : values) {
      if (!serial::SameText(name, key.name)) continue;
      try {
        key.load(read, text);
      } catch (const serial::EComConvert& e) {
        throw serial::EComConvert(key.name, text, std::string(key.name) + ": " + e.what());
      }
      break;
    }
  }
  settings = read;
}

}  // namespace widgets
