#pragma once
/// \file
/// The terminal control: a screen of Columns() by Rows() character cells in a monospaced font,
/// with a scroll-back above it that the scroll bar and the mouse wheel reach. Bound to a port,
/// it shows what the port receives, decoded by the chosen emulation, and sends what is typed:
/// text, Enter as the sending line end says (sent as is: CR, or CR LF in the line's new-line
/// mode), Backspace, Tab, Escape and control characters with Ctrl, and the arrows, Home, End,
/// Insert, Delete, Page Up, Page Down and F1 to F12 as the emulation sends them. The emulation's
/// answers to status and identification requests go to the port too. With local echo, what is sent
/// is also shown.
///
/// Bold, underline, reverse and the eight colours show; blinking text shows steady. Double-width
/// lines show each character twice as wide, double-height lines the top or bottom half of each
/// character twice as tall. The line may switch the screen to 132 columns and back (DECCOLM);
/// the Columns() setting stays, and a reset or another emulation returns to it. Whenever the
/// view is narrower than the screen a horizontal scroll bar reaches the rest; when it is shorter,
/// the vertical scroll bar reaches the screen's rows below it too, and the live view keeps the
/// cursor's row in sight.
///
/// A mouse drag selects text; Ctrl+Shift+C or Copy() puts it on the clipboard. Ctrl+Shift+V
/// sends the clipboard's text.
///
/// Settings are properties and, all together, a TTermSettings value that a section of an INI
/// file stores. Sending to a closed port, or with no port, sends nothing; a port's failure while
/// sending a key goes to the application's exception handler.

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "../platform/Export.h"
#include "../serial/ComLink.h"
#include "../serial/extras/IniDocument.h"
#include "TermSettings.h"
#include "emulation/TermDecoder.h"
#include "emulation/TermScreen.h"

class QPainter;

namespace serial {
class TCustomComPort;
}

namespace widgets {

/// The terminal control; see the file's description for what it shows, sends and stores.
class VALTREX_API TComTerminal : public QAbstractScrollArea {
 public:
  /// A terminal with the default settings (TTermSettings) and no port.
  explicit TComTerminal(QWidget* parent = nullptr);
  /// Unbinds from its port. A port that delivers in its own thread must be closed, or deliver on
  /// the main thread, while its terminals come and go: its links are not guarded against that
  /// thread.
  ~TComTerminal() override;
  TComTerminal(const TComTerminal&) = delete;
  TComTerminal& operator=(const TComTerminal&) = delete;

  /// The port the terminal shows and sends to; null while there is none.
  serial::TCustomComPort* ComPort() const { return port_; }
  /// Registers the terminal's link with `port` (null: no port). The link listens for received
  /// buffers, so the port reads what arrives and hands it over.
  void SetComPort(serial::TCustomComPort* port);

  /// @name Settings
  ///@{

  /// The chosen emulation. The line may switch an ANSI terminal to VT52 for a while
  /// (CSI ? 2 l, back with ESC <); this stays the one chosen.
  TTermEmulation Emulation() const { return settings_.Emulation; }
  /// Also resets the terminal's modes; what the screen shows stays.
  void SetEmulation(TTermEmulation value);
  /// The screen's size in characters, whatever the widget's size; clamped to what a screen can
  /// hold. The screen may be wider or narrower for a while after DECCOLM: Screen().Columns().
  int Columns() const { return settings_.Columns; }
  /// Sets the characters per line, 1 to TTermScreen::kMaxColumns.
  void SetColumns(int value);
  /// Lines on the screen.
  int Rows() const { return settings_.Rows; }
  /// Sets the lines on the screen, 1 to TTermScreen::kMaxRows.
  void SetRows(int value);
  /// Whether what is sent is shown too, for a line that does not echo it.
  bool LocalEcho() const { return settings_.LocalEcho; }
  /// Turns local echo on or off.
  void SetLocalEcho(bool value) { settings_.LocalEcho = value; }
  /// What Enter and the line ends of a sent text become.
  TTermLineEnd SendLineEnd() const { return settings_.SendLineEnd; }
  /// Sets what sent line ends become.
  void SetSendLineEnd(TTermLineEnd value) { settings_.SendLineEnd = value; }
  /// How received CR and LF make new lines.
  TTermLineEnd ReceiveLineEnd() const { return settings_.ReceiveLineEnd; }
  /// Sets how received line ends are taken.
  void SetReceiveLineEnd(TTermLineEnd value) { settings_.ReceiveLineEnd = value; }
  /// A line longer than the screen goes on on the next line; without, its end overwrites the
  /// last column. The line can change it (DECAWM); this is where a reset starts.
  bool WrapLines() const { return settings_.WrapLines; }
  /// Sets the wrapping, at once and for later resets.
  void SetWrapLines(bool value);
  /// Lines kept above the screen; fewer drop the oldest at once.
  int ScrollBack() const { return settings_.ScrollBack; }
  /// Sets the lines kept, 0 to TTermScreen::kMaxHistory.
  void SetScrollBack(int lines);
  /// The font's family and point size; the control keeps it monospaced.
  std::string FontName() const { return settings_.FontName; }
  /// Sets the font's family; the cell size follows.
  void SetFontName(const std::string& value);
  /// The font's size in points.
  int FontSize() const { return settings_.FontSize; }
  /// Sets the font's size, 1 to 144 points; the cell size follows.
  void SetFontSize(int points);

  /// All of them at once; each is clamped as its setter clamps it.
  const TTermSettings& Settings() const { return settings_; }
  /// Sets every setting at once, each clamped as its setter clamps it.
  void SetSettings(const TTermSettings& value);
  /// The settings in a section of an INI document, or of an INI file, with one key each; the
  /// rest of the document or file stays as it was. Loading reads every value first and changes
  /// nothing unless all of them read. Files fail with EComPort "Failed to store settings" or
  /// "Failed to load settings"; a missing file or section is a failure to load. A document's
  /// value that does not read raises serial::EComConvert.
  void StoreSettings(serial::TIniDocument& document, std::string_view section) const;
  /// Takes the settings from a section of an INI document, as StoreSettings wrote them.
  void LoadSettings(const serial::TIniDocument& document, std::string_view section);
  /// Stores the settings in a section of an INI file, replacing the file whole.
  void StoreIniFile(const std::string& fileName, const std::string& section) const;
  /// Takes the settings from a section of an INI file.
  void LoadIniFile(const std::string& fileName, const std::string& section);
  ///@}

  /// @name Contents
  ///@{

  /// The screen the view shows, with its scroll-back.
  const TTermScreen& Screen() const { return screen_; }
  /// Shows bytes as if the port had received them.
  void Write(std::string_view bytes);
  /// Sends to the port, line ends made as SendLineEnd() says, and shows them with local echo.
  void SendText(std::string_view text);
  /// Sends what the key sends in the emulation and modes in effect.
  void SendKey(TTermKey key);
  /// An empty screen and scroll-back, the cursor home, the modes as a reset leaves them.
  void Clear();
  ///@}

  /// @name Scroll-back
  /// How many lines above the live screen the view shows, 0 to the history's length. New lines
  /// keep a view that was scrolled back on the same text.
  ///@{

  /// Lines the view is scrolled back; 0 shows the live screen, or the part of it in view when the
  /// view is shorter than the screen.
  int ScrollOffset() const;
  /// Scrolls the view back by `lines`, clamped to the history's length; 0 shows the live screen
  /// with the cursor's row in sight.
  void SetScrollOffset(int lines);
  ///@}

  /// @name Selection
  /// In text positions: x a column, y a line counted from the oldest history line, so that a
  /// selection stays on its text while the view scrolls.
  ///@{

  /// Whether any text is selected.
  bool HasSelection() const { return selectionStart_ != selectionEnd_; }
  /// The selected text, its lines joined with line feeds and without trailing blanks.
  QString SelectedText() const;
  /// Selects the whole scroll-back and screen.
  void SelectAll();
  /// Selects nothing.
  void ClearSelection();
  /// Puts the selected text on the clipboard; nothing without a selection.
  void Copy();
  ///@}

  /// BEL from the line; with none assigned the application beeps.
  std::function<void(TComTerminal& sender)> OnBell;

  /// The screen's size in cells of the font, at the width the screen has now, with the frame
  /// and the scroll bar.
  QSize sizeHint() const override;

 protected:
  /// Draws the visible lines, the selection and the cursor.
  void paintEvent(QPaintEvent* event) override;
  /// Sends the key's bytes; Ctrl+Shift+C copies and Ctrl+Shift+V pastes.
  void keyPressEvent(QKeyEvent* event) override;
  /// Starts a selection.
  void mousePressEvent(QMouseEvent* event) override;
  /// Extends the selection.
  void mouseMoveEvent(QMouseEvent* event) override;
  /// Ends the selection.
  void mouseReleaseEvent(QMouseEvent* event) override;
  /// Measures the cells again when the font changes.
  void changeEvent(QEvent* event) override;
  /// Keeps Tab for the line: focus does not move on.
  bool focusNextPrevChild(bool next) override;
  /// Takes the keys that mean something to the line before the window's shortcuts do.
  bool event(QEvent* event) override;
  /// Repaints the view after the scroll bar moved.
  void scrollContentsBy(int dx, int dy) override;
  /// Gives the horizontal scroll bar the screen's width beyond the view.
  void resizeEvent(QResizeEvent* event) override;
  /// Scrolls the scroll-back, from where the screen is now.
  void wheelEvent(QWheelEvent* event) override;
  /// Brings the scroll bar up to date before the operator takes it.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Bind();
  void Unbind();
  void Received(std::string bytes);  // any thread
  void Show(std::string_view bytes);
  void Send(std::string_view bytes);
  // What a key sends, or empty for a key that sends nothing.
  std::string KeyToBytes(const QKeyEvent& event) const;
  void Reply(const std::string& bytes);
  TTermLineSettings LineSettings() const;  // the port's, for the parameter report
  void ApplyFont();
  void Measure();  // the cell size from the font
  void FitWidth();  // the horizontal scroll bar and the size hint after the width changed
  // Where the view's top line goes: counted from the screen's first row, negative in the history;
  // at 0 or more the view is live and moves to keep the cursor's row in sight.
  void Place(int top);
  int HiddenRows() const;  // the screen's rows the view is too short to show at once
  void Follow();   // the scroll bar, the selection and the picture after the screen changed
  void Track();    // the scroll-back offset and the selection after the screen changed
  void ScheduleRefresh();
  void Refresh();  // the scroll bar and the rows that changed since they were drawn
  void SyncScrollBar();
  // What decides how a row of the view looks.
  struct TDrawnRow {
    TTermLine Cells;
    int Cursor = -1;  // the cursor's column on this row, or -1
    bool Focused = false;
    int SelectFrom = 0;  // the selected columns, [from, to)
    int SelectTo = 0;
    bool Reverse = false;
    friend bool operator==(const TDrawnRow&, const TDrawnRow&) = default;
  };
  TDrawnRow RowLook(int row) const;  // what a row of the view shows now
  void Drawn(const QRegion& area);   // the rows in `area` show what the screen holds now
  QPoint TextPosition(const QPoint& pixel) const;  // into the text, clamped
  const TTermLine& TextLine(int y) const;          // y counted from the oldest history line
  int TopLine() const;                             // the text line at the view's top
  bool Selected(int x, int y) const;
  // One character in the cell rectangle `r`, as the line's size shows it.
  void DrawCharacter(QPainter& painter, const QRect& r, TTermLineSize size,
                     const QString& glyph) const;

  serial::TCustomComPort* port_ = nullptr;
  serial::TComLink link_;
  TTermSettings settings_;
  TTermScreen screen_;
  TTermDecoder decoder_;
  bool crPending_ = false;    // a received CR made a new line; an LF right after it is its pair
  uint64_t historySeen_ = 0;  // the screen's HistoryAdded() when the view last followed it
  int shownColumns_ = 0;      // the screen's width the size hint last gave
  int historyCount_ = 0;      // the screen's HistoryCount() then
  int top_ = 0;               // the view's top line, as Place() takes it
  bool syncingBar_ = false;   // the scroll bar is being set from top_, not by the operator
  // Received bytes change the screen at once; the picture follows at most once a frame, and then
  // only the rows that differ from what was drawn.
  QTimer refreshTimer_;
  QElapsedTimer sinceRefresh_;
  bool barStale_ = false;  // the scroll bar's range and position wait for the next refresh
  std::vector<TDrawnRow> drawn_;
  int cellWidth_ = 8;
  int cellHeight_ = 16;
  int ascent_ = 12;
  bool selecting_ = false;
  QPoint selectionStart_;
  QPoint selectionEnd_;
};

}  // namespace widgets
