// The terminal control's input: keys, the clipboard, and selecting text with the mouse.
#include "widgets/ComTerminal.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>
#include <exception>

#include "platform/Application.h"
#include "serial/ComError.h"

namespace widgets {
namespace {

// The terminal's characters are bytes; what Latin-1 cannot hold goes out as '?'.
std::string ToBytes(const QString& text) {
  std::string out;
  for (const QChar c : text) out += c.unicode() < 0x100 ? static_cast<char>(c.unicode()) : '?';
  return out;
}

}  // namespace

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
