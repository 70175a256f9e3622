#pragma once
// The screen a terminal shows, as plain values: a grid of character cells with their
// attributes, the cursor, the scroll region, the tab stops, the saved cursor and the lines that
// scrolled off the top. The decoder turns received bytes into calls on it; a view reads it.
//
// The cursor is inside the grid after every call, and nothing grows past the size and the
// history limit: a line that scrolls off the top of a full-screen region goes to the history,
// and the oldest history line goes once the limit is reached. Every count and position given
// to it is clamped, never refused.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>
#include "../../platform/Export.h"

namespace widgets {

// The eight colours of a colour terminal, and the view's own foreground or background.
enum TTermColor : uint8_t {
  tcDefault,
  tcBlack,
  tcRed,
  tcGreen,
  tcYellow,
  tcBlue,
  tcMagenta,
  tcCyan,
  tcWhite
};

struct VALTREX_API TTermAttributes {
  bool Bold = false;
  bool Underline = false;
  bool Blink = false;
  bool Reverse = false;
  TTermColor Foreground = tcDefault;
  TTermColor Background = tcDefault;

  friend bool operator==(const TTermAttributes&, const TTermAttributes&) = default;
};

struct VALTREX_API TTermCell {
  char32_t Char = U' ';
  TTermAttributes Attributes;

  friend bool operator==(const TTermCell&, const TTermCell&) = default;
};

using TTermLine = std::vector<TTermCell>;

// What a character set makes of the printable bytes: the line-drawing sets replace the lower
// case letters and a few marks with drawing and symbol characters; the UK set has a pound sign
// for '#'.
enum TTermCharset : uint8_t { tsASCII, tsUK, tsLineDrawing, tsVT52Graphics };

// What ESC 7 / CSI s keep and ESC 8 / CSI u give back.
struct VALTREX_API TTermSavedCursor {
  int Column = 0;
  int Row = 0;
  TTermAttributes Attributes;
  bool OriginMode = false;
  bool WrapPending = false;
  int Shift = 0;  // 0 prints with G0, 1 with G1
  TTermCharset Charsets[2] = {tsASCII, tsASCII};
};

class VALTREX_API TTermScreen {
 public:
  static constexpr int kMaxColumns = 512;
  static constexpr int kMaxRows = 256;
  static constexpr int kMaxHistory = 100000;
  static constexpr int kTabWidth = 8;

  explicit TTermScreen(int columns = 80, int rows = 24, int historyLimit = 1000);

  // --- Size and history
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  // Keeps what is on the screen from its top left corner; when rows go, lines above the
  // cursor go to the history first so that the cursor's line stays in sight. The scroll region
  // becomes the whole screen and the tab stops their defaults.
  void SetSize(int columns, int rows);
  int HistoryLimit() const { return historyLimit_; }
  void SetHistoryLimit(int lines);
  int HistoryCount() const { return static_cast<int>(history_.size()); }
  // 0 is the oldest line kept. A history line holds no trailing blanks and may be shorter or
  // longer than the screen is wide now.
  const TTermLine& HistoryLine(int index) const;
  void ClearHistory() { history_.clear(); }
  // Lines ever added to the history, whether or not they are still kept; a view compares two
  // readings to learn how far its text moved.
  uint64_t HistoryAdded() const { return historyAdded_; }

  // --- Contents
  const TTermCell& Cell(int column, int row) const;
  const TTermLine& Line(int row) const;
  // A line's characters in UTF-8 without trailing blanks.
  std::string LineText(int row) const;
  std::string HistoryText(int index) const;
  static std::string LineToText(const TTermLine& line);

  // --- Cursor and pen
  int CursorColumn() const { return column_; }
  int CursorRow() const { return row_; }
  // After a character in the last column with wrap on: the next character starts a new line.
  bool WrapPending() const { return wrapPending_; }
  const TTermAttributes& Attributes() const { return pen_; }
  void SetAttributes(const TTermAttributes& value) { pen_ = value; }
  int ScrollTop() const { return top_; }
  int ScrollBottom() const { return bottom_; }
  bool IsTabStop(int column) const;

  // --- Modes
  bool AutoWrap() const { return autoWrap_; }
  void SetAutoWrap(bool value);
  // Positions count from the top of the scroll region, and the cursor stays within it.
  bool OriginMode() const { return originMode_; }
  void SetOriginMode(bool value);
  bool InsertMode() const { return insertMode_; }
  void SetInsertMode(bool value) { insertMode_ = value; }
  // A line feed also returns the carriage.
  bool NewLineMode() const { return newLineMode_; }
  void SetNewLineMode(bool value) { newLineMode_ = value; }
  bool CursorVisible() const { return cursorVisible_; }
  void SetCursorVisible(bool value) { cursorVisible_ = value; }
  // The whole screen shown in reverse video.
  bool ReverseScreen() const { return reverseScreen_; }
  void SetReverseScreen(bool value) { reverseScreen_ = value; }

  // --- Character sets: G0 and G1 each hold a set, and the shift state picks the one printed
  // with.
  TTermCharset Charset(int set) const { return charsets_[set & 1]; }
  void SetCharset(int set, TTermCharset value) { charsets_[set & 1] = value; }
  int Shift() const { return shift_; }
  void SetShift(int set) { shift_ = set & 1; }
  // What a printable character becomes in the set in use.
  char32_t Translate(char32_t ch) const;

  // --- Writing. Put prints one character at the cursor with the pen (through the line-drawing
  // set when it is active), wrapping or not as AutoWrap says.
  void Put(char32_t ch);
  void CarriageReturn();
  void LineFeed();      // down one line, scrolling the region at its bottom margin
  void Index();         // the same, without the new-line mode's carriage return
  void ReverseIndex();  // up one line, scrolling the region down at its top margin
  void NextLine();      // carriage return and index
  void Backspace();
  void Tab(int count = 1);
  void BackTab(int count = 1);

  // --- Cursor movement. Up and down stop at the scroll region's margins when the cursor is
  // inside it, at the screen's edges otherwise.
  void CursorUp(int count);
  void CursorDown(int count);
  void CursorForward(int count);
  void CursorBack(int count);
  // Zero-based; relative to the scroll region in origin mode.
  void MoveTo(int column, int row);
  void MoveToColumn(int column);
  void MoveToRow(int row);

  // --- Erasing and editing. Erased cells are blanks in the pen's background.
  // 0: cursor to end, 1: start to cursor, 2: all; for the display 3 also clears the history.
  void EraseInDisplay(int mode);
  void EraseInLine(int mode);
  void EraseChars(int count);
  void InsertLines(int count);
  void DeleteLines(int count);
  void InsertChars(int count);
  void DeleteChars(int count);
  void ScrollUp(int count);
  void ScrollDown(int count);
  // Zero-based, inclusive; a region of fewer than two lines is refused and changes nothing.
  // A region set homes the cursor.
  void SetScrollRegion(int top, int bottom);
  void FillWith(char32_t ch);  // every cell, for the alignment pattern

  // --- Tab stops
  void SetTabStop();
  void ClearTabStop();
  void ClearAllTabStops();

  // --- Saved cursor
  void SaveCursor();
  // With nothing saved: home, the default pen and character sets.
  void RestoreCursor();

  // The screen of a terminal just switched on, with its size and history limit kept and the
  // history emptied.
  void Reset();

 private:
  TTermCell Blank() const;
  TTermLine BlankLine() const;
  void ResetTabStops();
  void ScrollRegionUp(int top, int bottom, int count);
  void ScrollRegionDown(int top, int bottom, int count);
  void PushHistory(const TTermLine& line);
  void TrimHistory();
  int MinRow() const { return originMode_ ? top_ : 0; }
  int MaxRow() const { return originMode_ ? bottom_ : rows_ - 1; }

  int columns_;
  int rows_;
  int historyLimit_;
  std::vector<TTermLine> lines_;
  std::deque<TTermLine> history_;
  uint64_t historyAdded_ = 0;
  std::vector<bool> tabStops_;

  int column_ = 0;
  int row_ = 0;
  bool wrapPending_ = false;
  TTermAttributes pen_;
  int top_ = 0;
  int bottom_ = 0;

  bool autoWrap_ = true;
  bool originMode_ = false;
  bool insertMode_ = false;
  bool newLineMode_ = false;
  bool cursorVisible_ = true;
  bool reverseScreen_ = false;
  int shift_ = 0;
  TTermCharset charsets_[2] = {tsASCII, tsASCII};

  TTermSavedCursor saved_;
  bool hasSaved_ = false;
};

}  // namespace widgets
