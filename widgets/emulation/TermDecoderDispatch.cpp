// The decoder's sequences: what each escape and control sequence does to the screen.
#include "widgets/emulation/TermDecoder.h"

#include <algorithm>

namespace widgets {
namespace {

// A VT100 with the advanced video option; a program that asks learns it may use attributes.
constexpr const char* kIdentifyANSI = "\x1b[?1;2c";
constexpr const char* kIdentifyVT52 = "\x1b/Z";

// The 256-colour palette's first sixteen entries are the eight colours, twice.
TTermColor PaletteColor(int index) {
  return index >= 0 && index < 16 ? static_cast<TTermColor>(tcBlack + index % 8) : tcDefault;
}

}  // namespace

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

}  // namespace widgets
