// The terminal window on the offscreen platform: on a pseudo-terminal pair it connects, sends the
// send box's line with the chosen end, shows what comes back on the screen, in hex and as packets,
// and tells a lost line once; on the fake line a device that goes away is told once and Connect
// works again once it is back; its settings file is read back, and one that does not read is
// told once with the defaults in use.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>

#include "platform/MessageLoop.h"
#include "platform/fake/FakeComDevice.h"
#include "serial/ComPort.h"
#include "tools/term/TermWindow.h"
#include "widgets/ComComboBox.h"
#include "widgets/ComTerminal.h"

namespace term::test {
namespace {

using namespace std::chrono_literals;

// A generous bound; a pass never waits this long.
constexpr int kDeadlineMs = 20000;

// Runs the Qt loop, which also serves what the port's worker handed over, until `done` holds.
template <typename P>
bool Until(P done) {
  return QTest::qWaitFor(
      [&] {
        platform::ProcessMessages();
        return done();
      },
      kDeadlineMs);
}

// A pseudo-terminal pair: the window opens the slave by its path, the test is the far end.
class PtyPair {
 public:
  PtyPair() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) return;
    path = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    // Raw from the start, as a serial line is: bytes sent before the window opens the line are
    // neither echoed nor changed.
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
  }
  ~PtyPair() { HangUp(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Up() const { return master_ >= 0; }

  // What the window wrote, once `count` bytes have come or the deadline passed.
  std::string Read(size_t count) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char chunk[256];
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n > 0) bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
  }

  // What the window wrote so far, without waiting.
  std::string Available() {
    std::string bytes;
    char chunk[256];
    for (ssize_t n; (n = read(master_, chunk, sizeof chunk)) > 0;) {
      bytes.append(chunk, static_cast<size_t>(n));
    }
    return bytes;
  }

  void Write(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Both ends close, as a pulled adapter's do.
  void HangUp() {
    if (master_ >= 0) close(master_), master_ = -1;
    if (slave_ >= 0) close(slave_), slave_ = -1;
  }

  std::string path;

 private:
  int master_ = -1;
  int slave_ = -1;
};

// What the terminal control shows as plain text: the history, then the screen down to its last
// line with anything on it, one line each.
QString ScreenText(const widgets::TComTerminal& terminal) {
  const widgets::TTermScreen& screen = terminal.Screen();
  QStringList lines;
  for (int i = 0; i < screen.HistoryCount(); ++i) {
    lines << QString::fromStdString(screen.HistoryText(i));
  }
  int last = screen.Rows() - 1;
  while (last >= 0 && screen.LineText(last).empty()) --last;
  for (int row = 0; row <= last; ++row) lines << QString::fromStdString(screen.LineText(row));
  return lines.join(QLatin1Char('\n'));
}

struct WindowRig {
  WindowRig() : window(File()) {
    QObject::connect(window.statusBar(), &QStatusBar::messageChanged, [this](const QString& text) {
      if (text.startsWith("Lost")) ++losses;
    });
  }
  std::string File() const { return dir.filePath("valtrex/valtrex-term.ini").toStdString(); }

  QTemporaryDir dir;
  TTermWindow window;
  int losses = 0;
};

void ChooseLineEnd(TTermWindow& window, const char* end) {
  const int index = window.LineEndBox().findText(QString::fromLatin1(end));
  ASSERT_GE(index, 0) << end;
  window.LineEndBox().setCurrentIndex(index);
}

TEST(TermWindow, SendsTheLineWithItsEndAndShowsWhatComesBack) {
  PtyPair line;
  if (!line.Up()) GTEST_SKIP() << "SKIPPED LOUDLY: no pseudo-terminal pair could be made";
  WindowRig rig;
  TTermWindow& w = rig.window;
  w.PortBox().setEditText(QString::fromStdString(line.path));
  w.Connect();
  ASSERT_TRUE(w.Port().Connected()) << w.StatusText().toStdString();
  EXPECT_TRUE(w.StatusText().startsWith("Connected: " + QString::fromStdString(line.path)));

  const struct {
    const char* name;
    std::string end;
  } ends[] = {{"AsIs", ""}, {"CR", "\r"}, {"LF", "\n"}, {"CRLF", "\r\n"}};
  for (const auto& end : ends) {
    ChooseLineEnd(w, end.name);
    w.SendEdit().setText("@01SR");
    w.SendLine();
    EXPECT_EQ(line.Read(5 + end.end.size()), "@01SR" + end.end) << end.name;
    EXPECT_TRUE(w.SendEdit().text().isEmpty());
  }

  // The reply in two pieces: the screen, the hex view and the packet view each see it whole.
  line.Write("#02SR");
  line.Write("106\r#02");
  ASSERT_TRUE(Until([&] { return ScreenText(w.Terminal()).contains("#02SR106\n#02"); }))
      << ScreenText(w.Terminal()).toStdString();
  EXPECT_TRUE(Until([&] { return w.HexView().Text() == "23 30 32 53 52 31 30 36 0D 23 30 32"; }))
      << w.HexView().Text().toStdString();
  ASSERT_TRUE(Until([&] { return !w.PacketView().Text().isEmpty(); }));
  EXPECT_TRUE(QRegularExpression(R"(^\d\d:\d\d:\d\d\.\d\d\d  #02SR106$)")
                  .match(w.PacketView().Text())
                  .hasMatch())
      << w.PacketView().Text().toStdString();

  // Pulled: told once, and the window is ready to connect again.
  line.HangUp();
  ASSERT_TRUE(Until([&] { return !w.Port().Connected(); }));
  EXPECT_EQ(rig.losses, 1);
  EXPECT_TRUE(w.StatusText().contains(QString::fromStdString(line.path)));
  w.SendEdit().setText("more");
  w.SendLine();
  EXPECT_EQ(w.StatusText(), "Not connected.");
  EXPECT_EQ(rig.losses, 1);
}

// Delivered in the port's own thread, what comes in still reaches the views on the window's.
TEST(TermWindow, BytesDeliveredInThePortsThreadReachTheViews) {
  PtyPair line;
  if (!line.Up()) GTEST_SKIP() << "SKIPPED LOUDLY: no pseudo-terminal pair could be made";
  WindowRig rig;
  TTermWindow& w = rig.window;
  w.Port().SetSyncMethod(serial::smNone);
  w.PortBox().setEditText(QString::fromStdString(line.path));
  w.Connect();
  ASSERT_TRUE(w.Port().Connected()) << w.StatusText().toStdString();
  line.Write("#02f33.400\r");
  EXPECT_TRUE(Until([&] { return ScreenText(w.Terminal()).contains("#02f33.400"); }));
  EXPECT_TRUE(Until([&] { return w.PacketView().Text().endsWith("#02f33.400"); }));
  EXPECT_TRUE(w.HexView().Text().startsWith("23 30 32 66"));
  w.Disconnect();
  EXPECT_EQ(w.StatusText(), "Disconnected.");
}

// With decoding on, the packet view reads what goes out and what comes in with the panel's
// protocol.
TEST(TermWindow, DecodedPacketsSayWhatEachFrameMeans) {
  PtyPair line;
  if (!line.Up()) GTEST_SKIP() << "SKIPPED LOUDLY: no pseudo-terminal pair could be made";
  WindowRig rig;
  TTermWindow& w = rig.window;
  w.DecodeBox().setChecked(true);
  w.PortBox().setEditText(QString::fromStdString(line.path));
  w.Connect();
  ASSERT_TRUE(w.Port().Connected()) << w.StatusText().toStdString();
  w.SendEdit().setText("%01f");
  w.SendLine();
  EXPECT_EQ(line.Read(5), "%01f\r");
  line.Write("#02f33.400\r#05\r");
  ASSERT_TRUE(Until([&] { return w.PacketView().Text().count('\n') == 2; }))
      << w.PacketView().Text().toStdString();
  const QStringList lines = w.PacketView().Text().split('\n');
  EXPECT_TRUE(lines[0].endsWith("  TX  %01f            to 01: read Frequency DDS"))
      << lines[0].toStdString();
  EXPECT_TRUE(lines[1].endsWith("  RX  #02f33.400      from 02: Frequency DDS 33.400 kHz"))
      << lines[1].toStdString();
  EXPECT_TRUE(lines[2].contains("  RX  #05             ?? not a generator frame: "))
      << lines[2].toStdString();
}

// A peer that draws with VT100 sequences: the screen holds what it drew, where it drew it.
TEST(TermWindow, APeersEscapeSequencesDrawWhereTheySay) {
  PtyPair line;
  if (!line.Up()) GTEST_SKIP() << "SKIPPED LOUDLY: no pseudo-terminal pair could be made";
  WindowRig rig;
  TTermWindow& w = rig.window;
  w.Terminal().SetEmulation(widgets::teANSI);
  w.PortBox().setEditText(QString::fromStdString(line.path));
  w.Connect();
  ASSERT_TRUE(w.Port().Connected()) << w.StatusText().toStdString();
  // Clear, a title at row 3 column 10 in bold red, a box corner, a status line at the bottom
  // in reverse inside a scroll region, and the cursor parked at row 5 column 1.
  line.Write("noise\x1b[2J\x1b[3;10H\x1b[1;31mTitle\x1b[0m\x1b[4;10H+--+");
  line.Write("\x1b[1;23r\x1b[24;1H\x1b[7mREADY\x1b[m\x1b[r\x1b[5;1H");
  const widgets::TTermScreen& screen = w.Terminal().Screen();
  ASSERT_TRUE(Until([&] { return screen.CursorRow() == 4 && screen.LineText(23) == "READY"; }))
      << ScreenText(w.Terminal()).toStdString();
  EXPECT_EQ(screen.LineText(0), "");
  EXPECT_EQ(screen.LineText(2), "         Title");
  EXPECT_EQ(screen.LineText(3), "         +--+");
  EXPECT_EQ(screen.CursorColumn(), 0);
  EXPECT_TRUE(screen.Cell(9, 2).Attributes.Bold);
  EXPECT_EQ(screen.Cell(9, 2).Attributes.Foreground, widgets::tcRed);
  EXPECT_FALSE(screen.Cell(9, 3).Attributes.Bold);
  EXPECT_TRUE(screen.Cell(0, 23).Attributes.Reverse);
  EXPECT_FALSE(screen.Cell(5, 23).Attributes.Reverse);
}

void ChooseEmulation(TTermWindow& window, const char* name) {
  const int index = window.EmulationBox().findText(QString::fromLatin1(name));
  ASSERT_GE(index, 0) << name;
  window.EmulationBox().setCurrentIndex(index);
  emit window.EmulationBox().activated(index);
}

// Whether a received CR starts a line: each emulation's own way by default, the box's when the
// operator ticks it.
TEST(TermWindow, ReceivedCarriageReturnsFollowTheEmulationOrTheBox) {
  PtyPair line;
  if (!line.Up()) GTEST_SKIP() << "SKIPPED LOUDLY: no pseudo-terminal pair could be made";
  WindowRig rig;
  TTermWindow& w = rig.window;
  // A device-attributes query that came before the line was opened is answered at once.
  ChooseEmulation(w, "VT100");
  line.Write("\x1b[c");
  w.PortBox().setEditText(QString::fromStdString(line.path));
  w.Connect();
  ASSERT_TRUE(w.Port().Connected()) << w.StatusText().toStdString();
  std::string answer;
  ASSERT_TRUE(Until([&] {
    answer += line.Available();
    return answer.size() >= 7;
  }));
  EXPECT_EQ(answer, "\x1b[?1;2c");
  w.ClearViews();
  const struct {
    const char* emulation;
    int ticked;  // -1: the emulation's default
    const char* bytes;
    const char* screen;
  } rows[] = {
      {"VT100", -1, "AAAA\rBB", "BBAA"},
      {"VT100", -1, "X\r\r\nY", "X\nY"},
      {"VT52", -1, "AAAA\rBB", "BBAA"},
      {"ANSI", -1, "AAAA\rBB", "BBAA"},
      {"Plain", -1, "#02SR106\r#02", "#02SR106\n#02"},
      {"VT100", 1, "AAAA\rBB", "AAAA\nBB"},
      {"Plain", 0, "AAAA\rBB", "BBAA"},
  };
  for (const auto& row : rows) {
    ChooseEmulation(w, row.emulation);
    EXPECT_EQ(w.NewLineOnCRBox().isChecked(), std::string(row.emulation) == "Plain")
        << row.emulation;
    if (row.ticked >= 0) w.NewLineOnCRBox().setChecked(row.ticked == 1);
    w.ClearViews();
    line.Write(row.bytes);
    EXPECT_TRUE(Until([&] { return ScreenText(w.Terminal()) == row.screen; }))
        << row.emulation << " " << row.ticked << ": " << ScreenText(w.Terminal()).toStdString();
  }
}

TEST(TermWindow, ALostDeviceIsToldOnceAndConnectWorksWhenItIsBack) {
  WindowRig rig;
  TTermWindow& w = rig.window;
  auto fake = std::make_shared<platform::FakeLine>(std::vector<std::string>{"fake-adapter"});
  w.Port().SetDeviceOpener(platform::FakeOpener(fake));
  w.Connect();
  EXPECT_EQ(w.StatusText(), "Choose a port from the list or type its name first.");
  w.PortBox().setEditText("fake-adapter");
  w.Connect();
  ASSERT_TRUE(w.Port().Connected()) << w.StatusText().toStdString();

  // Both ways of finding the loss meet: the watch on the line and a write that fails.
  fake->SetFailure("GetCommModemStatus", EIO);
  fake->SetFailure("WriteFile", EIO);
  ASSERT_TRUE(Until([&] { return !w.Port().Connected(); }));
  w.SendEdit().setText("x");
  w.SendLine();
  EXPECT_EQ(rig.losses, 1);
  EXPECT_FALSE(fake->IsOpen());

  fake->SetFailure("GetCommModemStatus", 0);
  fake->SetFailure("WriteFile", 0);
  w.Connect();
  EXPECT_TRUE(w.Port().Connected()) << w.StatusText().toStdString();
  w.SendEdit().setText("back");
  ChooseLineEnd(w, "LF");
  w.SendLine();
  EXPECT_EQ(fake->Written(), "back\n");

  // A write that runs out of time is told, the port stays.
  fake->SetWriteLimit(2);
  w.SendEdit().setText("slow");
  w.SendLine();
  EXPECT_TRUE(w.StatusText().startsWith("Write timed out: 2 of 5")) << w.StatusText().toStdString();
  EXPECT_TRUE(w.Port().Connected());
  EXPECT_EQ(w.SendEdit().text(), "slow");  // kept for another try
}

// A failure says, beside the component's message, what failed in plain words and what to try.
TEST(TermWindow, AFailureIsToldInPlainWordsWithWhatToTry) {
  const struct {
    const char* operation;
    int error;
    bool oneAndAHalf;
    const char* words;
  } rows[] = {
      {"Open", ENOENT, false, "There is no such port"},
      {"Open", EBUSY, false, "in use by another program"},
      {"Open", EACCES, false, "add your user to the port's group"},
      {"SetCommState", EINVAL, true, "The driver refused 1.5 stop bits with 8 data bits"},
      {"SetCommState", EINVAL, false, "The driver refused the line settings (fake-adapter, 9600"},
  };
  for (const auto& row : rows) {
    WindowRig rig;
    TTermWindow& w = rig.window;
    auto fake = std::make_shared<platform::FakeLine>(std::vector<std::string>{"fake-adapter"});
    w.Port().SetDeviceOpener(platform::FakeOpener(fake));
    if (row.oneAndAHalf) w.Port().SetStopBits(serial::sbOne5StopBits);
    fake->SetFailure(row.operation, row.error);
    w.PortBox().setEditText("fake-adapter");
    w.Connect();
    EXPECT_FALSE(w.Port().Connected());
    EXPECT_TRUE(w.StatusText().startsWith("Cannot open fake-adapter: ")) << row.words;
    EXPECT_TRUE(w.StatusText().contains(row.words)) << w.StatusText().toStdString();
    // The component's own message is there too, the system error called one.
    EXPECT_TRUE(w.StatusText().contains(QString("(system error %1: ").arg(row.error)));
  }
}

// After a flood the hex view shows the newest bytes and keeps a bounded number of lines; once
// the operator scrolls up, it stays on the lines shown while new ones come and old ones go.
TEST(TermWindow, TheHexViewFollowsTheNewestBytesUnlessScrolledUp) {
  WindowRig rig;
  TTermWindow& w = rig.window;
  auto fake = std::make_shared<platform::FakeLine>(std::vector<std::string>{"fake-adapter"});
  w.Port().SetDeviceOpener(platform::FakeOpener(fake));
  w.PortBox().setEditText("fake-adapter");
  w.show();
  w.Connect();
  ASSERT_TRUE(w.Port().Connected());
  QScrollBar& bar = *w.HexView().verticalScrollBar();
  // `lines` lines of 'x', then one of `last`; done once the view has them and its scroll range
  // does too.
  const auto flood = [&](int lines, char last) {
    fake->PutInput(std::string(16 * lines, 'x') + std::string(16, last));
    fake->RaiseCommEvent(platform::kEvRxChar);
    const QString tail = QString(last == 'y' ? "79" : "7A");
    return Until([&] {
      return w.HexView().Text().endsWith("78\n" + tail + QString(" " + tail).repeated(15)) &&
             bar.maximum() == w.HexView().LineCount() - bar.pageStep();
    });
  };
  ASSERT_TRUE(flood(4000, 'y'));
  ASSERT_TRUE(flood(4000, 'z'));
  EXPECT_EQ(w.HexView().LineCount(), 5000);
  EXPECT_GT(bar.maximum(), 0);
  EXPECT_EQ(bar.value(), bar.maximum());
  // Scrolled up: 100 lines more drop the 101 oldest, and the view moves up with its lines.
  bar.setValue(1000);
  ASSERT_TRUE(flood(100, 'y'));
  EXPECT_TRUE(Until([&] { return bar.value() == 1000 - 101; })) << bar.value();
}

// At its first size the window shows the terminal's whole screen, the hex view beside it.
TEST(TermWindow, TheWholeScreenShowsAtTheFirstSize) {
  WindowRig rig;
  TTermWindow& w = rig.window;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const widgets::TComTerminal& terminal = w.Terminal();
  ASSERT_TRUE(w.HexView().isVisible());
  // The cells' width, as the control sizes itself for them.
  const int cells = terminal.sizeHint().width() - 2 * terminal.frameWidth() -
                    terminal.verticalScrollBar()->sizeHint().width();
  EXPECT_GE(terminal.viewport()->width(), cells)
      << terminal.Columns() << " columns; the window is " << w.width() << " wide";
  const int lines = terminal.sizeHint().height() - 2 * terminal.frameWidth();
  EXPECT_GE(terminal.viewport()->height(), lines)
      << terminal.Rows() << " rows; the window is " << w.height() << " high";
  EXPECT_GT(w.HexView().width(), 0);
}

TEST(TermWindow, SendsAFileWhole) {
  WindowRig rig;
  TTermWindow& w = rig.window;
  auto fake = std::make_shared<platform::FakeLine>(std::vector<std::string>{"fake-adapter"});
  w.Port().SetDeviceOpener(platform::FakeOpener(fake));
  w.PortBox().setEditText("fake-adapter");
  w.Connect();
  ASSERT_TRUE(w.Port().Connected());
  std::string content;
  for (int i = 0; i < 10000; ++i) content += static_cast<char>(i % 251);
  QFile file(rig.dir.filePath("payload.bin"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(content.data(), static_cast<qint64>(content.size()));
  file.close();
  w.SendFile(file.fileName());
  EXPECT_EQ(fake->Written(), content);
  EXPECT_EQ(w.StatusText(), "Sent payload.bin: 10000 bytes.");
  w.SendFile(rig.dir.filePath("missing.bin"));
  EXPECT_TRUE(w.StatusText().startsWith("Cannot read")) << w.StatusText().toStdString();
}

QByteArray FileText(const std::string& file) {
  QFile stored(QString::fromStdString(file));
  return stored.open(QIODevice::ReadOnly) ? stored.readAll() : QByteArray();
}

void ReplaceInFile(const std::string& file, const QByteArray& from, const QByteArray& to) {
  QByteArray text = FileText(file);
  ASSERT_TRUE(text.contains(from)) << from.toStdString();
  text.replace(from, to);
  QFile stored(QString::fromStdString(file));
  ASSERT_TRUE(stored.open(QIODevice::WriteOnly | QIODevice::Truncate));
  stored.write(text);
}

TEST(TermWindow, SettingsComeBackValueByValue) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("valtrex/valtrex-term.ini").toStdString();
  {
    TTermWindow first(file);
    EXPECT_TRUE(first.StatusText().isEmpty());  // no file yet: nothing to tell
    first.PortBox().setEditText("/dev/pts/999");
    emit first.PortBox().lineEdit()->editingFinished();
    first.Port().SetBaudRate(serial::br57600);
    first.Port().Parity().SetBits(serial::prEven);
    ChooseLineEnd(first, "CRLF");
    first.HexShownBox().setChecked(false);
    first.PacketStartEdit().setText("#");
    first.DecodeBox().setChecked(true);
    ChooseEmulation(first, "VT52");
    first.NewLineOnCRBox().setChecked(true);
    first.EchoBox().setChecked(true);
    first.close();  // stores
  }
  {
    TTermWindow second(file);
    EXPECT_TRUE(second.StatusText().isEmpty()) << second.StatusText().toStdString();
    EXPECT_EQ(second.Port().Port(), "/dev/pts/999");
    EXPECT_EQ(second.PortBox().currentText(), "/dev/pts/999");
    EXPECT_EQ(second.Port().BaudRate(), serial::br57600);
    EXPECT_EQ(second.Port().Parity().Bits(), serial::prEven);
    EXPECT_EQ(second.WindowSettings().LineEnd, leCRLF);
    EXPECT_FALSE(second.WindowSettings().HexView);
    EXPECT_EQ(second.WindowSettings().PacketStart, "#");
    EXPECT_TRUE(second.DecodeBox().isChecked());
    EXPECT_EQ(second.Terminal().Emulation(), widgets::teVT52);
    EXPECT_EQ(second.EmulationBox().currentText(), "VT52");
    EXPECT_TRUE(second.Terminal().LocalEcho());
    EXPECT_TRUE(second.EchoBox().isChecked());
    // The operator's choice, not the emulation's default.
    EXPECT_TRUE(second.NewLineOnCRBox().isChecked());
    EXPECT_EQ(second.Terminal().ReceiveLineEnd(), widgets::tlCRLF);
  }
  // Both sections spell a line end the same way.
  EXPECT_TRUE(FileText(file).contains("LineEnd=CRLF\n")) << FileText(file).toStdString();

  // Values that do not read are named; every other one is used, and the bad lines stay in the
  // file as they were. The other common spelling of a line end reads.
  ReplaceInFile(file, "BaudRate=57600", "BaudRate=fast");
  ReplaceInFile(file, "Emulation=VT52", "Emulation=VT99");
  ReplaceInFile(file, "LineEnd=CRLF\n", "LineEnd=CR+LF\n");
  {
    TTermWindow third(file);
    EXPECT_TRUE(third.StatusText().startsWith("Settings read but for "))
        << third.StatusText().toStdString();
    EXPECT_TRUE(third.StatusText().contains("[Port] BaudRate=fast"));
    EXPECT_TRUE(third.StatusText().contains("[Terminal] Emulation=VT99"));
    EXPECT_EQ(third.Port().BaudRate(), serial::br9600);
    EXPECT_EQ(third.Port().Port(), "/dev/pts/999");
    EXPECT_EQ(third.Port().Parity().Bits(), serial::prEven);
    EXPECT_EQ(third.WindowSettings().LineEnd, leCRLF);
    EXPECT_FALSE(third.WindowSettings().HexView);
    EXPECT_EQ(third.Terminal().Emulation(), widgets::tePlain);
    EXPECT_TRUE(third.Terminal().LocalEcho());
    EXPECT_TRUE(third.SaveSettings());
  }
  QByteArray text = FileText(file);
  EXPECT_TRUE(text.contains("BaudRate=fast")) << text.toStdString();
  EXPECT_TRUE(text.contains("Emulation=VT99"));
  EXPECT_TRUE(text.contains("Port=/dev/pts/999"));
  {
    // A value the operator sets is stored over the bad line.
    TTermWindow fourth(file);
    fourth.Port().SetBaudRate(serial::br19200);
    EXPECT_TRUE(fourth.SaveSettings());
  }
  text = FileText(file);
  EXPECT_TRUE(text.contains("BaudRate=19200")) << text.toStdString();
  EXPECT_TRUE(text.contains("Emulation=VT99"));
}

TEST(TermWindow, AFileThatDoesNotReadIsToldOnceAndNotLost) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("valtrex-term.ini").toStdString();
  {
    QFile stored(QString::fromStdString(file));
    ASSERT_TRUE(stored.open(QIODevice::WriteOnly));
    stored.write(
        "\x7f"
        "ELF\x01\x02 garbage\n=\n[[[");
  }
  int told = 0;
  {
    TTermWindow first(file);
    if (first.StatusText().startsWith("Settings not read")) ++told;
    QObject::connect(first.statusBar(), &QStatusBar::messageChanged,
                     [&](const QString& t) { told += t.startsWith("Settings not read"); });
    first.Connect();  // with no port chosen: a message of its own
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(first.SaveSettings());
  }
  EXPECT_TRUE(
      FileText(file).startsWith("\x7f"
                                "ELF"));
  {
    TTermWindow second(file);
    EXPECT_TRUE(second.StatusText().isEmpty()) << second.StatusText().toStdString();
  }

  // A file that cannot be read is not written over, and the store says it cannot write.
  const std::string folder = dir.filePath("folder").toStdString();
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
  TTermWindow third(folder);
  EXPECT_TRUE(third.StatusText().startsWith("Settings not read, defaults used:"));
  EXPECT_FALSE(third.SaveSettings());
  EXPECT_TRUE(third.StatusText().startsWith("Settings not stored, cannot write " +
                                            QString::fromStdString(folder) + ": "))
      << third.StatusText().toStdString();
}

}  // namespace
}  // namespace term::test
