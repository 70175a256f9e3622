#pragma once
// The received bytes in hex, sixteen to a line, beside the terminal.
//
// A flood brings tens of thousands of lines a second, so the view keeps only the raw bytes of
// its last lines and formats a line when it is drawn: appending costs a copy of the bytes, and
// the picture and the scroll bar move on at most once a frame, the first change after a quiet
// spell at once.
//
// It shows what came last: it follows the newest bytes unless the operator has scrolled up to
// read something, and then stays on the lines shown while new ones come and old ones go, until
// scrolled to the end again. It asks for a whole line beside the screen; the window sizes itself
// from that, and the view gives way first when the screen is too small for both.

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

namespace term {

class THexView final : public QAbstractScrollArea {
 public:
  static constexpr int kBytesPerLine = 16;

  // `maxLines`: how many lines are kept, the oldest dropped first.
  explicit THexView(int maxLines, QWidget* parent = nullptr);

  // Bytes received in pieces line up as if received whole.
  void Append(std::string_view bytes);
  void Clear();

  // The lines kept, joined with '\n', and their number.
  QString Text() const;
  int LineCount() const;
  // The selected lines as text, or every line kept when none is selected; and that to the
  // clipboard.
  QString CopyText() const;
  void Copy() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  std::string_view Kept() const;
  std::string_view Line(int index) const;
  int VisibleLines() const;
  int LineWidth() const;
  // Line under a point of the viewport, counted from the first ever received (so that it stays
  // the same line while old ones are dropped).
  int64_t LineAt(int y) const;
  void ScheduleUpdate();
  void UpdateNow();
  void UpdateBars();

  int maxLines_;
  // Whole lines from the oldest kept on; only the last may be short. Bytes before `start_` are
  // dropped lines waiting to be cut away together.
  std::string bytes_;
  size_t start_ = 0;
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

}  // namespace term
