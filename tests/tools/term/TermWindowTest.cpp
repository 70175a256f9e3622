// The terminal window on the offscreen platform: on a pseudo-terminal pair it connects, sends the
// send box's line with the chosen end, shows what comes back on the screen, in hex and as packets,
// and tells a lost line once; on the fake line a device that goes away is told once and Connect
// works again once it is back; its settings file is read back, and one that does not read is
// told once with the defaults in use.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
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
  } ends[] = {{"As is", ""}, {"CR", "\r"}, {"LF", "\n"}, {"CR+LF", "\r\n"}};
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
  EXPECT_TRUE(Until([&] {
    return w.HexView().toPlainText() == "23 30 32 53 52 31 30 36 0D 23 30 32";
  })) << w.HexView().toPlainText().toStdString();
  ASSERT_TRUE(Until([&] { return !w.PacketView().toPlainText().isEmpty(); }));
  EXPECT_TRUE(QRegularExpression(R"(^\d\d:\d\d:\d\d\.\d\d\d  #02SR106$)")
                  .match(w.PacketView().toPlainText())
                  .hasMatch())
      << w.PacketView().toPlainText().toStdString();

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
  EXPECT_TRUE(Until([&] { return w.PacketView().toPlainText().endsWith("#02f33.400"); }));
  EXPECT_TRUE(w.HexView().toPlainText().startsWith("23 30 32 66"));
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
  ASSERT_TRUE(Until([&] { return w.PacketView().toPlainText().count('\n') == 2; }))
      << w.PacketView().toPlainText().toStdString();
  const QStringList lines = w.PacketView().toPlainText().split('\n');
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

TEST(TermWindow, SettingsComeBackAndAFileThatDoesNotReadIsToldOnce) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("valtrex/valtrex-term.ini").toStdString();
  {
    TTermWindow first(file);
    EXPECT_TRUE(first.StatusText().isEmpty());  // no file yet: nothing to tell
    first.PortBox().setEditText("/dev/pts/999");
    emit first.PortBox().lineEdit()->editingFinished();
    first.Port().SetBaudRate(serial::br57600);
    first.Port().Parity().SetBits(serial::prEven);
    ChooseLineEnd(first, "CR+LF");
    first.HexShownBox().setChecked(false);
    first.PacketStartEdit().setText("#");
    first.DecodeBox().setChecked(true);
    first.EmulationBox().setCurrentIndex(first.EmulationBox().findText("VT52"));
    emit first.EmulationBox().activated(first.EmulationBox().currentIndex());
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
    // Lines ended by CR alone, as the generator ends them, are lines on the screen.
    EXPECT_EQ(second.Terminal().ReceiveLineEnd(), widgets::tlCRLF);
  }

  // One bad value: nothing of the file is used, and the status line says why, once.
  QFile stored(QString::fromStdString(file));
  ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
  QByteArray text = stored.readAll();
  stored.close();
  text.replace("BaudRate=57600", "BaudRate=fast");
  ASSERT_TRUE(stored.open(QIODevice::WriteOnly | QIODevice::Truncate));
  stored.write(text);
  stored.close();
  {
    TTermWindow third(file);
    EXPECT_TRUE(third.StatusText().startsWith("Settings not read, defaults used:"));
    EXPECT_TRUE(third.StatusText().contains("BaudRate")) << third.StatusText().toStdString();
    EXPECT_EQ(third.Port().BaudRate(), serial::br9600);
    EXPECT_EQ(third.Port().Port(), "");
    EXPECT_EQ(third.WindowSettings().LineEnd, leCR);
    EXPECT_TRUE(third.WindowSettings().HexView);
    EXPECT_EQ(third.Terminal().Emulation(), widgets::teANSI);
  }

  // Not a settings file at all.
  ASSERT_TRUE(stored.open(QIODevice::WriteOnly | QIODevice::Truncate));
  stored.write(
      "\x7f"
      "ELF\x01\x02 garbage\n=\n[[[");
  stored.close();
  int told = 0;
  {
    TTermWindow fourth(file);
    if (fourth.StatusText().startsWith("Settings not read")) ++told;
    QObject::connect(fourth.statusBar(), &QStatusBar::messageChanged,
                     [&](const QString& t) { told += t.startsWith("Settings not read"); });
    fourth.Connect();  // with no port chosen: a message of its own
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(fourth.SaveSettings());
  }
  TTermWindow fifth(file);
  EXPECT_TRUE(fifth.StatusText().isEmpty()) << fifth.StatusText().toStdString();
}

}  // namespace
}  // namespace term::test
