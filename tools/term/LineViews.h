#pragma once
// The views of what comes in beside the terminal: the received bytes in hex, sixteen to a line,
// and the packets, a line each.
//
// A flood brings tens of thousands of lines a second, which a text document would lay out one by
// one. These views keep their last lines as plain data and format and draw only the lines in
// sight: adding costs a copy, and the picture and the scroll bar move on at most once a frame,
// the first change after a quiet spell at once.
//
// A view shows what came last: it follows the newest lines unless the operator has scrolled up
// to read something, and then stays on the lines shown while new ones come and old ones go,
// until scrolled to the end again. Dragging over lines selects them whole; Ctrl+C or the context
// menu copies the selection, or every line kept when there is none.

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace term {

class TLineView : public QAbstractScrollArea {
 public:
  explicit TLineView(QWidget* parent);

  virtual int LineCount() const = 0;
  // The lines kept, joined with '\n'.
  virtual QString Text() const;
  // The selected lines, or every line kept when none is selected; and that to the clipboard.
  QString CopyText() const;
  void Copy() const;

 protected:
  virtual QString LineText(int index) const = 0;
  // The longest line's length, for the horizontal scroll range.
  virtual int LineChars() const = 0;
  // After lines were added or dropped: `dropped` more of the oldest have gone.
  void Changed(int64_t dropped);
  // After the lines were all removed.
  void Cleared();

  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  QString LinesText(int first, int last) const;
  int VisibleLines() const;
  // The line under a point of the viewport, counted from the first ever added (so that it stays
  // the same line while old ones are dropped).
  int64_t LineAt(int y) const;
  void ScheduleUpdate();
  void UpdateNow();
  void UpdateBars();

  // Lines dropped since the start or the last Clear, and as far as the scroll bar knows.
  int64_t dropped_ = 0;
  int64_t droppedShown_ = 0;
  bool following_ = true;
  bool updating_ = false;
  bool updateArmed_ = false;
  QElapsedTimer sinceUpdate_;
  // Selected lines, counted as for LineAt; none when the anchor is negative. A press on a line
  // selects from there once the mouse moves to another; a click alone clears the selection.
  int64_t pressLine_ = -1;
  int64_t selectAnchor_ = -1;
  int64_t selectEnd_ = -1;
};

// Keeps the raw bytes of its last lines. It asks for a whole line beside the screen; the window
// sizes itself from that, and the view gives way first when the screen is too small for both.
class THexView final : public TLineView {
 public:
  static constexpr int kBytesPerLine = 16;

  // `maxLines`: how many lines are kept, the oldest dropped first.
  explicit THexView(int maxLines, QWidget* parent = nullptr);

  // Bytes received in pieces line up as if received whole.
  void Append(std::string_view bytes);
  void Clear();

  int LineCount() const override;
  QString Text() const override;
  QSize sizeHint() const override;

 protected:
  QString LineText(int index) const override;
  int LineChars() const override;

 private:
  std::string_view Kept() const;

  int maxLines_;
  // Whole lines from the oldest kept on; only the last may be short. Bytes before `start_` are
  // dropped lines waiting to be cut away together.
  std::string bytes_;
  size_t start_ = 0;
};

// Lines of text, as given.
class TTextLinesView final : public TLineView {
 public:
  explicit TTextLinesView(int maxLines, QWidget* parent = nullptr);

  void AppendLine(QString line);
  void Clear();

  int LineCount() const override;

 protected:
  QString LineText(int index) const override;
  int LineChars() const override;

 private:
  int maxLines_;
  std::deque<QString> lines_;
  // The longest line since the last Clear: the range only grows, as a text edit's does.
  int chars_ = 0;
};

}  // namespace term
