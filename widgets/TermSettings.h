#pragma once
/// \file
/// Every setting of a terminal control as one plain value, and its stored form: one key per
/// setting with the value's text, as a port's settings are stored. Emulations read and write as
/// "VT52", "VT100", "ANSI", "Plain"; line ends as "AsIs", "CRLF", "LF" ("As is" and "CR+LF" read too);
/// reading back ignores case and surrounding blanks, and a text that names no value raises
/// serial::EComConvert.

#include <cstdint>
#include <string>
#include <string_view>

#include "../serial/extras/IniDocument.h"
#include "emulation/TermDecoder.h"
#include "../platform/Export.h"

namespace widgets {

/// What becomes of line ends on their way. Sending: what the Enter key sends and what each CR,
/// LF or CR LF pair of a sent text becomes (tlAsIs: CR for Enter, a text unchanged). Receiving:
/// tlAsIs hands CR and LF to the emulation as they come; tlCRLF makes each CR, LF or CR LF pair
/// a new line (carriage return and line feed); tlLF is for a line that ends its lines with LF
/// alone: each LF is a new line, and a CR stays a carriage return.
enum TTermLineEnd : uint8_t {
  tlAsIs,  ///< CR for Enter, a text unchanged; received CR and LF act as they come
  tlCRLF,  ///< CR LF for each line end sent; each CR, LF or CR LF received is one new line
  tlLF     ///< LF for each line end sent; each LF received is a new line, a CR returns only
};

/// A default value holds the settings of a new terminal.
struct VALTREX_API TTermSettings {
  TTermEmulation Emulation = teANSI;     ///< the terminal it behaves as
  int Columns = 80;                      ///< characters per line
  int Rows = 24;                         ///< lines on the screen
  bool LocalEcho = false;                ///< whether what is sent is shown too
  TTermLineEnd SendLineEnd = tlAsIs;     ///< what Enter and sent line ends become
  TTermLineEnd ReceiveLineEnd = tlAsIs;  ///< how received CR and LF make new lines
  bool WrapLines = true;                 ///< whether long lines go on on the next line
  int ScrollBack = 1000;  ///< lines kept above the screen
  std::string FontName = "Monospace";  ///< the font's family
  int FontSize = 10;  ///< points

  /// Whether every setting is the same.
  friend bool operator==(const TTermSettings&, const TTermSettings&) = default;
};

/// An emulation's text: "VT52", "VT100", "ANSI", "Plain".
VALTREX_API std::string EmulationToStr(TTermEmulation value);
/// The emulation a text names.
VALTREX_API TTermEmulation StrToEmulation(std::string_view text);
/// A line end's text: "AsIs", "CRLF", "LF".
VALTREX_API std::string LineEndToStr(TTermLineEnd value);
/// The line end a text names.
VALTREX_API TTermLineEnd StrToLineEnd(std::string_view text);

/// Every setting as key and text, in a fixed order.
VALTREX_API serial::TSettingValues TermSettingsToValues(const TTermSettings& settings);
/// Reads the keys it knows (ignoring case) over `settings`; a key not there keeps its setting
/// and an unknown key is ignored. Columns, rows and scroll-back outside what a terminal can
/// have are clamped, as the control clamps them. A value that does not read raises
/// serial::EComConvert, whose Setting() is the key, and leaves `settings` as it was.
VALTREX_API void ValuesToTermSettings(const serial::TSettingValues& values, TTermSettings& settings);

}  // namespace widgets
