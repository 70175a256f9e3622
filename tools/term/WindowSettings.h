#pragma once
// The terminal window's own settings beside the port's and the terminal control's (the send
// box's line end, the hex view, the packet strings), their stored form, and the texts the window
// shows: control characters written as escapes, received bytes as hex.

#include <cstddef>
#include <string>
#include <string_view>

#include "serial/extras/IniDocument.h"
#include "widgets/emulation/TermDecoder.h"

namespace term {

// What the send box puts after the line.
enum TLineEnd { leAsIs, leCR, leLF, leCRLF };

// "AsIs", "CR", "LF", "CRLF": the spelling the terminal control's line ends use, shown and stored.
std::string LineEndToStr(TLineEnd value);
// Reads "As is" and "CR+LF" too. Raises serial::EComConvert for a text that names no line end.
TLineEnd StrToLineEnd(std::string_view text);
std::string_view LineEndBytes(TLineEnd value);

// Whether a received CR starts a new line by default in an emulation. The VT52, the VT100 and an
// ANSI terminal return the carriage on CR and feed the line on LF, and full-screen programs rely
// on it; plain lines, the window's first emulation, are for line-by-line devices such as the
// generator, whose replies end with CR alone and each want a line of their own.
bool NewLineOnCRByDefault(widgets::TTermEmulation emulation);

struct TWindowSettings {
  TLineEnd LineEnd = leCR;
  bool HexView = true;
  // The packet view's cutting strings, as typed: with escapes ("\r").
  std::string PacketStart;
  std::string PacketStop = "\\r";
  // Whether the packet view shows each frame's meaning to the generator, and the frames sent.
  bool DecodeFrames = false;
};

// One key per setting, in a fixed order.
serial::TSettingValues WindowSettingsToValues(const TWindowSettings& settings);
// Reads the keys it knows over a copy of `settings` and gives it back; a key not there keeps
// its value. A value that does not read raises serial::EComConvert naming the key.
TWindowSettings ValuesToWindowSettings(const serial::TSettingValues& values,
                                       TWindowSettings settings);

// "\r", "\n", "\t", "\\" and "\xHH" as the bytes they stand for; any other text as it is.
// Raises serial::EComConvert for an escape that stands for nothing ("\q", "\x4").
std::string UnescapeText(std::string_view text);
// The other way: CR, LF, TAB and backslash by their escapes, other control bytes and bytes
// above 126 as "\xHH", so that the text reads back as the same bytes.
std::string EscapeText(std::string_view bytes);

// The bytes as two-digit hex, sixteen to a line. `column` is how many bytes the last line
// shown holds (0 to 16) and is moved on, so that bytes received in pieces line up as if
// received whole.
std::string HexLines(std::string_view bytes, int& column);

// "$XDG_CONFIG_HOME/valtrex/valtrex-term.ini", or under "$HOME/.config" where XDG_CONFIG_HOME
// is unset or not an absolute path.
std::string SettingsFilePath();

}  // namespace term
