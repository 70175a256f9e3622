// The terminal control on the fake line: received bytes reach its screen in every delivery
// mode, keys reach the line as the emulation sends them, echo and line ends, its settings
// through an INI section and file, the scroll-back by the wheel, selection and copy, and the
// picture's colours.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest/QTest>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "platform/fake/FakeComDevice.h"
#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "serial/extras/ComStrings.h"
#include "serial/extras/IniDocument.h"
#include "widgets/ComTerminal.h"

namespace widgets::test {
namespace {

using namespace std::chrono_literals;

// A generous bound; a pass never waits this long.
constexpr int kDeadlineMs = 20000;

struct TerminalRig {
  explicit TerminalRig(serial::TSyncMethod mode = serial::smThreadSync) {
    port.SetDeviceOpener(platform::FakeOpener(line));
    port.SetPort("fake0");
    port.SetSyncMethod(mode);
    terminal = std::make_unique<TComTerminal>();
    terminal->SetComPort(&port);
    terminal->resize(terminal->sizeHint());
  }
  ~TerminalRig() {
    if (port.Connected()) port.Close();
    terminal.reset();  // before the port: it unregisters its link
  }

  // Puts bytes on the line and has the port deliver them, as its event thread would.
  void Receive(const std::string& bytes) {
    line->PutInput(bytes);
    port.CallRxChar();
  }
  // What went out since the last call.
  std::string Sent() {
    const std::string all = line->Written();
    std::string fresh = all.substr(seen);
    seen = all.size();
    return fresh;
  }
  std::string Row(int row) const { return terminal->Screen().LineText(row); }
  template <typename P>
  bool Until(P done) {
    return QTest::qWaitFor(
        [&] {
          platform::ProcessMessages();
          return done();
        },
        kDeadlineMs);
  }

  std::shared_ptr<platform::FakeLine> line =
      std::make_shared<platform::FakeLine>(std::vector<std::string>{"fake0"});
  serial::TComPort port;
  std::unique_ptr<TComTerminal> terminal;
  size_t seen = 0;
};

TEST(ComTerminal, ReceivedBytesReachTheScreen) {
  TerminalRig rig;
  rig.port.Open();
  rig.Receive("hello\r\n\033[1;31mX");
  EXPECT_EQ(rig.Row(0), "hello");
  const TTermAttributes& a = rig.terminal->Screen().Cell(0, 1).Attributes;
  EXPECT_TRUE(a.Bold);
  EXPECT_EQ(a.Foreground, tcRed);
  // A sequence cut between two reads is still one sequence.
  rig.Receive("\033[2");
  rig.Receive(";5HY");
  EXPECT_EQ(rig.Row(1), "X   Y");
  // With no port the terminal shows what it is given and reads nothing.
  rig.terminal->SetComPort(nullptr);
  rig.Receive("lost");
  EXPECT_EQ(rig.Row(1), "X   Y");
  EXPECT_FALSE(rig.port.HasLink());
}

// A port that delivers in its own thread: the screen still changes on the terminal's thread.
TEST(ComTerminal, BytesDeliveredInThePortsThreadReachTheScreen) {
  TerminalRig rig(serial::smNone);
  rig.port.Open();
  ASSERT_TRUE(rig.line->WaitForCommWait(10s));
  int bells = 0;
  rig.terminal->OnBell = [&](TComTerminal& terminal) {
    EXPECT_EQ(QThread::currentThread(), terminal.thread());
    ++bells;
  };
  rig.line->PutInput("from the thread\a");
  rig.line->RaiseCommEvent(platform::kEvRxChar);
  EXPECT_TRUE(rig.Until([&] { return bells == 1; }));
  EXPECT_EQ(rig.Row(0), "from the thread");
}

struct TKeyCase {
  TTermEmulation Emulation;
  std::string Received;  // modes set by the line first
  Qt::Key Key;
  Qt::KeyboardModifiers Modifiers;
  std::string Bytes;
  char Typed = 0;  // a character key, clicked with its text
};

TEST(ComTerminal, KeysReachThePortAsTheEmulationSendsThem) {
  const std::vector<TKeyCase> cases = {
      {teANSI, "", Qt::Key_Up, Qt::NoModifier, "\033[A"},
      {teANSI, "", Qt::Key_Left, Qt::NoModifier, "\033[D"},
      {teANSI, "", Qt::Key_Home, Qt::NoModifier, "\033[H"},
      {teANSI, "", Qt::Key_End, Qt::NoModifier, "\033[F"},
      {teANSI, "", Qt::Key_Delete, Qt::NoModifier, "\033[3~"},
      {teANSI, "", Qt::Key_PageDown, Qt::NoModifier, "\033[6~"},
      {teANSI, "", Qt::Key_F1, Qt::NoModifier, "\033OP"},
      {teANSI, "", Qt::Key_F5, Qt::NoModifier, "\033[15~"},
      {teANSI, "", Qt::Key_F12, Qt::NoModifier, "\033[24~"},
      {teANSI, "\033[?1h", Qt::Key_Up, Qt::NoModifier, "\033OA"},
      {teANSI, "\033[?1h", Qt::Key_End, Qt::NoModifier, "\033OF"},
      {teVT100, "", Qt::Key_Down, Qt::NoModifier, "\033[B"},
      {teVT52, "", Qt::Key_Up, Qt::NoModifier, "\033A"},
      {teVT52, "", Qt::Key_Right, Qt::NoModifier, "\033C"},
      {teVT52, "", Qt::Key_F2, Qt::NoModifier, "\033Q"},
      {teVT52, "", Qt::Key_F6, Qt::NoModifier, ""},
      {teANSI, "\033[?2l", Qt::Key_Up, Qt::NoModifier, "\033A"},
      {teANSI, "", Qt::Key_A, Qt::NoModifier, "a", 'a'},
      {teANSI, "", Qt::Key_A, Qt::ShiftModifier, "A", 'A'},
      {teVT52, "", Qt::Key_Q, Qt::NoModifier, "q", 'q'},
      {teANSI, "", Qt::Key_C, Qt::ControlModifier, "\003"},
      {teANSI, "", Qt::Key_BracketLeft, Qt::ControlModifier, "\033"},
      {teANSI, "", Qt::Key_Escape, Qt::NoModifier, "\033"},
      {teANSI, "", Qt::Key_Tab, Qt::NoModifier, "\t"},
      {teANSI, "", Qt::Key_Backspace, Qt::NoModifier, "\b"},
      {teANSI, "", Qt::Key_Return, Qt::NoModifier, "\r"},
  };
  for (const TKeyCase& c : cases) {
    TerminalRig rig;
    rig.port.Open();
    rig.terminal->SetEmulation(c.Emulation);
    rig.Receive(c.Received);
    rig.Sent();
    if (c.Typed != 0) {
      QTest::keyClick(rig.terminal.get(), c.Typed, c.Modifiers);
    } else {
      QTest::keyClick(rig.terminal.get(), c.Key, c.Modifiers);
    }
    EXPECT_EQ(rig.Sent(), c.Bytes) << "emulation " << int{c.Emulation} << " key " << c.Key;
  }
}

TEST(ComTerminal, StatusRequestsAreAnsweredOnThePort) {
  TerminalRig rig;
  rig.port.Open();
  rig.Receive("ab\033[6n\033[5n\033[c");
  EXPECT_EQ(rig.Sent(), "\033[1;3R\033[0n\033[?1;2c");
  // An answer is not echoed.
  rig.terminal->SetLocalEcho(true);
  rig.Receive("\033[6n");
  EXPECT_EQ(rig.Sent(), "\033[1;3R");
  EXPECT_EQ(rig.Row(0), "ab");
  // The line parameters are the port's own: 1200 bit/s (code 64), 7 bits, odd parity.
  rig.port.SetBaudRate(serial::br1200);
  rig.port.SetDataBits(serial::dbSeven);
  rig.port.Parity().SetBits(serial::prOdd);
  rig.Receive("\033[x");
  EXPECT_EQ(rig.Sent(), "\033[2;4;2;64;64;1;0x");
  // A closed port answers nothing, and asking does not fail.
  rig.port.Close();
  rig.terminal->Write("\033[6n");
  EXPECT_EQ(rig.Sent(), "");
}

TEST(ComTerminal, AFailingPortGoesToTheExceptionHandler) {
  TerminalRig rig;
  rig.port.Open();
  std::vector<int32_t> codes;
  platform::SetExceptionHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const serial::EComPort& error) {
      codes.push_back(error.ErrorCode());
    }
  });
  rig.line->SetFailure("WriteFile", EIO);
  QTest::keyClick(rig.terminal.get(), Qt::Key_Up);
  rig.terminal->Write("\033[5n");
  platform::SetExceptionHandler({});
  EXPECT_EQ(codes, (std::vector<int32_t>{serial::ecode::kWriteFile, serial::ecode::kWriteFile}));
  // A caller of SendText hears of it itself.
  EXPECT_THROW(rig.terminal->SendText("x"), serial::EComPort);
}

struct TLineEndCase {
  const char* Name;
  TTermLineEnd Send;
  TTermLineEnd Receive;
  bool Echo;
  std::string Typed;                  // sent with SendText, then Enter pressed
  std::vector<std::string> Received;  // reads, in order
  std::string Sent;
  std::vector<std::string> Screen;
  int CursorRow;
};

TEST(ComTerminal, EchoAndLineEnds) {
  const std::vector<TLineEndCase> cases = {
      {"Enter as is", tlAsIs, tlAsIs, false, "", {}, "\r", {}, 0},
      {"Enter as CR LF", tlCRLF, tlAsIs, false, "", {}, "\r\n", {}, 0},
      {"Enter as LF", tlLF, tlAsIs, false, "", {}, "\n", {}, 0},
      {"Enter in new-line mode", tlAsIs, tlAsIs, false, "", {"\033[20h"}, "\r\n", {}, 0},
      {"text as is", tlAsIs, tlAsIs, false, "a\r\nb\nc", {}, "a\r\nb\nc\r", {}, 0},
      {"text line ends as CR LF",
       tlCRLF,
       tlAsIs,
       false,
       "a\r\nb\nc\r",
       {},
       "a\r\nb\r\nc\r\n\r\n",
       {},
       0},
      {"text line ends as LF", tlLF, tlAsIs, false, "a\r\nb\rc", {}, "a\nb\nc\n", {}, 0},
      {"received as is", tlAsIs, tlAsIs, false, "", {"a\nb"}, "\r", {"a", " b"}, 1},
      {"received as CR LF",
       tlAsIs,
       tlCRLF,
       false,
       "",
       {"a\rb\nc\r\nd"},
       "\r",
       {"a", "b", "c", "d"},
       3},
      {"a CR LF pair cut between reads is one line end",
       tlAsIs,
       tlCRLF,
       false,
       "",
       {"a\r", "\nb"},
       "\r",
       {"a", "b"},
       1},
      {"received with LF alone", tlAsIs, tlLF, false, "", {"a\nb\rc"}, "\r", {"a", "c"}, 1},
      {"echo shows what is sent", tlCRLF, tlAsIs, true, "hi", {}, "hi\r\n", {"hi"}, 1},
      {"echo of a lone CR with LF alone received", tlAsIs, tlLF, true, "hi", {}, "hi\r", {"hi"}, 0},
      {"no echo", tlCRLF, tlAsIs, false, "hi", {}, "hi\r\n", {}, 0},
  };
  for (const TLineEndCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TerminalRig rig;
    rig.port.Open();
    rig.terminal->SetSendLineEnd(c.Send);
    rig.terminal->SetReceiveLineEnd(c.Receive);
    rig.terminal->SetLocalEcho(c.Echo);
    for (const std::string& read : c.Received) rig.Receive(read);
    rig.terminal->SendText(c.Typed);
    QTest::keyClick(rig.terminal.get(), Qt::Key_Return);
    EXPECT_EQ(rig.Sent(), c.Sent);
    for (int r = 0; r < 4; ++r) {
      EXPECT_EQ(rig.Row(r), r < static_cast<int>(c.Screen.size()) ? c.Screen[r] : "") << r;
    }
    EXPECT_EQ(rig.terminal->Screen().CursorRow(), c.CursorRow);
  }
  // Nothing is sent to a closed port, and so nothing is echoed.
  TerminalRig closed;
  closed.terminal->SetLocalEcho(true);
  closed.terminal->SendText("typed");
  EXPECT_EQ(closed.Row(0), "");
  EXPECT_EQ(closed.line->Written(), "");
}

TTermSettings Unusual() {
  TTermSettings s;
  s.Emulation = teVT52;
  s.Columns = 40;
  s.Rows = 12;
  s.LocalEcho = true;
  s.SendLineEnd = tlCRLF;
  s.ReceiveLineEnd = tlLF;
  s.WrapLines = false;
  s.ScrollBack = 77;
  s.FontName = "Courier";
  s.FontSize = 13;
  return s;
}

TEST(ComTerminal, SettingsRoundTripThroughAnIniSection) {
  TComTerminal source;
  source.SetSettings(Unusual());
  EXPECT_EQ(source.Settings(), Unusual());
  EXPECT_EQ(source.Screen().Columns(), 40);
  EXPECT_EQ(source.Screen().Rows(), 12);
  EXPECT_EQ(source.Screen().HistoryLimit(), 77);
  EXPECT_FALSE(source.Screen().AutoWrap());

  serial::TIniDocument document("; kept\n[Port]\nBaudRate=19200\n");
  source.StoreSettings(document, "Terminal");
  EXPECT_EQ(document.ReadString("Port", "BaudRate"), "19200");
  EXPECT_EQ(document.ReadString("Terminal", "Emulation"), "VT52");
  EXPECT_EQ(document.ReadString("Terminal", "SendLineEnd"), "CRLF");

  TComTerminal copy;
  copy.LoadSettings(serial::TIniDocument(document.Text()), "terminal");
  EXPECT_EQ(copy.Settings(), Unusual());
  EXPECT_EQ(copy.Emulation(), teVT52);
  EXPECT_EQ(copy.Screen().Columns(), 40);

  // One value that does not read changes nothing and names its key.
  serial::TIniDocument bad(document.Text());
  bad.WriteString("Terminal", "ReceiveLineEnd", "sometimes");
  TComTerminal fresh;
  try {
    fresh.LoadSettings(bad, "Terminal");
    FAIL() << "a bad line end was read";
  } catch (const serial::EComConvert& e) {
    EXPECT_EQ(e.Setting(), "ReceiveLineEnd");
  }
  EXPECT_EQ(fresh.Settings(), TTermSettings{});
  // A size out of range is clamped as the property clamps it, and a missing key keeps its
  // setting.
  fresh.LoadSettings(serial::TIniDocument("[T]\ncolumns=100000\nrows=0\n"), "T");
  EXPECT_EQ(fresh.Columns(), TTermScreen::kMaxColumns);
  EXPECT_EQ(fresh.Rows(), 1);
  EXPECT_EQ(fresh.Emulation(), teANSI);
  EXPECT_THROW(fresh.LoadSettings(document, "Nowhere"), serial::EComPort);
  // The text forms read back whatever the case and blanks.
  for (const TTermEmulation e : {teVT52, teVT100, teANSI}) {
    std::string text = " " + EmulationToStr(e) + "\t";
    for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(StrToEmulation(text), e) << text;
  }
  EXPECT_EQ(StrToLineEnd("crlf"), tlCRLF);
  EXPECT_THROW(StrToEmulation("VT220"), serial::EComConvert);
}

TEST(ComTerminal, SettingsRoundTripThroughAnIniFile) {
  char pattern[] = "/tmp/valtrex-term-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path folder(pattern);
  const std::string file = (folder / "terminal.ini").string();
  {
    std::ofstream out(file);
    out << "[Other]\nKey=Value\n";
  }
  TComTerminal source;
  source.SetSettings(Unusual());
  source.StoreIniFile(file, "Service terminal");
  TComTerminal copy;
  copy.LoadIniFile(file, "Service terminal");
  EXPECT_EQ(copy.Settings(), Unusual());
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(serial::TIniDocument(text.str()).ReadString("Other", "Key"), "Value");

  const auto loadCode = [&](const std::string& name, const std::string& section) {
    try {
      copy.LoadIniFile(name, section);
    } catch (const serial::EComPort& e) {
      return e.ErrorCode();
    }
    return 0;
  };
  EXPECT_EQ(loadCode((folder / "none.ini").string(), "Service terminal"),
            serial::ecode::kLoadSettings);
  EXPECT_EQ(loadCode(file, "Other terminal"), serial::ecode::kLoadSettings);
  {
    std::ofstream out(file, std::ios::app);
    out << "[Broken]\nFontSize=large\n";
  }
  EXPECT_EQ(loadCode(file, "Broken"), serial::ecode::kLoadSettings);
  EXPECT_EQ(copy.Settings(), Unusual());
  std::filesystem::remove_all(folder);
}

// Sends a wheel turn of `notches` (positive: away from the user, back into the history). The
// scroll bar moves at most a page for one event.
void Wheel(TComTerminal& terminal, int notches) {
  const QPointF at(10, 10);
  QWheelEvent event(at, terminal.viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches),
                    Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(terminal.viewport(), &event);
}

TEST(ComTerminal, TheWheelReachesTheScrollBack) {
  TerminalRig rig;
  rig.terminal->SetRows(4);
  for (int i = 0; i < 10; ++i) rig.terminal->Write("line" + std::to_string(i) + "\r\n");
  ASSERT_EQ(rig.terminal->Screen().HistoryCount(), 7);
  EXPECT_EQ(rig.terminal->ScrollOffset(), 0);

  const int step = QApplication::wheelScrollLines();
  Wheel(*rig.terminal, 1);
  EXPECT_EQ(rig.terminal->ScrollOffset(), std::min(step, 7));
  Wheel(*rig.terminal, 1);
  Wheel(*rig.terminal, 1);
  EXPECT_EQ(rig.terminal->ScrollOffset(), 7);  // no further than the oldest line

  // Scrolled back, the view stays on its text while new lines come.
  rig.terminal->Write("line10\r\nline11\r\n");
  EXPECT_EQ(rig.terminal->ScrollOffset(), 9);
  for (int turn = 0; turn < 4; ++turn) Wheel(*rig.terminal, -1);
  EXPECT_EQ(rig.terminal->ScrollOffset(), 0);

  // A key sends the view back to the live screen.
  rig.terminal->SetScrollOffset(2);
  QTest::keyClick(rig.terminal.get(), Qt::Key_Escape);
  EXPECT_EQ(rig.terminal->ScrollOffset(), 0);

  // With a full history, the view still stays on its text: what drops off is older.
  rig.terminal->SetScrollBack(5);
  rig.terminal->SetScrollOffset(2);
  rig.terminal->Write("line12\r\n");
  EXPECT_EQ(rig.terminal->ScrollOffset(), 3);
}

TEST(ComTerminal, MouseSelectionIsCopied) {
  TerminalRig rig;
  rig.terminal->Write("hello world\r\nsecond line");
  const QFontMetrics metrics(rig.terminal->font());
  const int w = metrics.horizontalAdvance(QLatin1Char('M'));
  const int h = metrics.height();
  QWidget* view = rig.terminal->viewport();
  QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(6 * w, h / 2));
  QTest::mouseMove(view, QPoint(6 * w + 1, h + h / 2));
  QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(6 * w + 1, h + h / 2));
  EXPECT_EQ(rig.terminal->SelectedText(), QString("world\nsecond"));

  QApplication::clipboard()->clear();
  QTest::keyClick(rig.terminal.get(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), QString("world\nsecond"));
  EXPECT_EQ(rig.line->Written(), "");  // copying sends nothing

  // The selection stays on its text as lines scroll into the history.
  rig.terminal->SetRows(2);
  rig.terminal->Write("\r\nthird\r\nfourth");
  EXPECT_EQ(rig.terminal->SelectedText(), QString("world\nsecond"));

  rig.terminal->SelectAll();
  rig.terminal->Copy();
  EXPECT_EQ(QApplication::clipboard()->text(), QString("hello world\nsecond line\nthird\nfourth"));
  rig.terminal->ClearSelection();
  EXPECT_FALSE(rig.terminal->HasSelection());
}

TEST(ComTerminal, ThePictureShowsColoursReverseAndTheCursor) {
  TerminalRig rig;
  rig.terminal->Write("\033[41m  \033[0m\033[7m  \033[0m");
  const QFontMetrics metrics(rig.terminal->font());
  const int w = metrics.horizontalAdvance(QLatin1Char('M'));
  const int h = metrics.height();
  // The whole control, so that its viewport has its place before the picture is taken.
  const QImage picture = rig.terminal->grab().toImage();
  const QPoint origin = rig.terminal->viewport()->geometry().topLeft();
  const QPalette& palette = rig.terminal->palette();
  const auto at = [&](int column) {
    return picture.pixelColor(origin.x() + column * w + w / 2, origin.y() + h / 2);
  };
  EXPECT_EQ(at(0), QColor(205, 0, 0));
  EXPECT_EQ(at(2), palette.color(QPalette::Text));  // reverse: the text colour behind
  EXPECT_EQ(at(5), palette.color(QPalette::Base));
  // Unfocused, the cursor is an outline in the text colour around its cell.
  EXPECT_EQ(picture.pixelColor(origin.x() + 4 * w, origin.y() + h / 2),
            palette.color(QPalette::Text));
}

// 132 columns from the line: the view scrolls sideways to reach them, the setting stays, and a
// reset returns to it. A double-width line draws each character on two cells.
TEST(ComTerminal, AScreenWiderThanTheViewScrollsSideways) {
  TerminalRig rig;
  TComTerminal& terminal = *rig.terminal;
  terminal.show();
  const QFontMetrics metrics(terminal.font());
  const int w = metrics.horizontalAdvance(QLatin1Char('M'));
  const QSize narrow = terminal.sizeHint();
  EXPECT_EQ(terminal.horizontalScrollBar()->maximum(), 0);

  terminal.Write("\033[?3h");
  EXPECT_EQ(terminal.Screen().Columns(), 132);
  EXPECT_EQ(terminal.Columns(), 80);
  EXPECT_EQ(terminal.sizeHint().width(), narrow.width() + 52 * w);
  EXPECT_EQ(terminal.horizontalScrollBar()->maximum(), 132 * w - terminal.viewport()->width());
  terminal.Write("\033c");
  EXPECT_EQ(terminal.Screen().Columns(), 80);
  EXPECT_EQ(terminal.sizeHint(), narrow);
  EXPECT_EQ(terminal.horizontalScrollBar()->maximum(), 0);
  // 80 columns in a font too large for the view are reached the same way.
  terminal.SetFontSize(terminal.FontSize() * 2);
  EXPECT_GT(terminal.horizontalScrollBar()->maximum(), 0);
  terminal.SetFontSize(terminal.FontSize() / 2);

  terminal.Write("\033#6\033[41m \033[0m");
  const QImage picture = terminal.grab().toImage();
  const QPoint origin = terminal.viewport()->geometry().topLeft();
  const auto at = [&](int cell) {
    return picture.pixelColor(origin.x() + cell * w + w / 2, origin.y() + metrics.height() / 2);
  };
  EXPECT_EQ(at(1), QColor(205, 0, 0));
  EXPECT_EQ(at(3), terminal.palette().color(QPalette::Base));
}

// A big font in a small window: the view is shorter than the screen, and the vertical scroll bar
// reaches the rows below it too. The live view keeps the cursor's row in sight.
TEST(ComTerminal, AScreenTallerThanTheViewScrollsToEveryRow) {
  TerminalRig rig;
  TComTerminal& terminal = *rig.terminal;
  terminal.SetFontSize(terminal.FontSize() * 3);
  terminal.show();
  terminal.resize(terminal.sizeHint().width(), terminal.sizeHint().height() / 3);
  const QFontMetrics metrics(terminal.font());
  const int h = metrics.height();
  const int shown = terminal.viewport()->height() / h;
  const int rows = terminal.Rows();
  ASSERT_LT(shown, rows);
  for (int i = 0; i < rows; ++i) terminal.Write((i > 0 ? "\r\nrow" : "row") + std::to_string(i));
  ASSERT_EQ(terminal.Screen().HistoryCount(), 0);
  // The text on a row of the view, as the mouse selects it.
  const auto at = [&](int row) {
    QWidget* view = terminal.viewport();
    const QPoint from(0, row * h + h / 2);
    const QPoint to(8 * metrics.horizontalAdvance(QLatin1Char('M')), from.y());
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(view, to);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, to);
    return terminal.SelectedText().toStdString();
  };
  EXPECT_EQ(at(shown - 1), "row" + std::to_string(rows - 1));
  EXPECT_EQ(terminal.ScrollOffset(), 0);

  QTest::keyClick(terminal.verticalScrollBar(), Qt::Key_Home);  // as the operator takes it
  EXPECT_EQ(at(0), "row0");
  EXPECT_EQ(terminal.ScrollOffset(), 0);  // no history yet: still the live screen

  // New output brings the cursor's row back into sight; above the screen is the history.
  terminal.Write("\r\nmore");
  EXPECT_EQ(at(shown - 1), "more");
  QTest::keyClick(terminal.verticalScrollBar(), Qt::Key_Home);  // as the operator takes it
  EXPECT_EQ(terminal.ScrollOffset(), 1);
  EXPECT_EQ(at(0), "row0");
}

// Notes the region of each paint of a widget.
class PaintLog : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      regions.push_back(static_cast<QPaintEvent*>(event)->region());
    return false;
  }
  std::vector<QRegion> regions;
};

// What came in is drawn a frame later at most, and only the rows it changed.
TEST(ComTerminal, OnlyTheRowsThatChangedAreDrawnAgain) {
  TerminalRig rig;
  rig.terminal->Write("first\r\nsecond\r\nthird");
  rig.terminal->show();
  PaintLog log;
  rig.terminal->viewport()->installEventFilter(&log);
  ASSERT_TRUE(rig.Until([&] { return !log.regions.empty(); }));
  log.regions.clear();
  const int h = QFontMetrics(rig.terminal->font()).height();
  // The cursor moves from the third row to the second, where a letter changes.
  rig.terminal->Write("\033[2;1HS");
  ASSERT_TRUE(rig.Until([&] { return !log.regions.empty(); }));
  const QRect drawn = log.regions.front().boundingRect();
  EXPECT_EQ(drawn.top(), h);
  EXPECT_EQ(drawn.bottom(), 3 * h - 1);
  rig.terminal->viewport()->removeEventFilter(&log);
}

// A screen reader reads the screen's lines and where the cursor is.
TEST(ComTerminal, TheScreenIsReadAsATerminalText) {
  TerminalRig rig;
  rig.terminal->SetRows(3);
  rig.terminal->Write("hello\r\n\033[1mworld\033[0m  ");
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(rig.terminal.get());
  ASSERT_NE(face, nullptr);
  EXPECT_EQ(face->role(), QAccessible::Terminal);
  QAccessibleTextInterface* text = face->textInterface();
  ASSERT_NE(text, nullptr);
  // The cursor's line keeps its blanks up to the cursor.
  EXPECT_EQ(text->text(0, text->characterCount()), "hello\nworld  \n");
  EXPECT_EQ(text->cursorPosition(), 13);
  int start = 0;
  int end = 0;
  EXPECT_EQ(text->textAtOffset(2, QAccessible::WordBoundary, &start, &end), "hello");
  EXPECT_EQ(text->textAtOffset(8, QAccessible::LineBoundary, &start, &end).trimmed(), "world");
}

}  // namespace
}  // namespace widgets::test
