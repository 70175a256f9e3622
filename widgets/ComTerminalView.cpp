// The terminal control's view: font and size, scrolling, the deferred refresh and painting.
#include "widgets/ComTerminal.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <algorithm>
#include <array>
#include <utility>

#include "widgets/ComTerminalAccessible.h"

namespace widgets {
namespace {

const std::array<QColor, 8> kColours = {
    QColor(0, 0, 0),   QColor(205, 0, 0),   QColor(0, 205, 0),   QColor(205, 205, 0),
    QColor(0, 0, 238), QColor(205, 0, 205), QColor(0, 205, 205), QColor(229, 229, 229),
};

QColor Colour(TTermColor colour, const QColor& fallback) {
  return colour == tcDefault ? fallback : kColours[colour - tcBlack];
}

// A screen refresh: the picture follows the screen at most this often.
constexpr qint64 kFrameMs = 16;

}  // namespace

// --- View

void TComTerminal::ApplyFont() {
  QFont f(QString::fromStdString(settings_.FontName), settings_.FontSize);
  // A family that is not there falls back to a fixed-pitch one, never to a proportional one.
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  f.setKerning(false);
  setFont(f);
  Measure();
}

void TComTerminal::Measure() {
  const QFontMetrics metrics(font());
  cellWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
  cellHeight_ = std::max(1, metrics.height());
  ascent_ = metrics.ascent();
  updateGeometry();
  Place(top_);
  SyncScrollBar();
  viewport()->update();
}

void TComTerminal::FitWidth() {
  if (shownColumns_ != screen_.Columns()) {
    shownColumns_ = screen_.Columns();
    updateGeometry();
  }
  QScrollBar* bar = horizontalScrollBar();
  const int view = viewport()->width();
  bar->setRange(0, std::max(0, cellWidth_ * screen_.Columns() - view));
  bar->setPageStep(std::max(1, view));
  bar->setSingleStep(cellWidth_);
}

void TComTerminal::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Place(top_);
  SyncScrollBar();
}

void TComTerminal::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) Measure();
}

QSize TComTerminal::sizeHint() const {
  const int frame = 2 * frameWidth();
  return {cellWidth_ * screen_.Columns() + frame + verticalScrollBar()->sizeHint().width(),
          cellHeight_ * settings_.Rows + frame};
}

int TComTerminal::ScrollOffset() const {
  return std::max(0, -top_);
}

void TComTerminal::SetScrollOffset(int lines) {
  Place(lines > 0 ? -lines : std::max(0, top_));
  SyncScrollBar();
  viewport()->update();
}

int TComTerminal::HiddenRows() const {
  return std::max(0, settings_.Rows - std::max(1, viewport()->height() / cellHeight_));
}

void TComTerminal::Place(int top) {
  if (top >= 0) {
    // The live view moves no more than it must to keep the cursor's row in sight.
    const int hidden = HiddenRows();
    const int shown = settings_.Rows - hidden;
    const int cursor = screen_.CursorRow();
    top = std::clamp(std::clamp(top, cursor - shown + 1, cursor), 0, hidden);
  }
  top_ = std::max(top, -historyCount_);
}

int TComTerminal::TopLine() const {
  return screen_.HistoryCount() + top_;
}

const TTermLine& TComTerminal::TextLine(int y) const {
  const int history = screen_.HistoryCount();
  return y < history ? screen_.HistoryLine(y) : screen_.Line(y - history);
}

void TComTerminal::Follow() {
  Track();
  SyncScrollBar();
  viewport()->update();
  NotifyTerminalChanged(*this);
}

void TComTerminal::Track() {
  const int count = screen_.HistoryCount();
  const int added = static_cast<int>(screen_.HistoryAdded() - historySeen_);
  historySeen_ = screen_.HistoryAdded();
  // Lines that left the top of the history take the selection's text with them.
  const int dropped = added - (count - historyCount_);
  historyCount_ = count;
  if (dropped > 0 && HasSelection()) {
    selectionStart_.ry() -= dropped;
    selectionEnd_.ry() -= dropped;
    if (std::min(selectionStart_.y(), selectionEnd_.y()) < 0) ClearSelection();
  }
  // The live view follows the screen; a view scrolled back stays on its text.
  Place(top_ < 0 ? top_ - added : top_);
  // A new width (132 columns from the line) is rare and changes the layout: it does not wait.
  if (shownColumns_ != screen_.Columns()) FitWidth();
}

void TComTerminal::SyncScrollBar() {
  QScrollBar* bar = verticalScrollBar();
  syncingBar_ = true;
  const int hidden = HiddenRows();
  bar->setRange(0, historyCount_ + hidden);
  bar->setPageStep(settings_.Rows - hidden);
  bar->setValue(historyCount_ + top_);
  syncingBar_ = false;
  barStale_ = false;
  FitWidth();
}

void TComTerminal::ScheduleRefresh() {
  barStale_ = true;
  if (refreshTimer_.isActive()) return;
  // The first change after a quiet spell shows at once, the rest of a flood once a frame.
  const qint64 since = sinceRefresh_.isValid() ? sinceRefresh_.elapsed() : kFrameMs;
  refreshTimer_.start(static_cast<int>(std::max<qint64>(0, kFrameMs - since)));
}

void TComTerminal::Refresh() {
  sinceRefresh_.start();
  if (barStale_) SyncScrollBar();
  if (static_cast<int>(drawn_.size()) != settings_.Rows) {
    viewport()->update();
    NotifyTerminalChanged(*this);
    return;
  }
  QRegion changed;
  for (int row = 0; row < settings_.Rows; ++row) {
    if (drawn_[static_cast<size_t>(row)] != RowLook(row)) {
      changed += QRect(0, row * cellHeight_, viewport()->width(), cellHeight_);
    }
  }
  if (changed.isEmpty()) return;
  viewport()->update(changed);
  NotifyTerminalChanged(*this);
}

TComTerminal::TDrawnRow TComTerminal::RowLook(int row) const {
  TDrawnRow look;
  look.Reverse = screen_.ReverseScreen();
  look.Focused = hasFocus();
  const int y = TopLine() + row;
  const int history = screen_.HistoryCount();
  if (y >= history + screen_.Rows()) return look;
  look.Cells = TextLine(y);
  if (screen_.CursorVisible() && y - history == screen_.CursorRow()) {
    look.Cursor = screen_.CursorColumn();
  }
  if (HasSelection()) {
    auto [from, to] =
        std::minmax(selectionStart_, selectionEnd_, [](const QPoint& a, const QPoint& b) {
          return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
        });
    if (y >= from.y() && y <= to.y()) {
      const int width = std::max(static_cast<int>(look.Cells.size()), screen_.Columns());
      look.SelectFrom = std::min(y == from.y() ? from.x() : 0, width);
      look.SelectTo = std::min(y == to.y() ? to.x() : width, width);
    }
  }
  return look;
}

void TComTerminal::Drawn(const QRegion& area) {
  // A row painted only in part is drawn again whole at the next refresh.
  drawn_.resize(static_cast<size_t>(settings_.Rows), TDrawnRow{{}, -2});
  for (int row = 0; row < settings_.Rows; ++row) {
    const QRect rect(0, row * cellHeight_, viewport()->width(), cellHeight_);
    const QRegion painted = area.intersected(rect);
    if (painted.isEmpty()) continue;
    drawn_[static_cast<size_t>(row)] = painted == QRegion(rect) ? RowLook(row) : TDrawnRow{{}, -2};
  }
}

void TComTerminal::scrollContentsBy(int, int dy) {
  if (syncingBar_) return;  // the picture follows at the refresh that set it
  if (dy != 0) {
    top_ = std::clamp(verticalScrollBar()->value() - historyCount_, -historyCount_, HiddenRows());
  }
  viewport()->update();
}

void TComTerminal::DrawCharacter(QPainter& painter, const QRect& r, TTermLineSize size,
                                 const QString& glyph) const {
  if (size == lsSingle) {
    painter.drawText(r.x(), r.y() + ascent_, glyph);
    return;
  }
  // Twice as wide; on a double-height line twice as tall too, the row showing the top or the
  // bottom half of it.
  painter.save();
  painter.setClipRect(r);
  painter.translate(r.x(), r.y() - (size == lsDoubleBottom ? r.height() : 0));
  painter.scale(2, size == lsDoubleWidth ? 1 : 2);
  painter.drawText(0, ascent_, glyph);
  painter.restore();
}

void TComTerminal::wheelEvent(QWheelEvent* event) {
  if (barStale_) SyncScrollBar();
  QAbstractScrollArea::wheelEvent(event);
}

bool TComTerminal::eventFilter(QObject* watched, QEvent* event) {
  if (watched == verticalScrollBar() && barStale_) {
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::Wheel:
      case QEvent::KeyPress:
        SyncScrollBar();
        break;
      default:
        break;
    }
  }
  return QAbstractScrollArea::eventFilter(watched, event);
}

void TComTerminal::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const QColor base = palette().color(QPalette::Base);
  const QColor text = palette().color(QPalette::Text);
  const QColor defaultBack = screen_.ReverseScreen() ? text : base;
  const QColor defaultFore = screen_.ReverseScreen() ? base : text;
  painter.fillRect(viewport()->rect(), defaultBack);
  QFont plain = font();
  QFont bold = plain;
  bold.setBold(true);
  QFont underline = plain;
  underline.setUnderline(true);
  QFont boldUnderline = bold;
  boldUnderline.setUnderline(true);

  const int left = horizontalScrollBar()->value();
  const int top = TopLine();
  const int history = screen_.HistoryCount();
  const int last = history + screen_.Rows();
  for (int row = 0; row < settings_.Rows && top + row < last; ++row) {
    if (row * cellHeight_ > event->rect().bottom() ||
        (row + 1) * cellHeight_ <= event->rect().top()) {
      continue;
    }
    const int y = top + row;
    const TTermLine& line = TextLine(y);
    // A character of a double-size line takes two cells.
    const int scale = line.Size == lsSingle ? 1 : 2;
    const int step = cellWidth_ * scale;
    const int width =
        (std::max<int>(static_cast<int>(line.size()), screen_.Columns()) + scale - 1) / scale;
    for (int x = std::max(0, left / step); x < width && x * step - left < viewport()->width();
         ++x) {
      const TTermCell cell = x < static_cast<int>(line.size()) ? line[x] : TTermCell{};
      const TTermAttributes& a = cell.Attributes;
      QColor fore = Colour(a.Foreground, defaultFore);
      QColor back = Colour(a.Background, defaultBack);
      if (a.Reverse) std::swap(fore, back);
      if (Selected(x, y)) {
        fore = palette().color(QPalette::HighlightedText);
        back = palette().color(QPalette::Highlight);
      }
      const bool cursorHere = screen_.CursorVisible() && y - history == screen_.CursorRow() &&
                              x == screen_.CursorColumn();
      // The cursor is a block in the cell's colours swapped while the terminal has the focus,
      // an outline while it does not.
      if (cursorHere && hasFocus()) std::swap(fore, back);
      const QRect r(x * step - left, row * cellHeight_, step, cellHeight_);
      if (back != defaultBack) painter.fillRect(r, back);
      if (cell.Char != U' ') {
        painter.setFont(a.Bold ? (a.Underline ? boldUnderline : bold)
                               : (a.Underline ? underline : plain));
        painter.setPen(fore);
        DrawCharacter(painter, r, line.Size, QString::fromUcs4(&cell.Char, 1));
      } else if (a.Underline && line.Size != lsDoubleTop) {
        // Under a double-height pair the line is the bottom half's, twice as far down.
        const int under =
            line.Size == lsDoubleBottom ? 2 * (ascent_ + 1) - cellHeight_ : ascent_ + 1;
        painter.setPen(fore);
        painter.drawLine(r.left(), r.y() + under, r.right(), r.y() + under);
      }
      if (cursorHere && !hasFocus()) {
        painter.setPen(defaultFore);
        painter.drawRect(r.adjusted(0, 0, -1, -1));
      }
    }
  }
  Drawn(event->region());
}

}  // namespace widgets
