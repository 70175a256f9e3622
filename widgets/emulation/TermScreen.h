#pragma once
/// \file
/// The screen a terminal shows, as plain values: a grid of character cells with their
/// attributes, the cursor, the scroll region, the tab stops, the saved cursor and the lines that
/// scrolled off the top. The decoder turns received bytes into calls on it; a view reads it.
///
/// The cursor is inside the grid after every call, and nothing grows past the size and the
/// history limit: a line that scrolls off the top of a full-screen region goes to the history,
/// and the oldest history line goes once the limit is reached. Every count and position given
/// to it is clamped, never refused.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>
#include "../../platform/Export.h"

/// The serial component's visual accessories: lamps, setting selectors, setup dialogs and the
/// terminal control in Qt, and beneath them the terminal's decoder and screen, which need no
/// toolkit.
namespace widgets {

/// The eight colours of a colour terminal, and the view's own foreground or background.
enum TTermColor : uint8_t {
  tcDefault,  ///< the view's own colour (SGR 39 and 49)
  tcBlack,    ///< SGR 30 and 40, and the bright 90 and 100
  tcRed,      ///< SGR 31 and 41, and the bright 91 and 101
  tcGreen,    ///< SGR 32 and 42, and the bright 92 and 102
  tcYellow,   ///< SGR 33 and 43, and the bright 93 and 103
  tcBlue,     ///< SGR 34 and 44, and the bright 94 and 104
  tcMagenta,  ///< SGR 35 and 45, and the bright 95 and 105
  tcCyan,     ///< SGR 36 and 46, and the bright 96 and 106
  tcWhite     ///< SGR 37 and 47, and the bright 97 and 107
};

/// How a character shows.
struct VALTREX_API TTermAttributes {
  bool Bold = false;                  ///< bold, or bright where the view has no bold face
  bool Underline = false;             ///< underlined
  bool Blink = false;                 ///< blinking; the control shows it steady
  bool Reverse = false;               ///< foreground and background swapped
  TTermColor Foreground = tcDefault;  ///< the character's colour
  TTermColor Background = tcDefault;  ///< the cell's colour

  /// Whether both show the same.
  friend bool operator==(const TTermAttributes&, const TTermAttributes&) = default;
};

/// One character position of the screen.
struct VALTREX_API TTermCell {
  char32_t Char = U' ';        ///< the character, as a Unicode code point; a blank by default
  TTermAttributes Attributes;  ///< how it shows

  /// Whether both hold the same character shown the same way.
  friend bool operator==(const TTermCell&, const TTermCell&) = default;
};

/// How a line shows its characters: each of them twice as wide on a double-width line, and on
/// the two lines of a double-height pair the top or the bottom half of each character twice as
/// tall (the pair is two lines, each keeping its own characters).
enum TTermLineSize : uint8_t {
  lsSingle,       ///< as the cells are (DECSWL)
  lsDoubleWidth,  ///< twice as wide (DECDWL)
  lsDoubleTop,    ///< twice as wide, the top half twice as tall (DECDHL top)
  lsDoubleBottom  ///< twice as wide, the bottom half twice as tall (DECDHL bottom)
};

/// A line of cells, from the first column, and its size. The size belongs to the line and moves
/// with it when the screen scrolls, into the history too.
struct TTermLine : std::vector<TTermCell> {
  using std::vector<TTermCell>::vector;
  TTermLineSize Size = lsSingle;  ///< how the line shows its characters

  /// Whether both hold the same cells shown at the same size.
  friend bool operator==(const TTermLine&, const TTermLine&) = default;
};

/// What a character set makes of the printable bytes: the line-drawing sets replace the lower
/// case letters and a few marks with drawing and symbol characters; the UK set has a pound sign
/// for '#'.
enum TTermCharset : uint8_t {
  tsASCII,        ///< the printable bytes as they are
  tsUK,           ///< ASCII with a pound sign for '#'
  tsLineDrawing,  ///< the VT100's special graphics: box-drawing lines and symbols
  tsVT52Graphics  ///< the VT52's graphics set (ESC F)
};

/// What ESC 7 / CSI s keep and ESC 8 / CSI u give back.
struct VALTREX_API TTermSavedCursor {
  int Column = 0;              ///< the cursor's column
  int Row = 0;                 ///< the cursor's row, from the top of the screen
  TTermAttributes Attributes;  ///< the pen
  bool OriginMode = false;     ///< whether origin mode was on
  bool WrapPending = false;    ///< whether the next character was to start a new line
  int Shift = 0;               ///< 0 prints with G0, 1 with G1
  TTermCharset Charsets[2] = {tsASCII, tsASCII};  ///< what G0 and G1 held
};

/// The screen's state and the operations the decoder calls on it; see the file's description.
class VALTREX_API TTermScreen {
 public:
  static constexpr int kMaxColumns = 512;     ///< the widest screen; wider sizes are clamped
  static constexpr int kMaxRows = 256;        ///< the tallest screen; taller sizes are clamped
  static constexpr int kMaxHistory = 100000;  ///< the most history lines a screen keeps
  static constexpr int kTabWidth = 8;         ///< the columns between two default tab stops

  /// A blank screen of the size, keeping up to `historyLimit` lines that scroll off; each
  /// clamped to what a screen can hold.
  explicit TTermScreen(int columns = 80, int rows = 24, int historyLimit = 1000);

  /// @name Size and history
  ///@{

  /// Characters per line.
  int Columns() const { return columns_; }
  /// Lines on the screen.
  int Rows() const { return rows_; }
  /// Keeps what is on the screen from its top left corner; when rows go, lines above the
  /// cursor go to the history first so that the cursor's line stays in sight. The scroll region
  /// becomes the whole screen and the tab stops their defaults. The width set here is the one
  /// Reset returns to after SwitchColumns.
  void SetSize(int columns, int rows);
  /// The width SetSize last set (or the constructor): the one a reset returns to.
  int SetupColumns() const { return setupColumns_; }
  /// DECCOLM: the screen `columns` wide (clamped), cleared, the scroll region the whole screen
  /// and the cursor home, as a terminal switching between 80 and 132 columns does. The tab
  /// stops stay; columns the screen never had get the default ones. SetupColumns() stays.
  void SwitchColumns(int columns);
  /// The most lines the history keeps.
  int HistoryLimit() const { return historyLimit_; }
  /// Sets the limit, 0 to kMaxHistory; a lower one drops the oldest lines at once.
  void SetHistoryLimit(int lines);
  /// Lines the history holds now.
  int HistoryCount() const { return static_cast<int>(history_.size()); }
  /// 0 is the oldest line kept. A history line holds no trailing blanks and may be shorter or
  /// longer than the screen is wide now.
  const TTermLine& HistoryLine(int index) const;
  /// Drops every history line; HistoryAdded() keeps its count.
  void ClearHistory() { history_.clear(); }
  /// Lines ever added to the history, whether or not they are still kept; a view compares two
  /// readings to learn how far its text moved.
  uint64_t HistoryAdded() const { return historyAdded_; }
  ///@}

  /// @name Contents
  ///@{

  /// The cell at a zero-based position; one outside the screen raises std::out_of_range.
  const TTermCell& Cell(int column, int row) const;
  /// A screen line's cells, Columns() of them; a row outside raises std::out_of_range.
  const TTermLine& Line(int row) const;
  /// A line's characters in UTF-8 without trailing blanks.
  std::string LineText(int row) const;
  /// How a screen line shows; a row outside raises std::out_of_range.
  TTermLineSize LineSize(int row) const { return Line(row).Size; }
  /// The columns a line of this screen can hold: all of them on a single-size line, half of
  /// them (at least one) on a double-width or double-height line.
  int LineColumns(TTermLineSize size) const;
  /// A history line's characters in UTF-8 without trailing blanks.
  std::string HistoryText(int index) const;
  /// Any line's characters in UTF-8 without trailing blanks.
  static std::string LineToText(const TTermLine& line);
  ///@}

  /// @name Cursor and pen
  ///@{

  /// The cursor's column, zero-based.
  int CursorColumn() const { return column_; }
  /// The cursor's row, zero-based from the top of the screen whatever the origin mode.
  int CursorRow() const { return row_; }
  /// After a character in the last column with wrap on: the next character starts a new line.
  bool WrapPending() const { return wrapPending_; }
  /// The pen: the attributes the next characters and erased cells get.
  const TTermAttributes& Attributes() const { return pen_; }
  /// Changes the pen.
  void SetAttributes(const TTermAttributes& value) { pen_ = value; }
  /// The scroll region's first row, zero-based.
  int ScrollTop() const { return top_; }
  /// The scroll region's last row, zero-based.
  int ScrollBottom() const { return bottom_; }
  /// Whether a tab stop is set at the column.
  bool IsTabStop(int column) const;
  ///@}

  /// @name Modes
  ///@{

  /// Whether a character past the last column starts a new line; off, it overwrites the last
  /// column.
  bool AutoWrap() const { return autoWrap_; }
  /// Turns wrapping on or off.
  void SetAutoWrap(bool value);
  /// Positions count from the top of the scroll region, and the cursor stays within it.
  bool OriginMode() const { return originMode_; }
  /// Turns origin mode on or off; either way the cursor goes home.
  void SetOriginMode(bool value);
  /// Whether printed characters push the rest of the line right instead of overwriting it.
  bool InsertMode() const { return insertMode_; }
  /// Turns insert mode on or off.
  void SetInsertMode(bool value) { insertMode_ = value; }
  /// A line feed also returns the carriage.
  bool NewLineMode() const { return newLineMode_; }
  /// Turns new-line mode on or off.
  void SetNewLineMode(bool value) { newLineMode_ = value; }
  /// Whether the view shows the cursor.
  bool CursorVisible() const { return cursorVisible_; }
  /// Shows or hides the cursor.
  void SetCursorVisible(bool value) { cursorVisible_ = value; }
  /// The whole screen shown in reverse video.
  bool ReverseScreen() const { return reverseScreen_; }
  /// Turns the reverse screen on or off.
  void SetReverseScreen(bool value) { reverseScreen_ = value; }
  ///@}

  /// @name Character sets
  /// G0 and G1 each hold a set, and the shift state picks the one printed with.
  ///@{

  /// The set G0 (0) or G1 (1) holds.
  TTermCharset Charset(int set) const { return charsets_[set & 1]; }
  /// Puts a set into G0 (0) or G1 (1).
  void SetCharset(int set, TTermCharset value) { charsets_[set & 1] = value; }
  /// Which of G0 (0) and G1 (1) prints now.
  int Shift() const { return shift_; }
  /// Prints with G0 (0, SI) or G1 (1, SO) from now on.
  void SetShift(int set) { shift_ = set & 1; }
  /// What a printable character becomes in the set in use.
  char32_t Translate(char32_t ch) const;
  ///@}

  /// @name Writing
  /// Put prints one character at the cursor with the pen (through the line-drawing set when it
  /// is active), wrapping or not as AutoWrap says.
  ///@{

  /// Prints `ch` at the cursor and moves it on.
  void Put(char32_t ch);
  /// To the first column.
  void CarriageReturn();
  void LineFeed();      ///< down one line, scrolling the region at its bottom margin
  void Index();         ///< the same, without the new-line mode's carriage return
  void ReverseIndex();  ///< up one line, scrolling the region down at its top margin
  void NextLine();      ///< carriage return and index
  /// One column left, stopping at the first.
  void Backspace();
  /// To the next tab stop, `count` times; the last column when there is none.
  void Tab(int count = 1);
  /// To the previous tab stop, `count` times; the first column when there is none.
  void BackTab(int count = 1);
  ///@}

  /// @name Cursor movement
  /// Up and down stop at the scroll region's margins when the cursor is inside it, at the
  /// screen's edges otherwise. On a double-width line the cursor stays within the columns the
  /// line holds, and it comes back within them when it moves onto one.
  ///@{

  /// `count` lines up.
  void CursorUp(int count);
  /// `count` lines down.
  void CursorDown(int count);
  /// `count` columns right, stopping at the last.
  void CursorForward(int count);
  /// `count` columns left, stopping at the first.
  void CursorBack(int count);
  /// Zero-based; relative to the scroll region in origin mode.
  void MoveTo(int column, int row);
  /// To a column of the cursor's line, zero-based.
  void MoveToColumn(int column);
  /// To a row, zero-based; relative to the scroll region in origin mode.
  void MoveToRow(int row);
  ///@}

  /// @name Erasing and editing
  /// Erased cells are blanks in the pen's background.
  ///@{

  /// 0: cursor to end, 1: start to cursor, 2: all; for the display 3 also clears the history.
  void EraseInDisplay(int mode);
  /// The cursor's line: 0 cursor to end, 1 start to cursor, 2 all.
  void EraseInLine(int mode);
  /// `count` cells from the cursor on (at least one); the rest of the line stays put.
  void EraseChars(int count);
  /// Blank lines at the cursor's line, pushing the lines below down within the scroll region.
  void InsertLines(int count);
  /// Removes lines from the cursor's line on, pulling the lines below up within the scroll
  /// region.
  void DeleteLines(int count);
  /// Blank cells at the cursor, pushing the rest of the line right; cells past the end go.
  void InsertChars(int count);
  /// Removes cells at the cursor, pulling the rest of the line left.
  void DeleteChars(int count);
  /// Scrolls the region's contents up by `count` lines; blank lines come in at the bottom.
  void ScrollUp(int count);
  /// Scrolls the region's contents down by `count` lines; blank lines come in at the top.
  void ScrollDown(int count);
  /// Zero-based, inclusive; a region of fewer than two lines is refused and changes nothing.
  /// A region set homes the cursor.
  void SetScrollRegion(int top, int bottom);
  /// Every cell `ch` without attributes and every line single size, for the alignment
  /// pattern.
  void FillWith(char32_t ch);
  /// DECDWL, DECDHL, DECSWL: the cursor's line shown at `size`. A line made double width loses
  /// the characters of its right half, as it has no room for them, and the cursor stays
  /// within the columns the line can hold.
  void SetLineSize(TTermLineSize size);
  ///@}

  /// @name Tab stops
  ///@{

  /// Sets a tab stop at the cursor's column.
  void SetTabStop();
  /// Clears the tab stop at the cursor's column.
  void ClearTabStop();
  /// Clears every tab stop.
  void ClearAllTabStops();
  ///@}

  /// @name Saved cursor
  ///@{

  /// Keeps the cursor's position, pen, origin mode, pending wrap and character sets.
  void SaveCursor();
  /// With nothing saved: home, the default pen and character sets.
  void RestoreCursor();
  ///@}

  /// The screen of a terminal just switched on, with its rows, set-up width and history limit
  /// kept and the history emptied.
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
  // The last column the cursor's line can hold.
  int LastColumn() const { return LineColumns(lines_[static_cast<size_t>(row_)].Size) - 1; }
  // The cursor back within its line after the line under it changed or it moved to another.
  void FitCursor() { column_ = std::min(column_, LastColumn()); }

  int columns_;
  int setupColumns_;
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
