#include "tools/term/WindowSettings.h"

#include <array>
#include <cstdlib>

#include "serial/extras/ComStrings.h"

namespace term {
namespace {

constexpr std::array<const char*, 4> kLineEndTexts = {"AsIs", "CR", "LF", "CRLF"};
constexpr std::array<std::string_view, 4> kLineEndBytes = {"", "\r", "\n", "\r\n"};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The truth values the terminal control's settings read, read the same way here.
bool TextToBool(const std::string& key, std::string_view text) {
  const std::string_view t = serial::TrimText(text);
  for (const char* yes : {"true", "yes", "on", "1"}) {
    if (serial::SameText(t, yes)) return true;
  }
  for (const char* no : {"false", "no", "off", "0"}) {
    if (serial::SameText(t, no)) return false;
  }
  throw serial::EComConvert(key, std::string(text));
}

}  // namespace

std::string LineEndToStr(TLineEnd value) {
  return value <= leCRLF ? kLineEndTexts[value] : "";
}

TLineEnd StrToLineEnd(std::string_view text) {
  const std::string_view t = serial::TrimText(text);
  if (serial::SameText(t, "As is")) return leAsIs;
  if (serial::SameText(t, "CR+LF")) return leCRLF;
  for (size_t i = 0; i < kLineEndTexts.size(); ++i) {
    if (serial::SameText(t, kLineEndTexts[i])) return static_cast<TLineEnd>(i);
  }
  throw serial::EComConvert("line end", std::string(text));
}

bool NewLineOnCRByDefault(widgets::TTermEmulation emulation) {
  return emulation == widgets::tePlain;
}

std::string_view LineEndBytes(TLineEnd value) {
  return value <= leCRLF ? kLineEndBytes[value] : std::string_view();
}

serial::TSettingValues WindowSettingsToValues(const TWindowSettings& s) {
  return {{"LineEnd", LineEndToStr(s.LineEnd)},
          {"HexView", s.HexView ? "True" : "False"},
          {"PacketStart", s.PacketStart},
          {"PacketStop", s.PacketStop},
          {"DecodeFrames", s.DecodeFrames ? "True" : "False"}};
}

TWindowSettings ValuesToWindowSettings(const serial::TSettingValues& values, TWindowSettings s) {
  for (const auto& [key, text] : values) {
    try {
      if (serial::SameText(key, "LineEnd")) {
        s.LineEnd = StrToLineEnd(text);
      } else if (serial::SameText(key, "HexView")) {
        s.HexView = TextToBool(key, text);
      } else if (serial::SameText(key, "PacketStart")) {
        UnescapeText(text);
        s.PacketStart = text;
      } else if (serial::SameText(key, "PacketStop")) {
        UnescapeText(text);
        s.PacketStop = text;
      } else if (serial::SameText(key, "DecodeFrames")) {
        s.DecodeFrames = TextToBool(key, text);
      }
    } catch (const serial::EComConvert& e) {
      throw serial::EComConvert(key, text, key + ": " + e.what());
    }
  }
  return s;
}

std::string UnescapeText(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    switch (next) {
      case 'r':
        bytes += '\r';
        break;
      case 'n':
        bytes += '\n';
        break;
      case 't':
        bytes += '\t';
        break;
      case '\\':
        bytes += '\\';
        break;
      case 'x': {
        const int high = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        const int low = i + 3 < text.size() ? HexDigit(text[i + 3]) : -1;
        if (high < 0 || low < 0) {
          throw serial::EComConvert("escaped text", std::string(text),
                                    "\\x wants two hex digits in " + std::string(text));
        }
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        throw serial::EComConvert("escaped text", std::string(text),
                                  "no such escape in " + std::string(text));
    }
    ++i;
  }
  return bytes;
}

std::string EscapeText(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c == '\\') {
      text += "\\\\";
    } else if (u < 0x20 || u > 0x7E) {
      text += "\\x";
      text += kHex[u >> 4];
      text += kHex[u & 0xF];
    } else {
      text += c;
    }
  }
  return text;
}

std::string HexLines(std::string_view bytes, int& column) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (column > 0) text += column == 16 ? '\n' : ' ';
    if (column == 16) column = 0;
    text += kHex[u >> 4];
    text += kHex[u & 0xF];
    ++column;
  }
  return text;
}

std::string SettingsFilePath() {
  std::string base;
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.config";
  }
  return base + "/valtrex/valtrex-term.ini";
}

}  // namespace term
