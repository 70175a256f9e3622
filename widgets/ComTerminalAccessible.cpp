#include "widgets/ComTerminalAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QScrollBar>
#include <algorithm>
#include <vector>

#include "widgets/ComTerminal.h"

namespace widgets {
namespace {

// The screen's lines, without trailing blanks except up to the cursor, so that the cursor's
// offset lands where it is; the text is the lines joined with line feeds.
struct TScreenText {
  explicit TScreenText(const TComTerminal& terminal) {
    const TTermScreen& screen = terminal.Screen();
    for (int row = 0; row < screen.Rows(); ++row) {
      const TTermLine& line = screen.Line(row);
      size_t end = line.size();
      while (end > 0 && line[end - 1].Char == U' ') --end;
      if (row == screen.CursorRow())
        end = std::max(end, static_cast<size_t>(screen.CursorColumn()));
      std::u32string chars;
      for (size_t i = 0; i < end; ++i) chars += line[i].Char;
      if (row > 0) text += QLatin1Char('\n');
      starts.push_back(static_cast<int>(text.size()));
      text += QString::fromStdU32String(chars);
    }
    cursor = starts[static_cast<size_t>(screen.CursorRow())] + screen.CursorColumn();
  }
  // The row and column of a character offset.
  std::pair<int, int> Position(int offset) const {
    const auto next = std::upper_bound(starts.begin(), starts.end(), offset);
    const int row = static_cast<int>(next - starts.begin()) - 1;
    return {std::max(row, 0), offset - starts[static_cast<size_t>(std::max(row, 0))]};
  }

  QString text;
  std::vector<int> starts;  // each line's first offset
  int cursor = 0;
};

class TTerminalAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit TTerminalAccessible(TComTerminal* terminal)
      : QAccessibleWidget(terminal, QAccessible::Terminal) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text type) const override {
    QString value = QAccessibleWidget::text(type);
    if (type == QAccessible::Name && value.isEmpty()) value = QStringLiteral("Terminal");
    return value;
  }

  // The text: the screen's lines.
  QString text(int startOffset, int endOffset) const override {
    const QString all = TScreenText(Terminal()).text;
    startOffset = std::clamp(startOffset, 0, static_cast<int>(all.size()));
    endOffset = std::clamp(endOffset, startOffset, static_cast<int>(all.size()));
    return all.mid(startOffset, endOffset - startOffset);
  }
  int characterCount() const override {
    return static_cast<int>(TScreenText(Terminal()).text.size());
  }
  int cursorPosition() const override { return TScreenText(Terminal()).cursor; }
  // The line's cursor is the far end's to move.
  void setCursorPosition(int) override {}

  QRect characterRect(int offset) const override {
    const auto [row, column] = TScreenText(Terminal()).Position(offset);
    const QFontMetrics metrics(Terminal().font());
    const int w = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    const int h = std::max(1, metrics.height());
    const int viewRow = row + Terminal().ScrollOffset();
    const QPoint corner = Terminal().viewport()->mapToGlobal(QPoint(column * w, viewRow * h));
    return {corner, QSize(w, h)};
  }
  int offsetAtPoint(const QPoint& point) const override {
    const QFontMetrics metrics(Terminal().font());
    const int w = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    const int h = std::max(1, metrics.height());
    const QPoint at = Terminal().viewport()->mapFromGlobal(point);
    const TScreenText screen(Terminal());
    const int row = at.y() / h - Terminal().ScrollOffset();
    if (at.x() < 0 || at.y() < 0 || row < 0 || row >= static_cast<int>(screen.starts.size())) {
      return -1;
    }
    const int start = screen.starts[static_cast<size_t>(row)];
    const int end = row + 1 < static_cast<int>(screen.starts.size())
                        ? screen.starts[static_cast<size_t>(row + 1)] - 1
                        : static_cast<int>(screen.text.size());
    return std::min(start + at.x() / w, end);
  }

  // The mouse selection spans the scroll-back as well; it is not offered here.
  void selection(int, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = 0;
  }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  void scrollToSubstring(int, int) override {}
  QString attributes(int offset, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = offset;
    return {};
  }

  // What the screen reader was last told.
  QString told;
  int toldCursor = -1;

 private:
  TComTerminal& Terminal() const { return *static_cast<TComTerminal*>(widget()); }
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
  if (auto* terminal = dynamic_cast<TComTerminal*>(object))
    return new TTerminalAccessible(terminal);
  return nullptr;
}

}  // namespace

void InstallTerminalAccessible() {
  static const bool installed = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)installed;
}

void NotifyTerminalChanged(TComTerminal& terminal) {
  if (!QAccessible::isActive()) return;
  auto* face = dynamic_cast<TTerminalAccessible*>(QAccessible::queryAccessibleInterface(&terminal));
  if (!face) return;
  const TScreenText now(terminal);
  if (now.text != face->told) {
    QAccessibleTextUpdateEvent update(&terminal, 0, face->told, now.text);
    QAccessible::updateAccessibility(&update);
    face->told = now.text;
  }
  if (now.cursor != face->toldCursor) {
    QAccessibleTextCursorEvent moved(&terminal, now.cursor);
    QAccessible::updateAccessibility(&moved);
    face->toldCursor = now.cursor;
  }
}

}  // namespace widgets
