// The terminal's decoder over its screen model, family by family: each row is bytes in and the
// screen, cursor and history (or the attributes, replies or key bytes) that must come out. Every
// row is also fed cut at each byte boundary, and a byte at a time, and must end in the same
// state: the decoder keeps a sequence's state between writes.
//
// The screen is 10 columns by 4 rows with 3 lines of history, small enough that wrapping,
// scrolling and the history limit show in short inputs. Escapes are written in octal (\033)
// because a hexadecimal escape would swallow the letter after it.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "widgets/emulation/TermDecoder.h"
#include "widgets/emulation/TermScreen.h"

namespace widgets::test {
namespace {

constexpr int kColumns = 10;
constexpr int kRows = 4;
constexpr int kHistory = 3;

struct TRig {
  explicit TRig(TTermEmulation emulation) : decoder(screen, emulation) {
    decoder.OnReply = [this](TTermDecoder&, const std::string& bytes) { replies += bytes; };
    decoder.OnBell = [this](TTermDecoder&) { ++bells; };
  }
  TTermScreen screen{kColumns, kRows, kHistory};
  TTermDecoder decoder;
  std::string replies;
  int bells = 0;
};

std::string Attributes(const TTermAttributes& a) {
  return std::string(a.Bold ? "b" : "") + (a.Underline ? "u" : "") + (a.Blink ? "k" : "") +
         (a.Reverse ? "r" : "") + std::to_string(a.Foreground) + "/" + std::to_string(a.Background);
}

// Everything the decoder and the screen hold that a later byte could depend on or a view
// A line size as a letter: . single, W double width, T and B the halves of a double height.
char SizeLetter(TTermLineSize size) {
  return ".WTB"[size];
}

std::string Sizes(const TTermScreen& s) {
  std::string out;
  for (int r = 0; r < s.Rows(); ++r) out += SizeLetter(s.LineSize(r));
  return out;
}

// could show, as text so that a difference reads in the failure.
std::string Dump(const TRig& rig) {
  const TTermScreen& s = rig.screen;
  std::string out = "columns " + std::to_string(s.Columns()) + "\n";
  for (int r = 0; r < s.Rows(); ++r) {
    out += SizeLetter(s.LineSize(r)) + s.LineText(r) + "|";
    for (int c = 0; c < s.Columns(); ++c) out += Attributes(s.Cell(c, r).Attributes) + " ";
    out += "\n";
  }
  for (int i = 0; i < s.HistoryCount(); ++i) {
    out += "history " + std::string(1, SizeLetter(s.HistoryLine(i).Size)) + s.HistoryText(i) + "\n";
  }
  out += "cursor " + std::to_string(s.CursorColumn()) + "," + std::to_string(s.CursorRow()) +
         (s.WrapPending() ? " wrap" : "") + " pen " + Attributes(s.Attributes()) + " region " +
         std::to_string(s.ScrollTop()) + "-" + std::to_string(s.ScrollBottom()) + " modes " +
         std::to_string(s.AutoWrap()) + std::to_string(s.OriginMode()) +
         std::to_string(s.InsertMode()) + std::to_string(s.NewLineMode()) + " sets " +
         std::to_string(s.Charset(0)) + std::to_string(s.Charset(1)) + std::to_string(s.Shift()) +
         " tabs ";
  for (int c = 0; c < s.Columns(); ++c) out += s.IsTabStop(c) ? "T" : ".";
  out += " emulation " + std::to_string(rig.decoder.Emulation()) + " keys " +
         std::to_string(rig.decoder.CursorKeysApplication()) +
         std::to_string(rig.decoder.KeypadApplication()) + " bells " + std::to_string(rig.bells) +
         " replies ";
  for (const char c : rig.replies) out += c == '\033' ? std::string("ESC") : std::string(1, c);
  return out;
}

std::string Run(TTermEmulation emulation, const std::vector<std::string>& writes) {
  TRig rig(emulation);
  for (const std::string& w : writes) rig.decoder.Write(w);
  return Dump(rig);
}

// The same bytes cut in two at every boundary, and a byte a time, end where the whole write
// ends.
void ExpectCutsAgree(TTermEmulation emulation, const std::string& input, const char* name) {
  const std::string whole = Run(emulation, {input});
  for (size_t cut = 1; cut < input.size(); ++cut) {
    ASSERT_EQ(Run(emulation, {input.substr(0, cut), input.substr(cut)}), whole)
        << name << " cut at " << cut;
  }
  std::vector<std::string> bytes;
  for (const char c : input) bytes.emplace_back(1, c);
  ASSERT_EQ(Run(emulation, bytes), whole) << name << " a byte at a time";
}

struct TScreenCase {
  const char* Name;
  std::string Input;
  std::vector<std::string> Screen;  // from the top; rows not listed are blank
  int Column;
  int Row;
  std::vector<std::string> History = {};  // oldest first
  TTermEmulation Emulation = teANSI;
  std::string Sizes = "....";  // each row's size, as SizeLetter
};

void CheckScreens(const std::vector<TScreenCase>& cases) {
  for (const TScreenCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TRig rig(c.Emulation);
    rig.decoder.Write(c.Input);
    for (int r = 0; r < kRows; ++r) {
      const std::string want = r < static_cast<int>(c.Screen.size()) ? c.Screen[r] : "";
      EXPECT_EQ(rig.screen.LineText(r), want) << "row " << r;
    }
    EXPECT_EQ(rig.screen.CursorColumn(), c.Column);
    EXPECT_EQ(rig.screen.CursorRow(), c.Row);
    std::vector<std::string> history;
    for (int i = 0; i < rig.screen.HistoryCount(); ++i)
      history.push_back(rig.screen.HistoryText(i));
    EXPECT_EQ(history, c.History);
    EXPECT_EQ(Sizes(rig.screen), c.Sizes);
    ExpectCutsAgree(c.Emulation, c.Input, c.Name);
  }
}

const std::string kFourLines = "a\r\nb\r\nc\r\nd";

TEST(TermDecoder, PrintingAndPlainControls) {
  CheckScreens({
      {"plain text", "abc", {"abc"}, 3, 0},
      {"CR LF", "ab\r\ncd", {"ab", "cd"}, 2, 1},
      {"LF keeps the column", "ab\ncd", {"ab", "  cd"}, 4, 1},
      {"VT and FF feed lines", "a\vb\fc", {"a", " b", "  c"}, 3, 2},
      {"BS", "abc\b\bX", {"aXc"}, 2, 0},
      {"BS stops at the margin", "\b\bA", {"A"}, 1, 0},
      {"HT to the next stop", "a\tb", {"a       b"}, 9, 0},
      {"HT with no stop left stops at the last column", "a\t\t\tb", {"a        b"}, 9, 0},
      {"wrap", "0123456789AB", {"0123456789", "AB"}, 2, 1},
      {"the last column holds the cursor", "0123456789", {"0123456789"}, 9, 0},
      {"CR cancels the pending wrap", "0123456789\rX", {"X123456789"}, 1, 0},
      {"BS cancels the pending wrap", "0123456789\bX", {"01234567X9"}, 9, 0},
      {"no wrap: the last column is overwritten", "\033[?7l0123456789AB", {"012345678B"}, 9, 0},
      {"wrap again after DECAWM set", "\033[?7l\033[?7h0123456789A", {"0123456789", "A"}, 1, 1},
      {"LF at the bottom scrolls into the history",
       "1\r\n2\r\n3\r\n4\r\n5",
       {"2", "3", "4", "5"},
       1,
       3,
       {"1"}},
      {"history keeps its limit",
       "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8",
       {"5", "6", "7", "8"},
       1,
       3,
       {"2", "3", "4"}},
      {"wrapping at the bottom scrolls",
       std::string(40, 'x') + "Y",
       {"xxxxxxxxxx", "xxxxxxxxxx", "xxxxxxxxxx", "Y"},
       1,
       3,
       {"xxxxxxxxxx"}},
      {"upper half prints as Latin-1", "\351t", {"\303\251t"}, 2, 0},
      {"C1 controls are dropped", "a\205\233b", {"ab"}, 2, 0},
      {"DEL is ignored", "a\177b", {"ab"}, 2, 0},
      {"other C0 controls are ignored", std::string("a\0\001\005b", 5), {"ab"}, 2, 0},
      {"new-line mode: LF returns the carriage", "\033[20hab\ncd", {"ab", "cd"}, 2, 1},
      {"new-line mode off again", "\033[20h\033[20lab\ncd", {"ab", "  cd"}, 4, 1},
  });
}

TEST(TermDecoder, CursorMovement) {
  CheckScreens({
      {"CUP", "\033[2;3HX", {"", "  X"}, 3, 1},
      {"CUP without parameters homes", "abc\033[HX", {"Xbc"}, 1, 0},
      {"CUP with the column missing", "\033[3HX", {"", "", "X"}, 1, 2},
      {"HVP", "\033[3;1fX", {"", "", "X"}, 1, 2},
      {"CUP stays inside the screen", "\033[99;99HX", {"", "", "", "         X"}, 9, 3},
      {"CUU stops at the top", "\033[3;5H\033[9AX", {"    X"}, 5, 0},
      {"CUD stops at the bottom", "\033[9BX", {"", "", "", "X"}, 1, 3},
      {"CUF and CUB", "\033[3CX\033[2DY", {"  YX"}, 3, 0},
      {"CUB stops at the margin", "ab\033[9DX", {"Xb"}, 1, 0},
      {"a zero count moves one", "\033[2;2H\033[0AX", {" X"}, 2, 0},
      {"CHA", "abcdef\033[3GX", {"abXdef"}, 3, 0},
      {"HPA", "abcdef\033[2`X", {"aXcdef"}, 2, 0},
      {"VPA keeps the column", "ab\033[3dX", {"ab", "", "  X"}, 3, 2},
      {"HPR and VPR", "\033[2aX\033[eY", {"  X", "   Y"}, 4, 1},
      {"CNL", "ab\033[2EX", {"ab", "", "X"}, 1, 2},
      {"CPL", "\033[3;5H\033[2FX", {"X"}, 1, 0},
      {"a huge count saturates", "\033[99999999999CX", {"         X"}, 9, 0},
      {"leading zeros of any length",
       "\033[" + std::string(300, '0') + "2;0005HX",
       {"", "    X"},
       5,
       1},
  });
}

TEST(TermDecoder, EraseInLineAndDisplay) {
  const std::string e = "\033#8";  // fills the screen with E and homes
  CheckScreens({
      {"alignment pattern", e, {"EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE"}, 0, 0},
      {"the alignment pattern resets the margins and keeps origin mode",
       "\033[?6h" + e + "\033[2;3r\033[9;1HX",
       {"EEEEEEEEEE", "EEEEEEEEEE", "XEEEEEEEEE", "EEEEEEEEEE"},
       1,
       2},
      {"EL to the end",
       e + "\033[2;4H\033[K",
       {"EEEEEEEEEE", "EEE", "EEEEEEEEEE", "EEEEEEEEEE"},
       3,
       1},
      {"EL from the start, the cursor's cell included",
       e + "\033[2;4H\033[1K",
       {"EEEEEEEEEE", "    EEEEEE", "EEEEEEEEEE", "EEEEEEEEEE"},
       3,
       1},
      {"EL whole line",
       e + "\033[2;4H\033[2K",
       {"EEEEEEEEEE", "", "EEEEEEEEEE", "EEEEEEEEEE"},
       3,
       1},
      {"ED to the end", e + "\033[2;4H\033[J", {"EEEEEEEEEE", "EEE"}, 3, 1},
      {"ED from the start",
       e + "\033[2;4H\033[1J",
       {"", "    EEEEEE", "EEEEEEEEEE", "EEEEEEEEEE"},
       3,
       1},
      {"ED whole screen keeps the cursor", e + "\033[2;4H\033[2J", {}, 3, 1},
      {"ED 3 clears the history only", "1\r\n2\r\n3\r\n4\r\n5\033[3J", {"2", "3", "4", "5"}, 1, 3},
      {"ECH",
       e + "\033[2;4H\033[3X",
       {"EEEEEEEEEE", "EEE   EEEE", "EEEEEEEEEE", "EEEEEEEEEE"},
       3,
       1},
      {"ECH stops at the line's end",
       e + "\033[2;8H\033[9X",
       {"EEEEEEEEEE", "EEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE"},
       7,
       1},
      {"an unknown erase mode erases nothing",
       e + "\033[2;4H\033[7J\033[7K",
       {"EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE"},
       3,
       1},
  });
}

TEST(TermDecoder, InsertAndDeleteLinesAndCharacters) {
  const std::string& p = kFourLines;
  CheckScreens({
      {"IL", p + "\033[2;3H\033[L", {"a", "", "b", "c"}, 0, 1},
      {"IL two", p + "\033[2H\033[2L", {"a", "", "", "b"}, 0, 1},
      {"IL more than there are", p + "\033[2H\033[99L", {"a"}, 0, 1},
      {"DL", p + "\033[2H\033[M", {"a", "c", "d"}, 0, 1},
      {"DL inside a region", p + "\033[1;3r\033[2M", {"c", "", "", "d"}, 0, 0},
      {"IL below the region does nothing",
       p + "\033[1;2r\033[4H\033[L",
       {"a", "b", "c", "d"},
       0,
       3},
      {"ICH", "abcdef\033[3G\033[2@", {"ab  cdef"}, 2, 0},
      {"ICH pushes off the end", "0123456789\033[1G\033[3@", {"   0123456"}, 0, 0},
      {"DCH", "abcdef\033[2G\033[2P", {"adef"}, 1, 0},
      {"DCH more than there are", "abcdef\033[2G\033[99P", {"a"}, 1, 0},
      {"insert mode", "abc\033[4h\033[1GXY", {"XYabc"}, 2, 0},
      {"replace mode again", "abc\033[4h\033[4l\033[1GX", {"Xbc"}, 1, 0},
      {"SU", p + "\033[S", {"b", "c", "d"}, 1, 3, {"a"}},
      {"SD", p + "\033[2T", {"", "", "a", "b"}, 1, 3},
  });
}

TEST(TermDecoder, ScrollRegionIndexAndOrigin) {
  const std::string& p = kFourLines;
  CheckScreens({
      {"LF at the region's bottom scrolls the region only",
       p + "\033[2;3r\033[3;1H\nX",
       {"a", "c", "X", "d"},
       1,
       2},
      {"RI at the region's top", p + "\033[2;3r\033[2;1H\033MX", {"a", "X", "b", "d"}, 1, 1},
      {"RI at the screen's top", "a\033MX", {" X", "a"}, 2, 0},
      {"IND", "ab\033DX", {"ab", "  X"}, 3, 1},
      {"NEL", "ab\033EX", {"ab", "X"}, 1, 1},
      {"below the region the cursor reaches the bottom",
       "\033[1;2r\033[3;1H\n\nX",
       {"", "", "", "X"},
       1,
       3},
      {"a region from the top feeds the history", "\033[1;2ra\r\nb\r\nc", {"b", "c"}, 1, 1, {"a"}},
      {"origin mode", "\033[2;3r\033[?6h\033[1;1HX\033[9;1HY", {"", "X", "Y"}, 1, 2},
      {"origin mode keeps CUU inside the region", "\033[2;3r\033[?6h\033[9AX", {"", "X"}, 1, 1},
      {"a region of one line is refused", "ab\033[3;3rX", {"abX"}, 3, 0},
      {"an inverted region is refused", "ab\033[3;2rX", {"abX"}, 3, 0},
      {"DECSTBM without parameters is the whole screen",
       p + "\033[2;3r\033[r\033[4H\nX",
       {"b", "c", "d", "X"},
       1,
       3,
       {"a"}},
  });
}

TEST(TermDecoder, SavedCursor) {
  CheckScreens({
      {"ESC 7 and ESC 8", "ab\0337\033[3;5Hcd\0338X", {"abX", "", "    cd"}, 3, 0},
      {"CSI s and CSI u", "ab\033[s\033[3;5Hcd\033[uX", {"abX", "", "    cd"}, 3, 0},
      {"restore with nothing saved homes", "ab\033[2;2H\0338X", {"Xb"}, 1, 0},
      {"CSI s with a parameter saves nothing", "ab\033[1s\033[3;5H\033[uX", {"Xb"}, 1, 0},
      {"the character sets come back", "\033(0\0337\033(B\0338q", {"\342\224\200"}, 1, 0},
      {"a pending wrap comes back", "0123456789\0337\r\0338X", {"0123456789", "X"}, 1, 1},
  });
}

TEST(TermDecoder, TabStops) {
  CheckScreens({
      {"HTS", "\033[4G\033H\r\tX", {"   X"}, 4, 0},
      {"TBC clears the stop under the cursor", "\033[9G\033[g\r\tX", {"         X"}, 9, 0},
      {"TBC 3 clears them all", "\033[3g\tX", {"         X"}, 9, 0},
      {"CHT", "\033[2IX", {"         X"}, 9, 0},
      {"CBT", "\033[10G\033[ZX", {"        X"}, 9, 0},
      {"CBT stops at the margin", "abc\033[ZX", {"Xbc"}, 1, 0},
  });
}

TEST(TermDecoder, CharacterSets) {
  CheckScreens({
      {"line drawing in G0", "\033(0lqk\033(Bq", {"\342\224\214\342\224\200\342\224\220q"}, 4, 0},
      {"G1 by shift out and in", "\033)0a\016q\017q", {"a\342\224\200q"}, 3, 0},
      {"UK set", "\033(A#", {"\302\243"}, 1, 0},
      {"a set it does not know changes nothing", "\033(0\033(Zq", {"\342\224\200"}, 1, 0},
  });
}

TEST(TermDecoder, VT52) {
  const std::string& p = kFourLines;
  CheckScreens({
      {"direct address and cursor moves",
       "\033Y\"%X\033A\033DY",
       {"", "     Y", "     X"},
       6,
       1,
       {},
       teVT52},
      {"down and right", "\033B\033C\033CX", {"", "  X"}, 3, 1, {}, teVT52},
      {"home", "abc\033HX", {"Xbc"}, 1, 0, {}, teVT52},
      {"plain lines: no sequences, SO prints nothing",
       "\033[1mA\016\033Hb",
       {"[1mAHb"},
       6,
       0,
       {},
       tePlain},
      {"erase to the end of the screen", p + "\033Y! \033J", {"a"}, 0, 1, {}, teVT52},
      {"erase to the end of the line", "abcdef\033Y \"\033K", {"ab"}, 2, 0, {}, teVT52},
      {"reverse line feed", "a\033IX", {" X", "a"}, 2, 0, {}, teVT52},
      {"direct address stays inside the screen",
       "\033Y~~X",
       {"", "", "", "         X"},
       9,
       3,
       {},
       teVT52},
      {"graphics on and off",
       "\033Fafk\033Ga",
       {"\342\226\210\302\260\342\206\223a"},
       4,
       0,
       {},
       teVT52},
      {"no CSI: ESC [ is dropped, the rest prints", "\033[2JX", {"2JX"}, 3, 0, {}, teVT52},
      {"no shift in VT52", "\016q", {"q"}, 1, 0, {}, teVT52},
      {"ESC < back to ANSI", "\033<\033[2CX", {"  X"}, 3, 0, {}, teVT52},
      {"CSI ? 2 l from ANSI to VT52", "\033[?2l\033Y!!X", {"", " X"}, 2, 1},
      {"and back", "\033[?2l\033<\033[2;2HX", {"", " X"}, 2, 1},
  });
}

TEST(TermDecoder, MalformedAndUnknownSequencesAreDropped) {
  const std::string ones16 = "3;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1";
  CheckScreens({
      {"unknown CSI final", "a\033[5yb", {"ab"}, 2, 0},
      {"unknown ESC", "a\033Qb", {"ab"}, 2, 0},
      {"sixteen parameters are read", "a\033[" + ones16 + "Cb", {"a   b"}, 5, 0},
      {"past sixteen the rest are ignored", "a\033[" + ones16 + ";7;8;9Cb", {"a   b"}, 5, 0},
      {"sub-parameters", "a\033[4:3Cb", {"ab"}, 2, 0},
      {"a marker not leading", "a\033[1?Cb", {"ab"}, 2, 0},
      {"digits after an intermediate", "a\033[ 1Cb", {"ab"}, 2, 0},
      {"two intermediates", "a\033[!!Cb", {"ab"}, 2, 0},
      {"a private CSI we do not know", "a\033[>5Cb", {"ab"}, 2, 0},
      {"an upper-half byte inside a CSI", "a\033[2\351Cb", {"ab"}, 2, 0},
      {"an upper-half byte after ESC", "a\033\351b", {"ab"}, 2, 0},
      {"two ESC intermediates", "\033( 0q", {"q"}, 1, 0},
      {"CAN ends a sequence", "a\033[3\030Cb", {"aCb"}, 3, 0},
      {"SUB ends a sequence", "a\033[3\032Cb", {"aCb"}, 3, 0},
      {"ESC starts over", "a\033[3\033[2Cb", {"a  b"}, 4, 0},
      {"a control inside a CSI acts and the CSI goes on", "ab\033[\b2CX", {"ab X"}, 4, 0},
      {"OSC to BEL", "a\033]0;title\ab", {"ab"}, 2, 0},
      {"OSC to ST", "a\033]2;x\033\\b", {"ab"}, 2, 0},
      {"DCS", "a\033Pq#0;1\033\\b", {"ab"}, 2, 0},
      {"ST alone", "a\033\\b", {"ab"}, 2, 0},
      // Counted from the byte after ESC, the 256th still belongs to the sequence.
      {"the last byte within the length limit",
       "a\033[" + std::string(254, '1') + "Cb",
       {"a        b"},
       9,
       0},
      {"one byte past the limit is ordinary input",
       "a\033[" + std::string(255, '1') + "Cb",
       {"aCb"},
       3,
       0},
      {"a string past the limit", "\033]" + std::string(255, 'x') + "ab\a", {"ab"}, 2, 0},
  });
}

TEST(TermDecoder, DoubleSizeLines) {
  const std::string dwl = "\033#6";
  CheckScreens({
      {"a double-width line holds half the columns",
       dwl + "0123456789",
       {"01234", "56789"},
       5,
       1,
       {},
       teANSI,
       "W..."},
      {"made double width, the line loses its right half and the cursor comes in",
       "0123456789\033[1;8H" + dwl + "X",
       {"0123X"},
       4,
       0,
       {},
       teVT100,
       "W..."},
      {"CUP and CUF stop at its last column",
       dwl + "\033[1;9HA\033[9CB",
       {"    B"},
       4,
       0,
       {},
       teANSI,
       "W..."},
      {"moving onto it brings the cursor in",
       "\033[2H" + dwl + "\033[1;9H\033[BX",
       {"", "    X"},
       4,
       1,
       {},
       teANSI,
       ".W.."},
      {"HT stops at its last column", dwl + "\tX", {"    X"}, 4, 0, {}, teANSI, "W..."},
      {"ICH and DCH stay within its half",
       dwl + "abcde\033[1G\033[@\033[2;1H" + dwl + "abcde\033[1G\033[P",
       {" abcd", "bcde"},
       0,
       1,
       {},
       teANSI,
       "WW.."},
      {"double height top and bottom, and single again",
       "\033#3a\r\n\033#4a\r\n" + dwl + "\033#5b",
       {"a", "a", "b"},
       1,
       2,
       {},
       teANSI,
       "TB.."},
      {"the size moves with its line, into the history too",
       dwl + "a\r\n\033#3b\033[2S",
       {"", "", "", ""},
       1,
       1,
       {"a", "b"},
       teANSI,
       "...."},
      {"scrolled down, it moves the other way",
       dwl + "a\033[T",
       {"", "a"},
       1,
       0,
       {},
       teANSI,
       ".W.."},
      {"erasing in the line keeps its size", dwl + "ab\033[2K", {}, 2, 0, {}, teANSI, "W..."},
      {"lines erased whole by ED become single",
       dwl + "\033[2H" + dwl + "\033[3H" + dwl + "\033[2;2H\033[1J\033[3;2H\033[J",
       {},
       1,
       2,
       {},
       teANSI,
       ".WW."},
      {"the alignment pattern makes every line single",
       dwl + "\033#8",
       {"EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE"},
       0,
       0},
  });
}

// DECCOLM: the width a program asks for lasts until a reset or another emulation.
TEST(TermDecoder, ColumnMode) {
  CheckScreens({{"DECCOLM clears, homes and resets the margins",
                 "ab\033[2;3r\033[3;2H\033[?3h\033[4;200HX\033[1;1H\nY",
                 {"", "Y", "", std::string(131, ' ') + "X"},
                 1,
                 1}});
  TRig rig(teANSI);
  rig.decoder.Write("\033[3g\033[?3h");
  EXPECT_EQ(rig.screen.Columns(), 132);
  EXPECT_EQ(rig.screen.SetupColumns(), kColumns);
  EXPECT_FALSE(rig.screen.IsTabStop(8));  // cleared before, kept
  EXPECT_TRUE(rig.screen.IsTabStop(16));  // a column the screen never had: the default
  rig.decoder.Write("\033[?3l");
  EXPECT_EQ(rig.screen.Columns(), 80);
  rig.decoder.Write("\033c");
  EXPECT_EQ(rig.screen.Columns(), kColumns);
  rig.decoder.Write("\033[?3hkept");
  rig.decoder.SetEmulation(teVT100);
  EXPECT_EQ(rig.screen.Columns(), kColumns);
  EXPECT_EQ(rig.screen.LineText(0), "kept");
}

// DECREQTPARM reports the line as the VT100 codes it.
TEST(TermDecoder, ParameterReportGivesTheLinesSettings) {
  struct TCase {
    TTermLineSettings Line;
    std::string Reply;
  };
  const std::vector<TCase> cases = {
      {{50, 7, tpOdd}, "\033[3;4;2;0;0;1;0x"},
      {{134, 8, tpEven}, "\033[3;5;1;24;24;1;0x"},
      {{14400, 8, tpMark}, "\033[3;1;1;112;112;1;0x"},  // between steps: the lower
      {{19200, 6, tpSpace}, "\033[3;1;2;120;120;1;0x"},
      {{19201, 8, tpNone}, "\033[3;1;1;128;128;1;0x"},
      {{10, 8, tpNone}, "\033[3;1;1;0;0;1;0x"},
  };
  for (const TCase& c : cases) {
    TRig rig(teVT100);
    rig.decoder.OnLineSettings = [&](TTermDecoder&) { return c.Line; };
    rig.decoder.Write("\033[1x");
    EXPECT_EQ(rig.replies, c.Reply) << c.Line.BaudRate;
  }
}

struct TAttributeCase {
  const char* Name;
  std::string Input;
  int Column;
  int Row;
  TTermAttributes Cell;
  TTermEmulation Emulation = teANSI;
};

TTermAttributes Colours(TTermColor foreground, TTermColor background) {
  TTermAttributes a;
  a.Foreground = foreground;
  a.Background = background;
  return a;
}

TEST(TermDecoder, GraphicRendition) {
  TTermAttributes bold;
  bold.Bold = true;
  TTermAttributes marked;
  marked.Underline = marked.Blink = marked.Reverse = true;
  const std::vector<TAttributeCase> cases = {
      {"bold", "\033[1mX", 0, 0, bold},
      {"underline, blink, reverse", "\033[4;5;7mX", 0, 0, marked},
      {"0 resets", "\033[1;4m\033[0mX", 0, 0, {}},
      {"no parameter resets", "\033[1;4m\033[mX", 0, 0, {}},
      {"each off again", "\033[1;4;5;7m\033[22;24;25;27mX", 0, 0, {}},
      {"foreground and background", "\033[31;42mX", 0, 0, Colours(tcRed, tcGreen)},
      {"black and white", "\033[37;40mX", 0, 0, Colours(tcWhite, tcBlack)},
      {"the defaults again", "\033[31;42m\033[39;49mX", 0, 0, {}},
      {"bright colours are the colours", "\033[93;104mX", 0, 0, Colours(tcYellow, tcBlue)},
      {"palette foreground", "\033[38;5;4mX", 0, 0, Colours(tcBlue, tcDefault)},
      {"palette background, upper eight", "\033[48;5;9mX", 0, 0, Colours(tcDefault, tcRed)},
      {"palette beyond sixteen shows nothing", "\033[38;5;200mX", 0, 0, {}},
      {"true colour arguments are not attributes", "\033[38;2;1;4;5mX", 0, 0, {}},
      {"38 with no form drops the rest", "\033[38;1mX", 0, 0, {}},
      {"after a colour's arguments the next parameter counts", "\033[38;5;1;1mX", 0, 0,
       [] {
         TTermAttributes a = Colours(tcRed, tcDefault);
         a.Bold = true;
         return a;
       }()},
      {"cells keep the pen they were written with", "A\033[1mB", 0, 0, {}},
      {"erasing takes the pen's background", "\033[44;1m\033[2J", 5, 2, Colours(tcDefault, tcBlue)},
      {"inserted blanks too", "ab\033[41m\033[1G\033[@", 0, 0, Colours(tcDefault, tcRed)},
      {"past sixteen parameters the rest are ignored", "\033[4;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;0mX",
       0, 0,
       [] {
         TTermAttributes a;
         a.Bold = a.Underline = true;
         return a;
       }()},
      {"the alignment pattern is plain whatever the pen", "\033[1;7;44m\033#8", 3, 2, {}},
      {"sub-parameters are dropped", "\033[4:3mX", 0, 0, {}},
      {"the saved pen comes back", "\033[1m\0337\033[0m\0338X", 0, 0, bold},
      {"a monochrome VT100 shows no colour", "\033[1;31;44mX", 0, 0, bold, teVT100},
      {"and reads the colour's arguments", "\033[38;5;1;4mX", 0, 0,
       [] {
         TTermAttributes a;
         a.Underline = true;
         return a;
       }(),
       teVT100},
  };
  for (const TAttributeCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TRig rig(c.Emulation);
    rig.decoder.Write(c.Input);
    EXPECT_EQ(Attributes(rig.screen.Cell(c.Column, c.Row).Attributes), Attributes(c.Cell));
    ExpectCutsAgree(c.Emulation, c.Input, c.Name);
  }
}

struct TReplyCase {
  const char* Name;
  std::string Input;
  std::string Replies;
  int Bells = 0;
  TTermEmulation Emulation = teANSI;
};

TEST(TermDecoder, RepliesAndBell) {
  const std::vector<TReplyCase> cases = {
      {"status report", "\033[5n", "\033[0n"},
      {"cursor position report", "\033[3;7H\033[6n", "\033[3;7R"},
      {"cursor position in origin mode", "\033[2;4r\033[?6h\033[2;3H\033[6n", "\033[2;3R"},
      {"identification", "\033[c", "\033[?1;2c"},
      {"identification with 0", "\033[0c", "\033[?1;2c"},
      {"identification by ESC Z", "\033Z", "\033[?1;2c"},
      {"an identification request we do not know", "\033[1c", ""},
      {"the secondary identification is not ours", "\033[>c", ""},
      {"an unknown report", "\033[7n", ""},
      {"line parameters, unsolicited allowed", "\033[x", "\033[2;1;1;112;112;1;0x"},
      {"line parameters, when asked only", "\033[1x", "\033[3;1;1;112;112;1;0x"},
      {"a parameter request we do not know", "\033[2x", ""},
      {"two reports in order", "\033[5n\033[6n", "\033[0n\033[1;1R"},
      {"VT52 identification", "\033Z", "\033/Z", 0, teVT52},
      {"no report in VT52", "\033[6n", "", 0, teVT52},
      {"VT100 identifies the same", "\033[c", "\033[?1;2c", 0, teVT100},
      {"BEL", "a\a\a", "", 2},
      {"BEL ending a string does not ring", "\033]0;t\a", "", 0},
      {"BEL inside a CSI rings", "\033[\a2C", "", 1},
  };
  for (const TReplyCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TRig rig(c.Emulation);
    rig.decoder.Write(c.Input);
    EXPECT_EQ(rig.replies, c.Replies);
    EXPECT_EQ(rig.bells, c.Bells);
    ExpectCutsAgree(c.Emulation, c.Input, c.Name);
  }
}

struct TKeyCase {
  TTermEmulation Emulation;
  std::string Modes;  // bytes received first
  TTermKey Key;
  std::string Bytes;
};

TEST(TermDecoder, KeysSendWhatTheEmulationSends) {
  const std::string app = "\033[?1h";
  const std::vector<TKeyCase> cases = {
      {teANSI, "", tkUp, "\033[A"},
      {teANSI, "", tkDown, "\033[B"},
      {teANSI, "", tkRight, "\033[C"},
      {teANSI, "", tkLeft, "\033[D"},
      {teANSI, "", tkHome, "\033[H"},
      {teANSI, "", tkEnd, "\033[F"},
      {teANSI, "", tkInsert, "\033[2~"},
      {teANSI, "", tkDelete, "\033[3~"},
      {teANSI, "", tkPageUp, "\033[5~"},
      {teANSI, "", tkPageDown, "\033[6~"},
      {teANSI, "", tkF1, "\033OP"},
      {teANSI, "", tkF2, "\033OQ"},
      {teANSI, "", tkF3, "\033OR"},
      {teANSI, "", tkF4, "\033OS"},
      {teANSI, "", tkF5, "\033[15~"},
      {teANSI, "", tkF6, "\033[17~"},
      {teANSI, "", tkF7, "\033[18~"},
      {teANSI, "", tkF8, "\033[19~"},
      {teANSI, "", tkF9, "\033[20~"},
      {teANSI, "", tkF10, "\033[21~"},
      {teANSI, "", tkF11, "\033[23~"},
      {teANSI, "", tkF12, "\033[24~"},
      {teANSI, app, tkUp, "\033OA"},
      {teANSI, app, tkLeft, "\033OD"},
      {teANSI, app, tkHome, "\033OH"},
      {teANSI, app, tkEnd, "\033OF"},
      {teANSI, app, tkF1, "\033OP"},
      {teANSI, app, tkF5, "\033[15~"},
      {teANSI, app, tkDelete, "\033[3~"},
      {teANSI, app + "\033[?1l", tkUp, "\033[A"},
      {teVT100, "", tkDown, "\033[B"},
      {teVT100, app, tkDown, "\033OB"},
      {teVT100, "", tkF12, "\033[24~"},
      {teVT52, "", tkUp, "\033A"},
      {teVT52, "", tkDown, "\033B"},
      {teVT52, "", tkRight, "\033C"},
      {teVT52, "", tkLeft, "\033D"},
      {teVT52, "", tkHome, "\033H"},
      {teVT52, "", tkF1, "\033P"},
      {teVT52, "", tkF4, "\033S"},
      {teVT52, "", tkEnd, ""},
      {teVT52, "", tkF5, ""},
      {teVT52, "", tkDelete, ""},
      // Switched to VT52 from the line, the keys follow, and an application mode set before
      // means nothing to them.
      {teANSI, app + "\033[?2l", tkUp, "\033A"},
      {teANSI, "\033[?2l\033<", tkUp, "\033[A"},
      {teANSI, "", tkReturn, "\r"},
      {teVT100, "\033[20h", tkReturn, "\r\n"},  // new-line mode
      {teANSI, "\033[20h\033[?2l", tkReturn, "\r"},
      // A reset ends the application mode.
      {teANSI, app + "\033c", tkUp, "\033[A"},
  };
  for (const TKeyCase& c : cases) {
    TRig rig(c.Emulation);
    rig.decoder.Write(c.Modes);
    EXPECT_EQ(rig.decoder.KeyBytes(c.Key), c.Bytes)
        << "emulation " << int{c.Emulation} << " key " << int{c.Key} << " after " << c.Modes.size()
        << " bytes";
  }
}

TEST(TermDecoder, KeypadModeAndEmulationSwitch) {
  TRig rig(teANSI);
  rig.decoder.Write("\033=");
  EXPECT_TRUE(rig.decoder.KeypadApplication());
  rig.decoder.Write("\033>");
  EXPECT_FALSE(rig.decoder.KeypadApplication());
  rig.decoder.Write("\033[?1h\033=");
  // Setting an emulation starts its modes afresh and ends a sequence half-way.
  rig.decoder.Write("\033[3");
  rig.decoder.SetEmulation(teVT100);
  EXPECT_FALSE(rig.decoder.CursorKeysApplication());
  EXPECT_FALSE(rig.decoder.KeypadApplication());
  rig.decoder.Write("CX");
  EXPECT_EQ(rig.screen.LineText(0), "CX");
  // ESC < goes back to the emulation VT52 was entered from.
  rig.decoder.Write("\033[?2l");
  EXPECT_EQ(rig.decoder.Emulation(), teVT52);
  rig.decoder.Write("\033<");
  EXPECT_EQ(rig.decoder.Emulation(), teVT100);
}

TEST(TermScreen, SizeAndHistoryLimits) {
  TTermScreen screen(kColumns, kRows, kHistory);
  TTermDecoder decoder(screen);
  decoder.Write("1\r\n2\r\n3\r\n4");
  // Fewer rows: the lines above the cursor leave for the history so its line stays in sight.
  screen.SetSize(5, 2);
  EXPECT_EQ(screen.HistoryCount(), 2);
  EXPECT_EQ(screen.HistoryText(1), "2");
  EXPECT_EQ(screen.LineText(0), "3");
  EXPECT_EQ(screen.LineText(1), "4");
  EXPECT_EQ(screen.CursorRow(), 1);
  EXPECT_EQ(screen.ScrollBottom(), 1);
  // More columns: the lines widen with blanks, and the tab stops cover the new width.
  screen.SetSize(20, 2);
  EXPECT_EQ(static_cast<int>(screen.Line(0).size()), 20);
  EXPECT_TRUE(screen.IsTabStop(16));
  // Fewer columns cut the lines and bring the cursor in.
  decoder.Write("\033[1;20Hz");
  screen.SetSize(4, 2);
  EXPECT_EQ(screen.CursorColumn(), 3);
  EXPECT_EQ(static_cast<int>(screen.Line(0).size()), 4);
  // A smaller limit drops the oldest at once; none keeps none.
  screen.SetHistoryLimit(1);
  EXPECT_EQ(screen.HistoryCount(), 1);
  EXPECT_EQ(screen.HistoryText(0), "2");
  screen.SetHistoryLimit(0);
  decoder.Write("\r\n\r\n\r\n");
  EXPECT_EQ(screen.HistoryCount(), 0);
  // Sizes and limits out of range are clamped, never refused.
  screen.SetSize(0, 100000);
  EXPECT_EQ(screen.Columns(), 1);
  EXPECT_EQ(screen.Rows(), TTermScreen::kMaxRows);
  screen.SetHistoryLimit(-5);
  EXPECT_EQ(screen.HistoryLimit(), 0);
}

// Bytes of every kind, heavy in the ones that start and shape sequences, over several sizes:
// the cursor stays on the screen and the history within its limit after every write.
TEST(TermScreen, ArbitraryBytesKeepTheScreenWhole) {
  const char alphabet[] = "\033[];?0123456789;;HJKLMPX@rsumnhlcgABCDEFGYZ78=<>()#\r\n\b\t\a x";
  uint32_t state = 12345;
  const auto next = [&state](uint32_t bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % bound;
  };
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {2, 3}, {10, 4}, {80, 24}};
  for (const auto& [columns, rows] : sizes) {
    TTermScreen screen(columns, rows, 5);
    TTermDecoder decoder(screen);
    for (int write = 0; write < 2000; ++write) {
      std::string bytes;
      for (uint32_t n = next(40); n > 0; --n) {
        bytes += next(4) == 0 ? static_cast<char>(next(256)) : alphabet[next(sizeof alphabet - 1)];
      }
      if (next(50) == 0) decoder.SetEmulation(static_cast<TTermEmulation>(next(3)));
      decoder.Write(bytes);
      ASSERT_GE(screen.CursorColumn(), 0);
      ASSERT_LT(screen.CursorColumn(), screen.LineColumns(screen.LineSize(screen.CursorRow())));
      ASSERT_GE(screen.CursorRow(), 0);
      ASSERT_LT(screen.CursorRow(), screen.Rows());
      ASSERT_LE(screen.HistoryCount(), 5);
      ASSERT_LE(screen.ScrollTop(), screen.ScrollBottom());
    }
  }
}

}  // namespace
}  // namespace widgets::test
