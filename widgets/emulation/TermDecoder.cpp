#include "widgets/emulation/TermDecoder.h"

#include <algorithm>
#include <array>

namespace widgets {
namespace {

constexpr uint8_t kBEL = 0x07;
constexpr uint8_t kBS = 0x08;
constexpr uint8_t kHT = 0x09;
constexpr uint8_t kLF = 0x0A;
constexpr uint8_t kVT = 0x0B;
constexpr uint8_t kFF = 0x0C;
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kSO = 0x0E;
constexpr uint8_t kSI = 0x0F;
constexpr uint8_t kCAN = 0x18;
constexpr uint8_t kSUB = 0x1A;
constexpr uint8_t kESC = 0x1B;
constexpr uint8_t kDEL = 0x7F;

// A VT100 with the advanced video option; a program that asks learns it may use attributes.
constexpr const char* kIdentifyANSI = "\x1b[?1;2c";
constexpr const char* kIdentifyVT52 = "\x1b/Z";

bool IsFinal(uint8_t b) {
  return b >= 0x40 && b <= 0x7E;
}

bool IsIntermediate(uint8_t b) {
  return b >= 0x20 && b <= 0x2F;
}

// The VT100's speed steps; the code of each is eight times its place.
constexpr std::array<int, 16> kSpeeds = {50,   75,   110,  134,  150,  200,  300,  600,
                                         1200, 1800, 2000, 2400, 3600, 4800, 9600, 19200};

// The 256-colour palette's first sixteen entries are the eight colours, twice.
TTermColor PaletteColor(int index) {
  return index >= 0 && index < 16 ? static_cast<TTermColor>(tcBlack + index % 8) : tcDefault;
}

}  // namespace

TTermDecoder::TTermDecoder(TTermScreen& screen, TTermEmulation emulation)
    : screen_(&screen),
      emulation_(emulation),
      ansiEmulation_(emulation == teVT52 ? teANSI : emulation) {}

void TTermDecoder::SetEmulation(TTermEmulation value) {
  // The width DECCOLM chose belongs to the program that asked for it, not to the terminal.
  if (screen_->Columns() != screen_->SetupColumns()) {
    screen_->SetSize(screen_->SetupColumns(), screen_->Rows());
  }
  emulation_ = value;
  if (value != teVT52) ansiEmulation_ = value;
  cursorKeys_ = keypad_ = false;
  End();
}

void TTermDecoder::Reset() {
  screen_->Reset();
  cursorKeys_ = keypad_ = false;
  End();
}

void TTermDecoder::Write(std::string_view bytes) {
  for (const char c : bytes) Byte(static_cast<uint8_t>(c));
}

void TTermDecoder::Write(const void* data, size_t count) {
  Write(std::string_view(static_cast<const char*>(data), count));
}

void TTermDecoder::Begin(TState state) {
  state_ = state;
  length_ = 0;
  count_ = 0;
  index_ = 0;
  params_[0] = 0;
  private_ = 0;
  intermediate_ = 0;
}

int TTermDecoder::Param(int index, int fallback) const {
  const int value = Raw(index);
  return value == 0 ? fallback : value;
}

void TTermDecoder::Reply(const std::string& bytes) {
  if (OnReply) OnReply(*this, bytes);
}

int TTermDecoder::SpeedCode(int baudRate) {
  if (baudRate > kSpeeds.back()) return 128;
  int code = 0;
  for (size_t i = 0; i < kSpeeds.size() && kSpeeds[i] <= baudRate; ++i) {
    code = static_cast<int>(i) * 8;
  }
  return code;
}

void TTermDecoder::ReportParameters(int solicited) {
  const TTermLineSettings line = OnLineSettings ? OnLineSettings(*this) : TTermLineSettings{};
  // 1: no parity, 4: odd, 5: even; 1: 8 bits, 2: 7 bits; the clock multiplier 1, no flags.
  const int parity = line.Parity == tpOdd ? 4 : (line.Parity == tpEven ? 5 : 1);
  const int bits = line.DataBits >= 8 ? 1 : 2;
  const std::string speed = std::to_string(SpeedCode(line.BaudRate));
  Reply("\x1b[" + std::to_string(solicited) + ";" + std::to_string(parity) + ";" +
        std::to_string(bits) + ";" + speed + ";" + speed + ";1;0x");
}

void TTermDecoder::Byte(uint8_t b) {
  // A sequence that never ends must not hold back everything after it.
  if (state_ != dsGround && ++length_ > kMaxSequenceLength) End();
  if (b == kESC) {
    if (emulation_ == tePlain) return;
    Begin(emulation_ == teVT52 ? dsVT52Escape : dsEscape);
    return;
  }
  if (b == kCAN || b == kSUB) {
    End();
    return;
  }
  if (b == kDEL) return;
  if (b < 0x20) {
    // Controls act in the middle of a sequence, which goes on after them; in a string they
    // are part of it, and BEL ends it.
    if (state_ == dsString) {
      if (b == kBEL) End();
      return;
    }
    Control(b);
    return;
  }
  switch (state_) {
    case dsGround:
      if (b < 0x80) {
        screen_->Put(b);
      } else if (b >= 0xA0) {
        screen_->Put(char32_t{b});
      }
      return;
    case dsEscape:
      Escape(b);
      return;
    case dsEscapeIntermediate:
      if (b >= 0x80) {
        End();
      } else if (IsIntermediate(b)) {
        intermediate_ = static_cast<char>(kDEL);  // two intermediates: nothing we know
      } else {
        EscapeDispatch(b);
        End();
      }
      return;
    case dsCsi:
      CsiByte(b);
      return;
    case dsCsiIgnore:
      if (IsFinal(b)) End();
      return;
    case dsString:
      return;
    case dsVT52Escape:
      VT52Escape(b);
      return;
    case dsVT52Row:
      vt52Row_ = b - 0x20;
      state_ = dsVT52Column;
      return;
    case dsVT52Column:
      screen_->MoveTo(b - 0x20, vt52Row_);
      End();
      return;
  }
}

void TTermDecoder::Control(uint8_t b) {
  switch (b) {
    case kBEL:
      if (OnBell) OnBell(*this);
      break;
    case kBS:
      screen_->Backspace();
      break;
    case kHT:
      screen_->Tab();
      break;
    case kLF:
    case kVT:
    case kFF:
      screen_->LineFeed();
      break;
    case kCR:
      screen_->CarriageReturn();
      break;
    case kSO:
      if (emulation_ != teVT52 && emulation_ != tePlain) screen_->SetShift(1);
      break;
    case kSI:
      if (emulation_ != teVT52 && emulation_ != tePlain) screen_->SetShift(0);
      break;
    default:
      break;
  }
}

void TTermDecoder::Escape(uint8_t b) {
  if (b >= 0x80) {
    End();
    return;
  }
  if (IsIntermediate(b)) {
    intermediate_ = static_cast<char>(b);
    state_ = dsEscapeIntermediate;
    return;
  }
  switch (b) {
    case '[':
      state_ = dsCsi;
      return;
    case ']':  // operating system command
    case 'P':  // device control string
    case 'X':  // start of string
    case '^':  // privacy message
    case '_':  // application program command
      state_ = dsString;
      return;
    default:
      EscapeDispatch(b);
      End();
      return;
  }
}

void TTermDecoder::EscapeDispatch(uint8_t final) {
  if (intermediate_ == '(' || intermediate_ == ')') {
    const int set = intermediate_ == '(' ? 0 : 1;
    switch (final) {
      case 'B':
        screen_->SetCharset(set, tsASCII);
        break;
      case 'A':
        screen_->SetCharset(set, tsUK);
        break;
      case '0':
        screen_->SetCharset(set, tsLineDrawing);
        break;
      default:
        break;
    }
    return;
  }
  if (intermediate_ == '#') {
    switch (final) {
      case '3':
        screen_->SetLineSize(lsDoubleTop);
        break;
      case '4':
        screen_->SetLineSize(lsDoubleBottom);
        break;
      case '5':
        screen_->SetLineSize(lsSingle);
        break;
      case '6':
        screen_->SetLineSize(lsDoubleWidth);
        break;
      case '8':
        // The alignment pattern: the whole screen in plain E, the margins and the cursor at
        // home.
        screen_->FillWith(U'E');
        screen_->SetScrollRegion(0, screen_->Rows() - 1);
        screen_->MoveTo(0, 0);
        break;
      default:
        break;
    }
    return;
  }
  if (intermediate_ != 0) return;
  switch (final) {
    case '7':
      screen_->SaveCursor();
      break;
    case '8':
      screen_->RestoreCursor();
      break;
    case 'D':
      screen_->Index();
      break;
    case 'M':
      screen_->ReverseIndex();
      break;
    case 'E':
      screen_->NextLine();
      break;
    case 'H':
      screen_->SetTabStop();
      break;
    case 'c':
      Reset();
      break;
    case '=':
      keypad_ = true;
      break;
    case '>':
      keypad_ = false;
      break;
    case 'Z':
      Reply(kIdentifyANSI);
      break;
    default:
      break;
  }
}

void TTermDecoder::VT52Escape(uint8_t b) {
  End();
  switch (b) {
    case 'A':
      screen_->CursorUp(1);
      break;
    case 'B':
      screen_->CursorDown(1);
      break;
    case 'C':
      screen_->CursorForward(1);
      break;
    case 'D':
      screen_->CursorBack(1);
      break;
    case 'F':
      screen_->SetCharset(screen_->Shift(), tsVT52Graphics);
      break;
    case 'G':
      screen_->SetCharset(screen_->Shift(), tsASCII);
      break;
    case 'H':
      screen_->MoveTo(0, 0);
      break;
    case 'I':
      screen_->ReverseIndex();
      break;
    case 'J':
      screen_->EraseInDisplay(0);
      break;
    case 'K':
      screen_->EraseInLine(0);
      break;
    case 'Y':
      state_ = dsVT52Row;
      break;
    case 'Z':
      Reply(kIdentifyVT52);
      break;
    case '=':
      keypad_ = true;
      break;
    case '>':
      keypad_ = false;
      break;
    case '<':
      emulation_ = ansiEmulation_;
      break;
    default:
      break;
  }
}

void TTermDecoder::CsiByte(uint8_t b) {
  if (b >= 0x80) {
    state_ = dsCsiIgnore;
    return;
  }
  if (b >= '0' && b <= '9') {
    if (intermediate_ != 0) {
      state_ = dsCsiIgnore;
      return;
    }
    if (count_ == 0) count_ = 1;
    if (index_ < kMaxParameters) {
      int& p = params_[index_];
      // A leading zero changes nothing, and any number of them is one parameter: only the
      // value is bounded, not the bytes that spell it.
      if (p == 0 && b == '0') --length_;
      p = std::min(p * 10 + (b - '0'), kMaxParameterValue);
    }
    return;
  }
  if (b == ';') {
    if (intermediate_ != 0) {
      state_ = dsCsiIgnore;
      return;
    }
    if (count_ == 0) count_ = 1;
    // Past the parameters kept the rest are read and ignored.
    index_ = std::min(index_ + 1, kMaxParameters);
    if (index_ < kMaxParameters) {
      params_[index_] = 0;
      count_ = index_ + 1;
    }
    return;
  }
  if (b == '<' || b == '=' || b == '>' || b == '?') {
    // A marker only leads; anywhere else the sequence is not one of ours.
    if (count_ == 0 && private_ == 0 && intermediate_ == 0) {
      private_ = static_cast<char>(b);
    } else {
      state_ = dsCsiIgnore;
    }
    return;
  }
  if (b == ':') {
    state_ = dsCsiIgnore;
    return;
  }
  if (IsIntermediate(b)) {
    if (intermediate_ != 0) {
      state_ = dsCsiIgnore;
    } else {
      intermediate_ = static_cast<char>(b);
    }
    return;
  }
  CsiDispatch(b);
  End();
}

void TTermDecoder::CsiDispatch(uint8_t final) {
  if (intermediate_ != 0) return;
  if (private_ == '?') {
    if (final == 'h' || final == 'l') {
      for (int i = 0; i < std::max(count_, 1); ++i) PrivateMode(Raw(i), final == 'h');
    }
    return;
  }
  if (private_ != 0) return;
  TTermScreen& s = *screen_;
  switch (final) {
    case 'A':
      s.CursorUp(Param(0, 1));
      break;
    case 'B':
    case 'e':
      s.CursorDown(Param(0, 1));
      break;
    case 'C':
    case 'a':
      s.CursorForward(Param(0, 1));
      break;
    case 'D':
      s.CursorBack(Param(0, 1));
      break;
    case 'E':
      s.CursorDown(Param(0, 1));
      s.CarriageReturn();
      break;
    case 'F':
      s.CursorUp(Param(0, 1));
      s.CarriageReturn();
      break;
    case 'G':
    case '`':
      s.MoveToColumn(Param(0, 1) - 1);
      break;
    case 'd':
      s.MoveToRow(Param(0, 1) - 1);
      break;
    case 'H':
    case 'f':
      s.MoveTo(Param(1, 1) - 1, Param(0, 1) - 1);
      break;
    case 'I':
      s.Tab(Param(0, 1));
      break;
    case 'Z':
      s.BackTab(Param(0, 1));
      break;
    case 'J':
      s.EraseInDisplay(Raw(0));
      break;
    case 'K':
      s.EraseInLine(Raw(0));
      break;
    case 'L':
      s.InsertLines(Param(0, 1));
      break;
    case 'M':
      s.DeleteLines(Param(0, 1));
      break;
    case '@':
      s.InsertChars(Param(0, 1));
      break;
    case 'P':
      s.DeleteChars(Param(0, 1));
      break;
    case 'X':
      s.EraseChars(Param(0, 1));
      break;
    case 'S':
      s.ScrollUp(Param(0, 1));
      break;
    case 'T':
      s.ScrollDown(Param(0, 1));
      break;
    case 'r':
      s.SetScrollRegion(Param(0, 1) - 1, Param(1, s.Rows()) - 1);
      break;
    case 's':
      if (count_ == 0) s.SaveCursor();
      break;
    case 'u':
      s.RestoreCursor();
      break;
    case 'm':
      SelectGraphicRendition();
      break;
    case 'n':
      if (Raw(0) == 5) {
        Reply("\x1b[0n");
      } else if (Raw(0) == 6) {
        const int row = s.CursorRow() - (s.OriginMode() ? s.ScrollTop() : 0) + 1;
        Reply("\x1b[" + std::to_string(row) + ";" + std::to_string(s.CursorColumn() + 1) + "R");
      }
      break;
    case 'c':
      if (Raw(0) == 0) Reply(kIdentifyANSI);
      break;
    case 'x':
      // DECREQTPARM: 0 asks for reports unsolicited too (2 in the answer), 1 only when asked
      // (3); either way this terminal answers this request alone.
      if (Raw(0) <= 1) ReportParameters(Raw(0) + 2);
      break;
    case 'g':
      if (Raw(0) == 0) {
        s.ClearTabStop();
      } else if (Raw(0) == 3) {
        s.ClearAllTabStops();
      }
      break;
    case 'h':
    case 'l':
      for (int i = 0; i < std::max(count_, 1); ++i) AnsiMode(Raw(i), final == 'h');
      break;
    default:
      break;
  }
}

void TTermDecoder::PrivateMode(int mode, bool set) {
  TTermScreen& s = *screen_;
  switch (mode) {
    case 1:
      cursorKeys_ = set;
      break;
    case 2:
      if (!set) {
        ansiEmulation_ = emulation_;
        emulation_ = teVT52;
      }
      break;
    case 3:
      s.SwitchColumns(set ? 132 : 80);
      break;
    case 5:
      s.SetReverseScreen(set);
      break;
    case 6:
      s.SetOriginMode(set);
      break;
    case 7:
      s.SetAutoWrap(set);
      break;
    case 25:
      s.SetCursorVisible(set);
      break;
    default:
      break;
  }
}

void TTermDecoder::AnsiMode(int mode, bool set) {
  switch (mode) {
    case 4:
      screen_->SetInsertMode(set);
      break;
    case 20:
      screen_->SetNewLineMode(set);
      break;
    default:
      break;
  }
}

void TTermDecoder::SelectGraphicRendition() {
  TTermAttributes a = screen_->Attributes();
  // A monochrome terminal reads the colour parameters, arguments included, and shows none.
  const bool colour = emulation_ == teANSI;
  const int count = std::max(count_, 1);
  for (int i = 0; i < count; ++i) {
    const int p = Raw(i);
    if (p >= 30 && p <= 37) {
      if (colour) a.Foreground = static_cast<TTermColor>(tcBlack + (p - 30));
    } else if (p >= 40 && p <= 47) {
      if (colour) a.Background = static_cast<TTermColor>(tcBlack + (p - 40));
    } else if (p >= 90 && p <= 97) {
      if (colour) a.Foreground = static_cast<TTermColor>(tcBlack + (p - 90));
    } else if (p >= 100 && p <= 107) {
      if (colour) a.Background = static_cast<TTermColor>(tcBlack + (p - 100));
    } else if (p == 38 || p == 48) {
      // 38;5;n picks from the palette, 38;2;r;g;b gives a colour; the arguments are never
      // read as attributes of their own.
      TTermColor picked = tcDefault;
      if (Raw(i + 1) == 5) {
        picked = PaletteColor(Raw(i + 2));
        i += 2;
      } else if (Raw(i + 1) == 2) {
        i += 4;
      } else {
        i = count;
      }
      if (colour && picked != tcDefault) (p == 38 ? a.Foreground : a.Background) = picked;
    } else {
      switch (p) {
        case 0:
          a = {};
          break;
        case 1:
          a.Bold = true;
          break;
        case 4:
          a.Underline = true;
          break;
        case 5:
        case 6:
          a.Blink = true;
          break;
        case 7:
          a.Reverse = true;
          break;
        case 22:
          a.Bold = false;
          break;
        case 24:
          a.Underline = false;
          break;
        case 25:
          a.Blink = false;
          break;
        case 27:
          a.Reverse = false;
          break;
        case 39:
          a.Foreground = tcDefault;
          break;
        case 49:
          a.Background = tcDefault;
          break;
        default:
          break;
      }
    }
  }
  screen_->SetAttributes(a);
}

std::string TTermDecoder::KeyBytes(TTermKey key) const {
  if (key == tkReturn) return emulation_ != teVT52 && screen_->NewLineMode() ? "\r\n" : "\r";
  if (emulation_ == teVT52) {
    switch (key) {
      case tkUp:
        return "\x1b"
               "A";
      case tkDown:
        return "\x1b"
               "B";
      case tkRight:
        return "\x1b"
               "C";
      case tkLeft:
        return "\x1b"
               "D";
      case tkHome:
        return "\x1b"
               "H";
      case tkF1:
        return "\x1b"
               "P";
      case tkF2:
        return "\x1b"
               "Q";
      case tkF3:
        return "\x1b"
               "R";
      case tkF4:
        return "\x1b"
               "S";
      default:
        return {};
    }
  }
  // Cursor keys, Home and End in their application form after DECCKM set.
  const std::string cursor = cursorKeys_ ? "\x1bO" : "\x1b[";
  switch (key) {
    case tkUp:
      return cursor + "A";
    case tkDown:
      return cursor + "B";
    case tkRight:
      return cursor + "C";
    case tkLeft:
      return cursor + "D";
    case tkHome:
      return cursor + "H";
    case tkEnd:
      return cursor + "F";
    case tkInsert:
      return "\x1b[2~";
    case tkDelete:
      return "\x1b[3~";
    case tkPageUp:
      return "\x1b[5~";
    case tkPageDown:
      return "\x1b[6~";
    case tkF1:
      return "\x1bOP";
    case tkF2:
      return "\x1bOQ";
    case tkF3:
      return "\x1bOR";
    case tkF4:
      return "\x1bOS";
    default:
      break;
  }
  static constexpr std::array<int, 8> kFunction = {15, 17, 18, 19, 20, 21, 23, 24};
  if (key >= tkF5 && key <= tkF12) {
    return "\x1b[" + std::to_string(kFunction[key - tkF5]) + "~";
  }
  return {};
}

}  // namespace widgets
