#include "tools/term/LineViews.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "tools/term/WindowSettings.h"

namespace term {
namespace {

constexpr qint64 kFrameMs = 16;
// Room left of the text, as a text edit leaves it.
constexpr int kMargin = 4;
// "00 " sixteen times, the last without its space.
constexpr int kLineChars = 3 * THexView::kBytesPerLine - 1;

}  // namespace

TLineView::TLineView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  // Only the operator moves the value when the view does not follow: our own moves come with
  // `updating_` set.
  QObject::connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!updating_) following_ = value == verticalScrollBar()->maximum();
  });
}

void TLineView::Changed(int64_t dropped) {
  dropped_ += dropped;
  ScheduleUpdate();
}

void TLineView::Cleared() {
  dropped_ = 0;
  droppedShown_ = 0;
  following_ = true;
  pressLine_ = selectAnchor_ = selectEnd_ = -1;
  UpdateNow();
}

QString TLineView::LinesText(int first, int last) const {
  QString text;
  for (int i = first; i <= last; ++i) {
    if (i > first) text += QLatin1Char('\n');
    text += LineText(i);
  }
  return text;
}

QString TLineView::Text() const {
  return LinesText(0, LineCount() - 1);
}

QString TLineView::CopyText() const {
  if (selectAnchor_ < 0) return Text();
  const int64_t first = std::max(std::min(selectAnchor_, selectEnd_), dropped_) - dropped_;
  const int64_t last =
      std::min<int64_t>(std::max(selectAnchor_, selectEnd_) - dropped_, LineCount() - 1);
  if (last < first) return {};
  return LinesText(static_cast<int>(first), static_cast<int>(last));
}

void TLineView::Copy() const {
  QGuiApplication::clipboard()->setText(CopyText());
}

THexView::THexView(int maxLines, QWidget* parent)
    : TLineView(parent), maxLines_(std::max(1, maxLines)) {}

void THexView::Append(std::string_view bytes) {
  if (bytes.empty()) return;
  bytes_.append(bytes);
  const int64_t lines = LineCount();
  const int64_t drop = std::max<int64_t>(0, lines - maxLines_);
  start_ += static_cast<size_t>(drop) * kBytesPerLine;
  // The dropped lines are cut away once there are as many as are kept, so that each byte is
  // moved a bounded number of times.
  if (start_ >= static_cast<size_t>(maxLines_) * kBytesPerLine) {
    bytes_.erase(0, start_);
    start_ = 0;
  }
  Changed(drop);
}

void THexView::Clear() {
  bytes_.clear();
  start_ = 0;
  Cleared();
}

std::string_view THexView::Kept() const {
  return std::string_view(bytes_).substr(start_);
}

QString THexView::LineText(int index) const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char text[kLineChars];
  int n = 0;
  for (const char c : Kept().substr(static_cast<size_t>(index) * kBytesPerLine, kBytesPerLine)) {
    const auto u = static_cast<unsigned char>(c);
    if (n > 0) text[n++] = ' ';
    text[n++] = kHex[u >> 4];
    text[n++] = kHex[u & 0xF];
  }
  return QString::fromLatin1(text, n);
}

int THexView::LineChars() const {
  return kLineChars;
}

int THexView::LineCount() const {
  return static_cast<int>((Kept().size() + kBytesPerLine - 1) / kBytesPerLine);
}

QString THexView::Text() const {
  int column = 0;
  const std::string text = HexLines(Kept(), column);
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QSize THexView::sizeHint() const {
  return {fontMetrics().horizontalAdvance(QString(3 * kBytesPerLine, QLatin1Char('0'))) +
              2 * kMargin + 2 * frameWidth() + verticalScrollBar()->sizeHint().width(),
          QAbstractScrollArea::sizeHint().height()};
}

int TLineView::VisibleLines() const {
  return std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
}

int64_t TLineView::LineAt(int y) const {
  return droppedShown_ + verticalScrollBar()->value() +
         std::max(0, y) / std::max(1, fontMetrics().lineSpacing());
}

void TLineView::ScheduleUpdate() {
  if (updateArmed_) return;
  const qint64 since = sinceUpdate_.isValid() ? sinceUpdate_.elapsed() : kFrameMs;
  if (since >= kFrameMs) {
    UpdateNow();
    return;
  }
  updateArmed_ = true;
  QTimer::singleShot(static_cast<int>(kFrameMs - since), this, [this] {
    updateArmed_ = false;
    UpdateNow();
  });
}

void TLineView::UpdateNow() {
  sinceUpdate_.start();
  UpdateBars();
  viewport()->update();
}

// A view that does not follow keeps its lines in sight: the value goes back by the lines dropped
// since it was last set.
void TLineView::UpdateBars() {
  QScrollBar* bar = verticalScrollBar();
  const int visible = VisibleLines();
  const int maximum = std::max(0, LineCount() - visible);
  const int64_t value =
      following_ ? maximum : std::max<int64_t>(0, bar->value() - (dropped_ - droppedShown_));
  droppedShown_ = dropped_;
  updating_ = true;
  bar->setRange(0, maximum);
  bar->setPageStep(visible);
  bar->setSingleStep(1);
  bar->setValue(static_cast<int>(std::min<int64_t>(value, maximum)));
  QScrollBar* across = horizontalScrollBar();
  const int lineWidth =
      fontMetrics().horizontalAdvance(QLatin1Char('0')) * LineChars() + 2 * kMargin;
  across->setRange(0, std::max(0, lineWidth - viewport()->width()));
  across->setPageStep(viewport()->width());
  across->setSingleStep(std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0'))));
  updating_ = false;
  following_ = bar->value() == bar->maximum();
}

void TLineView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setFont(font());
  const QFontMetrics metrics(font());
  const int height = std::max(1, metrics.lineSpacing());
  const int width = viewport()->width();
  const int x = kMargin - horizontalScrollBar()->value();
  const int64_t top = droppedShown_ + verticalScrollBar()->value();
  const int first = event->rect().top() / height;
  const int last = event->rect().bottom() / height;
  const int64_t selectFirst = std::min(selectAnchor_, selectEnd_);
  const int64_t selectLast = std::max(selectAnchor_, selectEnd_);
  const int count = LineCount();
  for (int row = first; row <= last; ++row) {
    const int64_t line = top + row;
    const int64_t index = line - dropped_;
    if (index < 0 || index >= count) continue;
    const int y = row * height;
    const bool selected = selectAnchor_ >= 0 && line >= selectFirst && line <= selectLast;
    if (selected) painter.fillRect(0, y, width, height, palette().highlight());
    painter.setPen(selected ? palette().highlightedText().color() : palette().text().color());
    painter.drawText(x, y + metrics.ascent(), LineText(static_cast<int>(index)));
  }
}

void TLineView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateBars();
}

void TLineView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    updateGeometry();
    UpdateNow();
  }
}

void TLineView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    Copy();
    event->accept();
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

void TLineView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  const int64_t line = LineAt(event->position().toPoint().y());
  if ((event->modifiers() & Qt::ShiftModifier) && selectAnchor_ >= 0) {
    selectEnd_ = line;
  } else {
    pressLine_ = line;
    selectAnchor_ = selectEnd_ = -1;
  }
  viewport()->update();
}

void TLineView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || pressLine_ < 0) return;
  const int64_t line = LineAt(std::min(event->position().toPoint().y(), viewport()->height() - 1));
  if (selectAnchor_ < 0 && line == pressLine_) return;
  selectAnchor_ = pressLine_;
  if (selectEnd_ == line) return;
  selectEnd_ = line;
  viewport()->update();
}

void TLineView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(QStringLiteral("&Copy"), this, [this] { Copy(); });
  menu.exec(event->globalPos());
}

TTextLinesView::TTextLinesView(int maxLines, QWidget* parent)
    : TLineView(parent), maxLines_(std::max(1, maxLines)) {}

void TTextLinesView::AppendLine(QString line) {
  chars_ = std::max(chars_, static_cast<int>(line.size()));
  lines_.push_back(std::move(line));
  int64_t drop = 0;
  if (static_cast<int>(lines_.size()) > maxLines_) {
    lines_.pop_front();
    drop = 1;
  }
  Changed(drop);
}

void TTextLinesView::Clear() {
  lines_.clear();
  chars_ = 0;
  Cleared();
}

int TTextLinesView::LineCount() const {
  return static_cast<int>(lines_.size());
}

QString TTextLinesView::LineText(int index) const {
  return lines_[static_cast<size_t>(index)];
}

int TTextLinesView::LineChars() const {
  return chars_;
}

}  // namespace term
