#include "widgets/emulation/TermScreen.h"

#include <algorithm>
#include <array>
#include <utility>

namespace widgets {
namespace {

// The drawing sets cover '_' to '~'.
constexpr char32_t kDrawingFirst = 0x5F;

constexpr std::array<char32_t, 32> kLineDrawing = {
    0x00A0, 0x25C6, 0x2592, 0x2409, 0x240C, 0x240D, 0x240A, 0x00B0,  // _ ` a b c d e f
    0x00B1, 0x2424, 0x240B, 0x2518, 0x2510, 0x250C, 0x2514, 0x253C,  // g h i j k l m n
    0x23BA, 0x23BB, 0x2500, 0x23BC, 0x23BD, 0x251C, 0x2524, 0x2534,  // o p q r s t u v
    0x252C, 0x2502, 0x2264, 0x2265, 0x03C0, 0x2260, 0x00A3, 0x00B7,  // w x y z { | } ~
};

// Fractions, arrows, the eight scan-line bars (drawn with the nearest of the five there are)
// and subscript digits.
constexpr std::array<char32_t, 32> kVT52Graphics = {
    0x00A0, 0x00A0, 0x2588, 0x215F, 0x00B3, 0x2075, 0x2077, 0x00B0,  // _ ` a b c d e f
    0x00B1, 0x2192, 0x2026, 0x00F7, 0x2193, 0x23BA, 0x23BA, 0x23BB,  // g h i j k l m n
    0x23BB, 0x2500, 0x23BC, 0x23BC, 0x23BD, 0x2080, 0x2081, 0x2082,  // o p q r s t u v
    0x2083, 0x2084, 0x2085, 0x2086, 0x2087, 0x2088, 0x2089, 0x00B6,  // w x y z { | } ~
};

int Clamp(int value, int low, int high) {
  return std::min(std::max(value, low), high);
}

// Counts from the line: 0 and negative mean nothing, and no count needs to exceed the largest
// screen.
int Count(int count) {
  return Clamp(count, 0, TTermScreen::kMaxColumns + TTermScreen::kMaxRows);
}

void AppendUtf8(std::string& out, char32_t ch) {
  if (ch < 0x80) {
    out += static_cast<char>(ch);
  } else if (ch < 0x800) {
    out += static_cast<char>(0xC0 | (ch >> 6));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else if (ch < 0x10000) {
    out += static_cast<char>(0xE0 | (ch >> 12));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (ch >> 18));
    out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (ch & 0x3F));
  }
}

}  // namespace

TTermScreen::TTermScreen(int columns, int rows, int historyLimit)
    : columns_(Clamp(columns, 1, kMaxColumns)),
      setupColumns_(columns_),
      rows_(Clamp(rows, 1, kMaxRows)),
      historyLimit_(Clamp(historyLimit, 0, kMaxHistory)) {
  Reset();
}

void TTermScreen::Reset() {
  columns_ = setupColumns_;
  pen_ = {};
  lines_.assign(static_cast<size_t>(rows_), BlankLine());
  history_.clear();
  column_ = row_ = 0;
  wrapPending_ = false;
  top_ = 0;
  bottom_ = rows_ - 1;
  autoWrap_ = true;
  originMode_ = insertMode_ = newLineMode_ = reverseScreen_ = false;
  cursorVisible_ = true;
  shift_ = 0;
  charsets_[0] = charsets_[1] = tsASCII;
  saved_ = {};
  hasSaved_ = false;
  ResetTabStops();
}

void TTermScreen::SetSize(int columns, int rows) {
  columns = Clamp(columns, 1, kMaxColumns);
  rows = Clamp(rows, 1, kMaxRows);
  setupColumns_ = columns;
  if (columns == columns_ && rows == rows_) return;
  const int surplus = row_ - (rows - 1);
  for (int i = 0; i < surplus; ++i) PushHistory(lines_[static_cast<size_t>(i)]);
  if (surplus > 0) {
    lines_.erase(lines_.begin(), lines_.begin() + surplus);
    row_ -= surplus;
  }
  columns_ = columns;
  rows_ = rows;
  lines_.resize(static_cast<size_t>(rows_), TTermLine(static_cast<size_t>(columns_)));
  for (TTermLine& line : lines_) line.resize(static_cast<size_t>(columns_));
  row_ = std::min(row_, rows_ - 1);
  column_ = std::min(column_, columns_ - 1);
  FitCursor();
  wrapPending_ = false;
  top_ = 0;
  bottom_ = rows_ - 1;
  saved_.Column = std::min(saved_.Column, columns_ - 1);
  saved_.Row = std::min(saved_.Row, rows_ - 1);
  ResetTabStops();
}

void TTermScreen::SwitchColumns(int columns) {
  columns_ = Clamp(columns, 1, kMaxColumns);
  lines_.assign(static_cast<size_t>(rows_), BlankLine());
  // The stops of the columns the screen had stay, wider or narrower, as a terminal keeps them
  // for its widest screen.
  for (size_t c = tabStops_.size(); c < static_cast<size_t>(columns_); ++c) {
    tabStops_.push_back(c > 0 && c % kTabWidth == 0);
  }
  top_ = 0;
  bottom_ = rows_ - 1;
  saved_.Column = std::min(saved_.Column, columns_ - 1);
  MoveTo(0, 0);
}

void TTermScreen::SetHistoryLimit(int lines) {
  historyLimit_ = Clamp(lines, 0, kMaxHistory);
  TrimHistory();
}

const TTermLine& TTermScreen::HistoryLine(int index) const {
  return history_.at(static_cast<size_t>(index));
}

const TTermCell& TTermScreen::Cell(int column, int row) const {
  return lines_.at(static_cast<size_t>(row)).at(static_cast<size_t>(column));
}

const TTermLine& TTermScreen::Line(int row) const {
  return lines_.at(static_cast<size_t>(row));
}

std::string TTermScreen::LineToText(const TTermLine& line) {
  size_t end = line.size();
  while (end > 0 && line[end - 1].Char == U' ') --end;
  std::string text;
  for (size_t i = 0; i < end; ++i) AppendUtf8(text, line[i].Char);
  return text;
}

int TTermScreen::LineColumns(TTermLineSize size) const {
  return size == lsSingle ? columns_ : std::max(1, columns_ / 2);
}

std::string TTermScreen::LineText(int row) const {
  return LineToText(Line(row));
}

std::string TTermScreen::HistoryText(int index) const {
  return LineToText(HistoryLine(index));
}

bool TTermScreen::IsTabStop(int column) const {
  return column >= 0 && column < columns_ && tabStops_[static_cast<size_t>(column)];
}

void TTermScreen::SetAutoWrap(bool value) {
  autoWrap_ = value;
  if (!value) wrapPending_ = false;
}

void TTermScreen::SetOriginMode(bool value) {
  originMode_ = value;
  MoveTo(0, 0);
}

char32_t TTermScreen::Translate(char32_t ch) const {
  switch (charsets_[shift_]) {
    case tsASCII:
      return ch;
    case tsUK:
      return ch == U'#' ? char32_t{0x00A3} : ch;
    case tsLineDrawing:
      return ch >= kDrawingFirst && ch <= U'~' ? kLineDrawing[ch - kDrawingFirst] : ch;
    case tsVT52Graphics:
      return ch >= kDrawingFirst && ch <= U'~' ? kVT52Graphics[ch - kDrawingFirst] : ch;
  }
  return ch;
}

TTermCell TTermScreen::Blank() const {
  TTermCell cell;
  cell.Attributes.Background = pen_.Background;
  return cell;
}

TTermLine TTermScreen::BlankLine() const {
  return TTermLine(static_cast<size_t>(columns_), Blank());
}

void TTermScreen::ResetTabStops() {
  tabStops_.assign(static_cast<size_t>(columns_), false);
  for (int c = kTabWidth; c < columns_; c += kTabWidth) tabStops_[static_cast<size_t>(c)] = true;
}

void TTermScreen::PushHistory(const TTermLine& line) {
  if (historyLimit_ == 0) return;
  TTermLine kept = line;
  while (!kept.empty() && kept.back() == TTermCell{}) kept.pop_back();
  history_.push_back(std::move(kept));
  ++historyAdded_;
  TrimHistory();
}

void TTermScreen::TrimHistory() {
  while (history_.size() > static_cast<size_t>(historyLimit_)) history_.pop_front();
}

void TTermScreen::ScrollRegionUp(int top, int bottom, int count) {
  count = std::min(Count(count), bottom - top + 1);
  if (count <= 0) return;
  // Only a region that starts at the top of the screen sends its lines to the history: lines
  // scrolled inside a status area or below a fixed header were never off the screen.
  if (top == 0) {
    for (int i = 0; i < count; ++i) PushHistory(lines_[static_cast<size_t>(i)]);
  }
  const auto first = lines_.begin() + top;
  std::rotate(first, first + count, lines_.begin() + bottom + 1);
  for (int r = bottom - count + 1; r <= bottom; ++r) lines_[static_cast<size_t>(r)] = BlankLine();
  FitCursor();
}

void TTermScreen::ScrollRegionDown(int top, int bottom, int count) {
  count = std::min(Count(count), bottom - top + 1);
  if (count <= 0) return;
  const auto first = lines_.begin() + top;
  const auto last = lines_.begin() + bottom + 1;
  std::rotate(first, last - count, last);
  for (int r = top; r < top + count; ++r) lines_[static_cast<size_t>(r)] = BlankLine();
  FitCursor();
}

void TTermScreen::Put(char32_t ch) {
  if (wrapPending_ && autoWrap_) {
    column_ = 0;
    Index();
  }
  wrapPending_ = false;
  TTermLine& line = lines_[static_cast<size_t>(row_)];
  const int last = LastColumn();
  if (insertMode_) {
    std::rotate(line.begin() + column_, line.begin() + last, line.begin() + last + 1);
  }
  line[static_cast<size_t>(column_)] = TTermCell{Translate(ch), pen_};
  if (column_ == last) {
    wrapPending_ = autoWrap_;
  } else {
    ++column_;
  }
}

void TTermScreen::CarriageReturn() {
  column_ = 0;
  wrapPending_ = false;
}

void TTermScreen::LineFeed() {
  Index();
  if (newLineMode_) column_ = 0;
}

void TTermScreen::Index() {
  wrapPending_ = false;
  if (row_ == bottom_) {
    ScrollRegionUp(top_, bottom_, 1);
  } else if (row_ < rows_ - 1) {
    ++row_;
  }
  FitCursor();
}

void TTermScreen::ReverseIndex() {
  wrapPending_ = false;
  if (row_ == top_) {
    ScrollRegionDown(top_, bottom_, 1);
  } else if (row_ > 0) {
    --row_;
  }
  FitCursor();
}

void TTermScreen::NextLine() {
  column_ = 0;
  Index();
}

void TTermScreen::Backspace() {
  wrapPending_ = false;
  if (column_ > 0) --column_;
}

void TTermScreen::Tab(int count) {
  wrapPending_ = false;
  const int last = LastColumn();
  for (int i = Count(count); i > 0 && column_ < last; --i) {
    do {
      ++column_;
    } while (column_ < last && !tabStops_[static_cast<size_t>(column_)]);
  }
}

void TTermScreen::BackTab(int count) {
  wrapPending_ = false;
  for (int i = Count(count); i > 0 && column_ > 0; --i) {
    do {
      --column_;
    } while (column_ > 0 && !tabStops_[static_cast<size_t>(column_)]);
  }
}

void TTermScreen::CursorUp(int count) {
  wrapPending_ = false;
  const int limit = row_ >= top_ ? top_ : 0;
  row_ = std::max(row_ - Count(count), limit);
  FitCursor();
}

void TTermScreen::CursorDown(int count) {
  wrapPending_ = false;
  const int limit = row_ <= bottom_ ? bottom_ : rows_ - 1;
  row_ = std::min(row_ + Count(count), limit);
  FitCursor();
}

void TTermScreen::CursorForward(int count) {
  wrapPending_ = false;
  column_ = std::min(column_ + Count(count), LastColumn());
}

void TTermScreen::CursorBack(int count) {
  wrapPending_ = false;
  column_ = std::max(column_ - Count(count), 0);
}

void TTermScreen::MoveTo(int column, int row) {
  MoveToColumn(column);
  MoveToRow(row);
}

void TTermScreen::MoveToColumn(int column) {
  wrapPending_ = false;
  column_ = Clamp(column, 0, LastColumn());
}

void TTermScreen::MoveToRow(int row) {
  wrapPending_ = false;
  const int origin = MinRow();
  row_ = Clamp(origin + Clamp(row, 0, kMaxRows), origin, MaxRow());
  FitCursor();
}

void TTermScreen::EraseInDisplay(int mode) {
  wrapPending_ = false;
  switch (mode) {
    // Lines erased whole become single size again; the cursor's line keeps its size unless
    // all of it goes.
    case 0:
      EraseInLine(column_ == 0 ? 2 : 0);
      if (column_ == 0) lines_[static_cast<size_t>(row_)].Size = lsSingle;
      for (int r = row_ + 1; r < rows_; ++r) lines_[static_cast<size_t>(r)] = BlankLine();
      break;
    case 1:
      EraseInLine(column_ == LastColumn() ? 2 : 1);
      if (column_ == LastColumn()) lines_[static_cast<size_t>(row_)].Size = lsSingle;
      for (int r = 0; r < row_; ++r) lines_[static_cast<size_t>(r)] = BlankLine();
      break;
    case 2:
      for (TTermLine& line : lines_) line = BlankLine();
      break;
    case 3:
      history_.clear();
      break;
    default:
      break;
  }
}

void TTermScreen::EraseInLine(int mode) {
  wrapPending_ = false;
  TTermLine& line = lines_[static_cast<size_t>(row_)];
  const TTermCell blank = Blank();
  switch (mode) {
    case 0:
      std::fill(line.begin() + column_, line.end(), blank);
      break;
    case 1:
      std::fill(line.begin(), line.begin() + column_ + 1, blank);
      break;
    case 2:
      std::fill(line.begin(), line.end(), blank);
      break;
    default:
      break;
  }
}

void TTermScreen::EraseChars(int count) {
  wrapPending_ = false;
  TTermLine& line = lines_[static_cast<size_t>(row_)];
  const int n = std::min(std::max(Count(count), 1), LastColumn() + 1 - column_);
  std::fill(line.begin() + column_, line.begin() + column_ + n, Blank());
}

void TTermScreen::InsertLines(int count) {
  if (row_ < top_ || row_ > bottom_) return;
  ScrollRegionDown(row_, bottom_, count);
  column_ = 0;
  wrapPending_ = false;
}

void TTermScreen::DeleteLines(int count) {
  if (row_ < top_ || row_ > bottom_) return;
  // Lines deleted inside the screen were not scrolled off it: no history for them.
  count = std::min(Count(count), bottom_ - row_ + 1);
  const auto first = lines_.begin() + row_;
  std::rotate(first, first + count, lines_.begin() + bottom_ + 1);
  for (int r = bottom_ - count + 1; r <= bottom_; ++r) lines_[static_cast<size_t>(r)] = BlankLine();
  column_ = 0;
  wrapPending_ = false;
}

void TTermScreen::InsertChars(int count) {
  wrapPending_ = false;
  TTermLine& line = lines_[static_cast<size_t>(row_)];
  const auto end = line.begin() + LastColumn() + 1;
  const int n = std::min(Count(count), LastColumn() + 1 - column_);
  std::rotate(line.begin() + column_, end - n, end);
  std::fill(line.begin() + column_, line.begin() + column_ + n, Blank());
}

void TTermScreen::DeleteChars(int count) {
  wrapPending_ = false;
  TTermLine& line = lines_[static_cast<size_t>(row_)];
  const auto end = line.begin() + LastColumn() + 1;
  const int n = std::min(Count(count), LastColumn() + 1 - column_);
  std::rotate(line.begin() + column_, line.begin() + column_ + n, end);
  std::fill(end - n, end, Blank());
}

void TTermScreen::ScrollUp(int count) {
  ScrollRegionUp(top_, bottom_, count);
}

void TTermScreen::ScrollDown(int count) {
  ScrollRegionDown(top_, bottom_, count);
}

void TTermScreen::SetScrollRegion(int top, int bottom) {
  top = Clamp(top, 0, rows_ - 1);
  bottom = Clamp(bottom, 0, rows_ - 1);
  if (top >= bottom) return;
  top_ = top;
  bottom_ = bottom;
  MoveTo(0, 0);
}

void TTermScreen::FillWith(char32_t ch) {
  for (TTermLine& line : lines_) {
    std::fill(line.begin(), line.end(), TTermCell{ch, {}});
    line.Size = lsSingle;
  }
}

void TTermScreen::SetLineSize(TTermLineSize size) {
  TTermLine& line = lines_[static_cast<size_t>(row_)];
  line.Size = size;
  if (size != lsSingle) {
    std::fill(line.begin() + LineColumns(size), line.end(), TTermCell{});
    if (column_ > LastColumn()) wrapPending_ = false;
    FitCursor();
  }
}

void TTermScreen::SetTabStop() {
  tabStops_[static_cast<size_t>(column_)] = true;
}

void TTermScreen::ClearTabStop() {
  tabStops_[static_cast<size_t>(column_)] = false;
}

void TTermScreen::ClearAllTabStops() {
  std::fill(tabStops_.begin(), tabStops_.end(), false);
}

void TTermScreen::SaveCursor() {
  saved_ = TTermSavedCursor{
      column_, row_, pen_, originMode_, wrapPending_, shift_, {charsets_[0], charsets_[1]}};
  hasSaved_ = true;
}

void TTermScreen::RestoreCursor() {
  const TTermSavedCursor s = hasSaved_ ? saved_ : TTermSavedCursor{};
  pen_ = s.Attributes;
  originMode_ = s.OriginMode;
  shift_ = s.Shift;
  charsets_[0] = s.Charsets[0];
  charsets_[1] = s.Charsets[1];
  // The screen may have shrunk, or the region moved, since the cursor was saved.
  row_ = Clamp(s.Row, MinRow(), MaxRow());
  column_ = Clamp(s.Column, 0, LastColumn());
  wrapPending_ = s.WrapPending && autoWrap_ && column_ == LastColumn();
}

}  // namespace widgets
