#pragma once
/// \file
/// The escape-sequence decoder of the terminal: received bytes in, calls on a TTermScreen out,
/// and the answers a terminal gives to the line (status and identification reports) handed to
/// OnReply. It keeps its state between writes, so a sequence may arrive cut anywhere.
///
/// Bytes are one character each: 0x20 to 0x7E and 0xA0 to 0xFF print (the upper half as
/// Latin-1), C0 controls act even inside a sequence, 0x80 to 0x9F are dropped. A sequence the
/// decoder does not know, or one that breaks its rules (too long, a stray byte in the middle),
/// is dropped whole and what follows it decodes as if it had not come. Parameters past the
/// ones kept are read and ignored, and a parameter may have any number of leading zeros.
///
/// teVT52 decodes the VT52's ESC sequences and nothing else. teVT100 and teANSI decode the same
/// ESC and CSI sequences; teVT100 is a monochrome terminal and ignores colour, teANSI shows the
/// eight colours. CSI ? 2 l switches an ANSI terminal to VT52 decoding and ESC < switches it
/// back to the emulation it came from. tePlain is a line device's printout, for devices that
/// answer in lines of text: ESC is dropped and what follows it prints, SO and SI do nothing, and
/// the keys send what an ANSI terminal's send.
///
/// What it decodes:
///  - controls: BEL (OnBell), BS, HT, LF, VT, FF (as LF), CR, SO and SI (G1 and G0), CAN and SUB
///    (end a sequence);
///  - VT52: ESC A B C D (cursor), ESC H (home), ESC I (reverse line feed), ESC J and ESC K
///    (erase to the end of the screen and line), ESC Y row column, ESC Z (identify), ESC F and
///    ESC G (graphics on and off), ESC = and ESC > (keypad), ESC < (back to ANSI);
///  - ESC: 7 and 8 (save and restore the cursor), D (index), M (reverse index), E (next line),
///    H (tab stop), c (reset), = and > (keypad), Z (identify), ( and ) with B, A or 0 (G0 and G1
///    as ASCII, UK or line drawing), # 3 # 4 # 5 # 6 (double-height top and bottom, single and
///    double width line), # 8 (alignment pattern); strings after ESC ] P X ^ _ are read to BEL
///    or ESC \ and dropped;
///  - CSI: A B C D E F G H I J K L M P S T X Z @ ` a d e f (moves, erases, inserts, deletes,
///    scrolls, tabs), g (clear tab stops), h and l (insert mode 4, new-line mode 20), m (bold,
///    underline, blink, reverse, 30-37, 40-47, 90-97, 100-107, 38/48;5;n and their resets),
///    n (status 5 and cursor position 6 reports), c (identify), r (scroll region), s and u
///    (save and restore the cursor), x (the line's settings: 0 and 1);
///  - CSI ?: h and l with 1 (cursor keys), 2 (l: to VT52), 3 (132 or 80 columns),
///    5 (reverse screen), 6 (origin), 7 (wrap), 25 (cursor shown).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "../../platform/Export.h"
#include "TermScreen.h"

namespace widgets {

/// The terminal a decoder behaves as.
enum TTermEmulation : uint8_t {
  teVT52,   ///< the VT52's ESC sequences and nothing else
  teVT100,  ///< ESC and CSI sequences, monochrome: colours are ignored
  teANSI,   ///< the same sequences with the eight colours
  tePlain   ///< plain lines: no sequences, only the controls that move along a line and to the next
};

/// The parity of the line, as the terminal reports it.
enum TTermParity : uint8_t {
  tpNone,  ///< no parity bit
  tpOdd,   ///< odd parity
  tpEven,  ///< even parity
  tpMark,  ///< a parity bit always set: reported as none, as nothing is checked
  tpSpace  ///< a parity bit always clear: reported as none
};

/// The line's settings a terminal reports to DECREQTPARM.
struct VALTREX_API TTermLineSettings {
  int BaudRate = 9600;          ///< bits per second, both ways
  int DataBits = 8;             ///< 8, or 7 (fewer report as 7)
  TTermParity Parity = tpNone;  ///< the parity bit

  /// Whether both report the same.
  friend bool operator==(const TTermLineSettings&, const TTermLineSettings&) = default;
};

/// The keys whose bytes depend on the emulation and its modes.
enum TTermKey : uint8_t {
  tkUp,        ///< the up arrow
  tkDown,      ///< the down arrow
  tkRight,     ///< the right arrow
  tkLeft,      ///< the left arrow
  tkHome,      ///< Home
  tkEnd,       ///< End; none on a VT52
  tkInsert,    ///< Insert; none on a VT52
  tkDelete,    ///< Delete; none on a VT52
  tkPageUp,    ///< Page Up; none on a VT52
  tkPageDown,  ///< Page Down; none on a VT52
  tkF1,        ///< F1 to F4: PF1 to PF4 on a VT52 or VT100
  tkF2,        ///< F2
  tkF3,        ///< F3
  tkF4,        ///< F4
  tkF5,        ///< F5 to F12: none on a VT52
  tkF6,        ///< F6
  tkF7,        ///< F7
  tkF8,        ///< F8
  tkF9,        ///< F9
  tkF10,       ///< F10
  tkF11,       ///< F11
  tkF12,       ///< F12
  tkReturn     ///< Return: CR, and CR LF in new-line mode (LNM)
};

/// Decodes received bytes onto a screen and answers the line's requests; see the file's
/// description for what it decodes.
class VALTREX_API TTermDecoder {
 public:
  /// Parameters of one sequence beyond this many are read and ignored.
  static constexpr int kMaxParameters = 16;
  /// A parameter's value saturates here; no position or count needs more.
  static constexpr int kMaxParameterValue = 9999;
  /// A sequence still open after this many bytes is dropped, and the decoder reads what
  /// follows as ordinary input; a parameter's leading zeros do not count, as they change
  /// nothing. Strings (OSC, DCS and the like) are read and dropped up to their terminator,
  /// within the same bound.
  static constexpr int kMaxSequenceLength = 256;

  /// The screen is not owned and must outlive the decoder.
  explicit TTermDecoder(TTermScreen& screen, TTermEmulation emulation = teANSI);

  /// The screen the decoder draws on.
  TTermScreen& Screen() const { return *screen_; }

  /// The emulation in effect now: the one set, or VT52 after CSI ? 2 l.
  TTermEmulation Emulation() const { return emulation_; }
  /// Also ends any sequence half-way and the modes of the one before: cursor keys and keypad
  /// in their normal mode, and the screen back to its set-up width after DECCOLM.
  void SetEmulation(TTermEmulation value);

  /// DECCKM: the arrow keys send their application form.
  bool CursorKeysApplication() const { return cursorKeys_; }
  /// ESC = / ESC >: the keypad sends its application form.
  bool KeypadApplication() const { return keypad_; }

  /// Decodes received bytes onto the screen; a sequence may end in a later call.
  void Write(std::string_view bytes);
  /// Decodes `count` received bytes from `data`.
  void Write(const void* data, size_t count);

  /// What the key sends in the emulation and modes in effect; empty for a key the emulation
  /// does not have.
  std::string KeyBytes(TTermKey key) const;

  /// The terminal and the decoder as switched on, the emulation kept.
  void Reset();

  /// The VT100's code for a speed in DECREQTPARM's report: 0 for 50 bit/s up to 120 for
  /// 19200 in its sixteen steps, a rate between two steps the lower one's, and 128 above
  /// 19200.
  static int SpeedCode(int baudRate);

  /// Answers to the line: cursor position and status reports, identification.
  std::function<void(TTermDecoder& sender, const std::string& bytes)> OnReply;
  /// The line's settings for DECREQTPARM's report; with none assigned the report gives
  /// TTermLineSettings' defaults.
  std::function<TTermLineSettings(TTermDecoder& sender)> OnLineSettings;
  /// BEL: the terminal's bell.
  std::function<void(TTermDecoder& sender)> OnBell;

 private:
  enum TState : uint8_t {
    dsGround,
    dsEscape,
    dsEscapeIntermediate,
    dsCsi,
    dsCsiIgnore,
    dsString,
    dsVT52Escape,
    dsVT52Row,
    dsVT52Column
  };

  void Byte(uint8_t b);
  void Control(uint8_t b);
  void Escape(uint8_t b);
  void EscapeDispatch(uint8_t final);
  void VT52Escape(uint8_t b);
  void CsiByte(uint8_t b);
  void CsiDispatch(uint8_t final);
  void PrivateMode(int mode, bool set);
  void AnsiMode(int mode, bool set);
  void SelectGraphicRendition();
  void Reply(const std::string& bytes);
  void ReportParameters(int solicited);
  void Begin(TState state);
  void End() { state_ = dsGround; }
  // The parameter at `index`, or `fallback` when missing or 0.
  int Param(int index, int fallback) const;
  // The parameter at `index`, 0 when missing.
  int Raw(int index) const { return index < count_ ? params_[index] : 0; }

  TTermScreen* screen_;
  TTermEmulation emulation_;
  TTermEmulation ansiEmulation_;  // the one ESC < returns to
  bool cursorKeys_ = false;
  bool keypad_ = false;

  TState state_ = dsGround;
  int length_ = 0;  // bytes of the sequence so far
  int params_[kMaxParameters] = {};
  int count_ = 0;     // parameters started, up to the ones kept
  int index_ = 0;     // the parameter being read; past the ones kept its digits are ignored
  char private_ = 0;  // the CSI's marker ('?', '>', '<', '=') or 0
  char intermediate_ = 0;
  int vt52Row_ = 0;
};

}  // namespace widgets
