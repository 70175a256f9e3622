#pragma once
// Every setting of a terminal control as one plain value, and its stored form: one key per
// setting with the value's text, as a port's settings are stored. Emulations read and write as
// "VT52", "VT100", "ANSI"; line ends as "AsIs", "CRLF", "LF"; reading back ignores case and
// surrounding blanks, and a text that names no value raises serial::EComConvert.

#include <cstdint>
#include <string>
#include <string_view>

#include "../serial/extras/IniDocument.h"
#include "emulation/TermDecoder.h"
#include "../platform/Export.h"

namespace widgets {

// What becomes of line ends on their way. Sending: what the Enter key sends and what each CR,
// LF or CR LF pair of a sent text becomes (tlAsIs: CR for Enter, a text unchanged). Receiving:
// tlAsIs hands CR and LF to the emulation as they come; tlCRLF makes each CR, LF or CR LF pair
// a new line (carriage return and line feed); tlLF is for a line that ends its lines with LF
// alone: each LF is a new line, and a CR stays a carriage return.
enum TTermLineEnd : uint8_t { tlAsIs, tlCRLF, tlLF };

// A default value holds the settings of a new terminal.
struct VALTREX_API TTermSettings {
  TTermEmulation Emulation = teANSI;
  int Columns = 80;
  int Rows = 24;
  bool LocalEcho = false;
  TTermLineEnd SendLineEnd = tlAsIs;
  TTermLineEnd ReceiveLineEnd = tlAsIs;
  bool WrapLines = true;
  int ScrollBack = 1000;  // lines kept above the screen
  std::string FontName = "Monospace";
  int FontSize = 10;  // points

  friend bool operator==(const TTermSettings&, const TTermSettings&) = default;
};

VALTREX_API std::string EmulationToStr(TTermEmulation value);
VALTREX_API TTermEmulation StrToEmulation(std::string_view text);
VALTREX_API std::string LineEndToStr(TTermLineEnd value);
VALTREX_API TTermLineEnd StrToLineEnd(std::string_view text);

// Every setting as key and text, in a fixed order.
VALTREX_API serial::TSettingValues TermSettingsToValues(const TTermSettings& settings);
// Reads the keys it knows (ignoring case) over `settings`; a key not there keeps its setting
// and an unknown key is ignored. Columns, rows and scroll-back outside what a terminal can
// have are clamped, as the control clamps them. A value that does not read raises
// serial::EComConvert, whose Setting() is the key, and leaves `settings` as it was.
VALTREX_API void ValuesToTermSettings(const serial::TSettingValues& values, TTermSettings& settings);

}  // namespace widgets
