#include "widgets/ComTerminal.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QThread>
#include <algorithm>
#include <array>
#include <cerrno>
#include <exception>
#include <stdexcept>
#include <utility>

#include "platform/Application.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "serial/extras/ComStrings.h"
#include "serial/extras/SettingsFile.h"
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

// Each CR, LF or CR LF pair of `text` as `lineEnd`.
std::string MakeLineEnds(std::string_view text, std::string_view lineEnd) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += lineEnd;
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += lineEnd;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A screen refresh: the picture follows the screen at most this often.
constexpr qint64 kFrameMs = 16;

// The terminal's characters are bytes; what Latin-1 cannot hold goes out as '?'.
std::string ToBytes(const QString& text) {
  std::string out;
  for (const QChar c : text) out += c.unicode() < 0x100 ? static_cast<char>(c.unicode()) : '?';
  return out;
}

}  // namespace

TComTerminal::TComTerminal(QWidget* parent)
    : QAbstractScrollArea(parent),
      screen_(settings_.Columns, settings_.Rows, settings_.ScrollBack),
      decoder_(screen_, settings_.Emulation) {
  decoder_.OnReply = [this](TTermDecoder&, const std::string& bytes) { Reply(bytes); };
  decoder_.OnLineSettings = [this](TTermDecoder&) { return LineSettings(); };
  decoder_.OnBell = [this](TTermDecoder&) {
    if (OnBell) {
      OnBell(*this);
    } else {
      QApplication::beep();
    }
  };
  setFocusPolicy(Qt::StrongFocus);
  // A screen wider than the view is never cut: the scroll bar reaches the rest.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAutoFillBackground(false);
  verticalScrollBar()->installEventFilter(this);
  InstallTerminalAccessible();
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&refreshTimer_, &QTimer::timeout, this, [this] { Refresh(); });
  screen_.SetAutoWrap(settings_.WrapLines);
  ApplyFont();
  Follow();
}

TComTerminal::~TComTerminal() {
  Unbind();
}

// --- Port

void TComTerminal::SetComPort(serial::TCustomComPort* port) {
  if (port == port_) return;
  Unbind();
  port_ = port;
  Bind();
}

void TComTerminal::Bind() {
  if (!port_) return;
  link_ = {};
  link_.OnRxBuf = [this](serial::TCustomComPort&, const void* buffer, int32_t count) {
    Received(std::string(static_cast<const char*>(buffer), static_cast<size_t>(count)));
  };
  port_->RegisterLink(&link_);
}

void TComTerminal::Unbind() {
  if (port_) port_->UnRegisterLink(&link_);
}

void TComTerminal::Received(std::string bytes) {
  // A port that delivers in its own thread calls here from that thread; the screen changes on
  // the terminal's own. The queued call is dropped if the terminal is gone by then.
  if (QThread::currentThread() != thread()) {
    QMetaObject::invokeMethod(
        this, [this, bytes = std::move(bytes)] { Received(bytes); }, Qt::QueuedConnection);
    return;
  }
  Show(bytes);
}

void TComTerminal::Show(std::string_view bytes) {
  switch (settings_.ReceiveLineEnd) {
    case tlAsIs:
      decoder_.Write(bytes);
      break;
    case tlCRLF: {
      // The LF of a CR LF pair may come in the next read.
      std::string out;
      for (const char c : bytes) {
        if (c == '\n' && crPending_) {
          crPending_ = false;
          continue;
        }
        crPending_ = c == '\r';
        if (c == '\r' || c == '\n') {
          out += "\r\n";
        } else {
          out += c;
        }
      }
      decoder_.Write(out);
      break;
    }
    case tlLF: {
      std::string out;
      for (const char c : bytes) {
        if (c == '\n') out += '\r';
        out += c;
      }
      decoder_.Write(out);
      break;
    }
  }
  Track();
  ScheduleRefresh();
}

void TComTerminal::Send(std::string_view bytes) {
  if (bytes.empty() || !port_ || !port_->Connected()) return;
  port_->WriteStr(std::string(bytes));
  if (settings_.LocalEcho) Show(bytes);
}

void TComTerminal::Reply(const std::string& bytes) {
  // An answer is the terminal's, not the operator's: it is never echoed. It comes from inside
  // a write to the screen, so a failing port must not break off that write half-way.
  if (!port_ || !port_->Connected()) return;
  try {
    port_->WriteStr(bytes);
  } catch (const serial::EComPort&) {
    platform::HandleException(std::current_exception());
  }
}

TTermLineSettings TComTerminal::LineSettings() const {
  TTermLineSettings line;
  if (!port_) return line;
  const serial::TBaudRate rate = port_->BaudRate();
  line.BaudRate = static_cast<int>(rate == serial::brCustom ? port_->CustomBaudRate()
                                                            : serial::BaudRateValue(rate));
  line.DataBits = 5 + (port_->DataBits() - serial::dbFive);
  switch (port_->Parity().Bits()) {
    case serial::prNone:
      line.Parity = tpNone;
      break;
    case serial::prOdd:
      line.Parity = tpOdd;
      break;
    case serial::prEven:
      line.Parity = tpEven;
      break;
    case serial::prMark:
      line.Parity = tpMark;
      break;
    case serial::prSpace:
      line.Parity = tpSpace;
      break;
  }
  return line;
}

void TComTerminal::Write(std::string_view bytes) {
  Show(bytes);
}

void TComTerminal::SendText(std::string_view text) {
  switch (settings_.SendLineEnd) {
    case tlAsIs:
      Send(text);
      break;
    case tlCRLF:
      Send(MakeLineEnds(text, "\r\n"));
      break;
    case tlLF:
      Send(MakeLineEnds(text, "\n"));
      break;
  }
}

void TComTerminal::SendKey(TTermKey key) {
  Send(decoder_.KeyBytes(key));
}

void TComTerminal::Clear() {
  decoder_.Reset();
  screen_.SetAutoWrap(settings_.WrapLines);
  crPending_ = false;
  ClearSelection();
  Follow();
}

// --- Settings

void TComTerminal::SetEmulation(TTermEmulation value) {
  settings_.Emulation = value;
  decoder_.SetEmulation(value);  // back to the Columns() setting after DECCOLM
  FitWidth();
  viewport()->update();
}

void TComTerminal::SetColumns(int value) {
  settings_.Columns = std::clamp(value, 1, TTermScreen::kMaxColumns);
  screen_.SetSize(settings_.Columns, settings_.Rows);
  updateGeometry();
  Follow();
}

void TComTerminal::SetRows(int value) {
  settings_.Rows = std::clamp(value, 1, TTermScreen::kMaxRows);
  screen_.SetSize(settings_.Columns, settings_.Rows);
  updateGeometry();
  Follow();
}

void TComTerminal::SetWrapLines(bool value) {
  settings_.WrapLines = value;
  screen_.SetAutoWrap(value);
}

void TComTerminal::SetScrollBack(int lines) {
  settings_.ScrollBack = std::clamp(lines, 0, TTermScreen::kMaxHistory);
  screen_.SetHistoryLimit(settings_.ScrollBack);
  Follow();
}

void TComTerminal::SetFontName(const std::string& value) {
  settings_.FontName = value;
  ApplyFont();
}

void TComTerminal::SetFontSize(int points) {
  settings_.FontSize = std::clamp(points, 1, 144);
  ApplyFont();
}

void TComTerminal::SetSettings(const TTermSettings& value) {
  SetEmulation(value.Emulation);
  settings_.Columns = std::clamp(value.Columns, 1, TTermScreen::kMaxColumns);
  SetRows(value.Rows);  // applies the columns too
  SetLocalEcho(value.LocalEcho);
  SetSendLineEnd(value.SendLineEnd);
  SetReceiveLineEnd(value.ReceiveLineEnd);
  SetWrapLines(value.WrapLines);
  SetScrollBack(value.ScrollBack);
  settings_.FontName = value.FontName;
  SetFontSize(value.FontSize);  // applies the name too
}

void TComTerminal::StoreSettings(serial::TIniDocument& document, std::string_view section) const {
  for (const auto& [key, value] : TermSettingsToValues(settings_)) {
    document.WriteString(section, key, value);
  }
}

void TComTerminal::LoadSettings(const serial::TIniDocument& document, std::string_view section) {
  if (!document.HasSection(section)) {
    serial::RaiseComError(serial::ecode::kLoadSettings, -1,
                          "no section [" + std::string(section) + "]");
  }
  TTermSettings read = settings_;
  ValuesToTermSettings(document.ReadSection(section), read);
  SetSettings(read);
}

void TComTerminal::StoreIniFile(const std::string& fileName, const std::string& section) const {
  const auto text = serial::ReadSettingsFile(fileName, serial::ecode::kStoreSettings);
  serial::TIniDocument document(text.value_or(""));
  try {
    StoreSettings(document, section);
  } catch (const std::invalid_argument& e) {
    serial::RaiseComError(serial::ecode::kStoreSettings, EINVAL,
                          std::string(e.what()) + " in " + fileName);
  }
  serial::ReplaceSettingsFile(fileName, document.Text(), serial::ecode::kStoreSettings);
}

void TComTerminal::LoadIniFile(const std::string& fileName, const std::string& section) {
  const auto text = serial::ReadSettingsFile(fileName, serial::ecode::kLoadSettings);
  if (!text) serial::RaiseComError(serial::ecode::kLoadSettings, ENOENT, "no file " + fileName);
  const serial::TIniDocument document(*text);
  const std::string where = "section [" + section + "] of " + fileName;
  if (!document.HasSection(section)) {
    serial::RaiseComError(serial::ecode::kLoadSettings, -1, "no " + where);
  }
  try {
    LoadSettings(document, section);
  } catch (const serial::EComConvert& e) {
    serial::RaiseComError(serial::ecode::kLoadSettings, -1, std::string(e.what()) + " in " + where);
  }
}

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

// --- Keys

std::string TComTerminal::KeyToBytes(const QKeyEvent& event) const {
  const Qt::KeyboardModifiers mods = event.modifiers();
  const bool ctrl = mods & Qt::ControlModifier;
  const int key = event.key();
  switch (key) {
    case Qt::Key_Up:
      return decoder_.KeyBytes(tkUp);
    case Qt::Key_Down:
      return decoder_.KeyBytes(tkDown);
    case Qt::Key_Right:
      return decoder_.KeyBytes(tkRight);
    case Qt::Key_Left:
      return decoder_.KeyBytes(tkLeft);
    case Qt::Key_Home:
      return decoder_.KeyBytes(tkHome);
    case Qt::Key_End:
      return decoder_.KeyBytes(tkEnd);
    case Qt::Key_Insert:
      return decoder_.KeyBytes(tkInsert);
    case Qt::Key_Delete:
      return decoder_.KeyBytes(tkDelete);
    case Qt::Key_PageUp:
      return decoder_.KeyBytes(tkPageUp);
    case Qt::Key_PageDown:
      return decoder_.KeyBytes(tkPageDown);
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return decoder_.KeyBytes(tkReturn);
    // Most devices on a serial line take BS for a rub-out.
    case Qt::Key_Backspace:
      return "\b";
    case Qt::Key_Tab:
      return "\t";
    case Qt::Key_Escape:
      return "\x1b";
    default:
      break;
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
    return decoder_.KeyBytes(static_cast<TTermKey>(tkF1 + (key - Qt::Key_F1)));
  }
  if (ctrl && !(mods & Qt::AltModifier)) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
      return std::string(1, static_cast<char>(key - Qt::Key_A + 1));
    switch (key) {
      case Qt::Key_At:
      case Qt::Key_Space:
        return std::string(1, '\0');
      case Qt::Key_BracketLeft:
        return "\x1b";
      case Qt::Key_Backslash:
        return "\x1c";
      case Qt::Key_BracketRight:
        return "\x1d";
      case Qt::Key_AsciiCircum:
        return "\x1e";
      case Qt::Key_Underscore:
        return "\x1f";
      default:
        return {};
    }
  }
  const QString typed = event.text();
  if (typed.isEmpty() || typed.at(0).unicode() < 0x20 || typed.at(0).unicode() == 0x7F) return {};
  return ToBytes(typed);
}

bool TComTerminal::event(QEvent* event) {
  // Keys that mean something to the line reach the terminal before the window's shortcuts.
  if (event->type() == QEvent::ShortcutOverride) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool ctrlShift = (key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) ==
                           (Qt::ControlModifier | Qt::ShiftModifier);
    if (ctrlShift && (key->key() == Qt::Key_C || key->key() == Qt::Key_V)) {
      event->accept();
      return true;
    }
    if ((key->modifiers() & Qt::ControlModifier) && !KeyToBytes(*key).empty()) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

bool TComTerminal::focusNextPrevChild(bool) {
  // Tab belongs to the line.
  return false;
}

void TComTerminal::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers();
  const bool ctrlShift = (mods & (Qt::ControlModifier | Qt::ShiftModifier)) ==
                         (Qt::ControlModifier | Qt::ShiftModifier);
  // Failures of the port end here, at the edge of the toolkit's handler.
  try {
    if (ctrlShift && event->key() == Qt::Key_C) {
      Copy();
    } else if (ctrlShift && event->key() == Qt::Key_V) {
      SendText(ToBytes(QApplication::clipboard()->text()));
    } else if ((mods & Qt::ShiftModifier) &&
               (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown)) {
      if (barStale_) SyncScrollBar();
      QScrollBar* bar = verticalScrollBar();
      const int page = std::max(1, bar->pageStep() - 1);
      bar->setValue(bar->value() + (event->key() == Qt::Key_PageUp ? -page : page));
    } else {
      const std::string bytes = KeyToBytes(*event);
      if (bytes.empty()) {
        if (barStale_) SyncScrollBar();
        QAbstractScrollArea::keyPressEvent(event);
        return;
      }
      SetScrollOffset(0);
      if (bytes == "\r" || bytes == "\r\n") {
        SendText(bytes);  // Enter: the sending line end
      } else {
        Send(bytes);
      }
    }
    event->accept();
  } catch (const serial::EComPort&) {
    platform::HandleException(std::current_exception());
  }
}

// --- Selection

QPoint TComTerminal::TextPosition(const QPoint& pixel) const {
  const int last = screen_.HistoryCount() + screen_.Rows() - 1;
  const int row = std::clamp(pixel.y() / cellHeight_, 0, settings_.Rows - 1);
  const int y = std::min(TopLine() + row, last);
  // On a double-size line each character takes two cells: positions are the line's characters.
  const int scale = TextLine(y).Size == lsSingle ? 1 : 2;
  const int step = cellWidth_ * scale;
  const int x = std::clamp((pixel.x() + horizontalScrollBar()->value() + step / 2) / step, 0,
                           (screen_.Columns() + scale - 1) / scale);
  return {x, y};
}

bool TComTerminal::Selected(int x, int y) const {
  if (!HasSelection()) return false;
  auto [from, to] =
      std::minmax(selectionStart_, selectionEnd_, [](const QPoint& a, const QPoint& b) {
        return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
      });
  if (y < from.y() || y > to.y()) return false;
  if (y == from.y() && x < from.x()) return false;
  if (y == to.y() && x >= to.x()) return false;
  return true;
}

QString TComTerminal::SelectedText() const {
  if (!HasSelection()) return {};
  auto [from, to] =
      std::minmax(selectionStart_, selectionEnd_, [](const QPoint& a, const QPoint& b) {
        return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
      });
  const int last = screen_.HistoryCount() + screen_.Rows() - 1;
  QStringList lines;
  for (int y = std::max(from.y(), 0); y <= std::min(to.y(), last); ++y) {
    const TTermLine& line = TextLine(y);
    const int size = static_cast<int>(line.size());
    const int begin = std::min(y == from.y() ? from.x() : 0, size);
    const int end = std::min(y == to.y() ? to.x() : size, size);
    std::u32string chars;
    for (int x = begin; x < end; ++x) chars += line[x].Char;
    // Blanks at the end of a line are the screen's, not the text's.
    while (!chars.empty() && chars.back() == U' ') chars.pop_back();
    lines << QString::fromStdU32String(chars);
  }
  return lines.join(QLatin1Char('\n'));
}

void TComTerminal::SelectAll() {
  selecting_ = false;
  selectionStart_ = {0, 0};
  selectionEnd_ = {screen_.Columns(), screen_.HistoryCount() + screen_.Rows() - 1};
  viewport()->update();
}

void TComTerminal::ClearSelection() {
  selecting_ = false;
  selectionStart_ = selectionEnd_ = {};
  viewport()->update();
}

void TComTerminal::Copy() {
  if (HasSelection()) QApplication::clipboard()->setText(SelectedText());
}

void TComTerminal::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  selecting_ = true;
  selectionStart_ = selectionEnd_ = TextPosition(event->position().toPoint());
  viewport()->update();
}

void TComTerminal::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_) return;
  selectionEnd_ = TextPosition(event->position().toPoint());
  viewport()->update();
}

void TComTerminal::mouseReleaseEvent(QMouseEvent* event) {
  if (!selecting_ || event->button() != Qt::LeftButton) return;
  selecting_ = false;
  selectionEnd_ = TextPosition(event->position().toPoint());
  // Where the window system keeps a selection of its own, the text goes there as well.
  QClipboard* clipboard = QApplication::clipboard();
  if (HasSelection() && clipboard->supportsSelection()) {
    clipboard->setText(SelectedText(), QClipboard::Selection);
  }
  viewport()->update();
}

}  // namespace widgets
