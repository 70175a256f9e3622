// A text flood through the terminal control: what it costs to show 10 MB that a peer sends as
// fast as it can, against what the decoder and screen alone cost for the same bytes.
//
//   A  the decoder and screen alone, the bytes in 4 KiB writes
//   B  a shown TComTerminal on the offscreen platform (which paints into a real backing store),
//      the same 4 KiB pieces handed to Write one per turn of a running event loop, as the port's
//      deliveries come
//   C  end to end: a TComPort on a pseudo-terminal, delivering on the main thread through the
//      event loop as the service terminal has it, a thread writing the flood into the master side
//   D  as C, into the whole service terminal window with its hex view shown
//
// B to D end at the first picture drawn after the last byte is in (in D, of the terminal and of
// the hex view). Beside each time: how often the
// terminal painted and the longest the event loop went without serving a 1 ms timer, which is
// how long typed keys or a click would have waited.
//
//   term_flood_bench [MiB] [A|B|C|D ...]      default: 10 MiB, every case

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageLoop.h"
#include "serial/ComPort.h"
#include "tools/term/TermApplication.h"
#include "tools/term/TermWindow.h"
#include "widgets/ComTerminal.h"
#include "widgets/emulation/TermDecoder.h"
#include "widgets/emulation/TermScreen.h"

namespace {

constexpr size_t kPiece = 4096;

// Lines of 20 to 99 printable characters ending in CR LF; one in eight has a coloured word, one
// in sixteen a bold one.
std::string MakeFlood(size_t size) {
  std::string out;
  out.reserve(size + 256);
  uint32_t seed = 12345;
  const auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int line = 0; out.size() < size; ++line) {
    if (line % 8 == 3) out += "\033[3" + std::to_string(1 + next() % 7) + "mcolour\033[0m ";
    if (line % 16 == 5) out += "\033[1mbold\033[m ";
    const size_t length = 20 + next() % 80;
    for (size_t i = 0; i < length; ++i) out += static_cast<char>(' ' + next() % 95);
    out += "\r\n";
  }
  out.resize(size);
  return out;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

struct Result {
  double Seconds = 0;
  int Paints = 0;
  double WorstGapMs = 0;
  size_t Deliveries = 0;  // reads the port handed over, in C and D
  size_t Largest = 0;     // the largest of them, in bytes
};

// Counts the terminal's paints and notes the first one after `armed` is set.
class PaintWatch : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++paints;
      if (armed) done = true;
    }
    return false;
  }
  int paints = 0;
  bool armed = false;
  bool done = false;
};

// The longest interval between two turns of a 1 ms timer.
class GapWatch {
 public:
  GapWatch() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      worst_ = std::max(worst_, now - last_);
      last_ = now;
    });
  }
  void Start() {
    clock_.start();
    last_ = 0;
    timer_.start();
  }
  double WorstMs() const { return static_cast<double>(worst_) / 1e6; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 worst_ = 0;
};

double DecoderAlone(const std::string& flood) {
  widgets::TTermScreen screen(80, 24, 1000);
  widgets::TTermDecoder decoder(screen, widgets::teANSI);
  const auto start = std::chrono::steady_clock::now();
  for (size_t at = 0; at < flood.size(); at += kPiece) {
    decoder.Write(std::string_view(flood).substr(at, kPiece));
  }
  return Seconds(std::chrono::steady_clock::now() - start);
}

// Runs the loop until the first paint after `finished()` turned true, of `other` too if given.
void RunUntilDrawn(PaintWatch& watch, const std::function<bool()>& finished,
                   PaintWatch* other = nullptr) {
  while (!watch.done || (other && !other->done)) {
    if (!watch.armed && finished()) {
      watch.armed = true;
      if (other) other->armed = true;
    }
    QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
  }
}

Result ThroughWrite(const std::string& flood) {
  widgets::TComTerminal terminal;
  terminal.resize(terminal.sizeHint());
  terminal.show();
  QApplication::processEvents();
  PaintWatch watch;
  terminal.viewport()->installEventFilter(&watch);
  GapWatch gaps;
  size_t at = 0;
  QTimer feeder;
  feeder.setInterval(0);
  QObject::connect(&feeder, &QTimer::timeout, [&] {
    terminal.Write(std::string_view(flood).substr(at, kPiece));
    at += kPiece;
    if (at >= flood.size()) feeder.stop();
  });
  const auto start = std::chrono::steady_clock::now();
  gaps.Start();
  feeder.start();
  RunUntilDrawn(watch, [&] { return at >= flood.size(); });
  Result r{Seconds(std::chrono::steady_clock::now() - start), watch.paints, gaps.WorstMs()};
  terminal.viewport()->removeEventFilter(&watch);
  return r;
}

// The master side of a pseudo-terminal and its slave's name; the port opens the name.
struct Pty {
  Pty() {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
      std::perror("openpty");
      std::exit(1);
    }
    // Raw from the start, and the slave held open, so that the line never hangs up between the
    // port's opening and closing.
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    path = name;
  }
  ~Pty() {
    close(master);
    close(slave);
  }
  int master = -1;
  int slave = -1;
  std::string path;
};

// Writes the flood into the master side as fast as the slave's reader takes it.
std::thread Writer(int master, const std::string& flood) {
  return std::thread([master, &flood] {
    for (size_t at = 0; at < flood.size();) {
      const ssize_t n = write(master, flood.data() + at, std::min(kPiece, flood.size() - at));
      if (n <= 0) return;
      at += static_cast<size_t>(n);
    }
  });
}

// Counts what the port hands over beside the terminal: how many deliveries, how large.
struct TDeliveryCount {
  std::atomic<size_t> received{0};
  size_t deliveries = 0;
  size_t largest = 0;
  serial::TComLink link;
  TDeliveryCount() {
    link.OnRxBuf = [this](serial::TCustomComPort&, const void*, int32_t count) {
      received += static_cast<size_t>(count);
      ++deliveries;
      largest = std::max(largest, static_cast<size_t>(count));
    };
  }
};

Result ThroughPort(const std::string& flood) {
  Pty pty;
  serial::TComPort port;
  port.SetPort(pty.path);
  widgets::TComTerminal terminal;
  terminal.SetComPort(&port);
  terminal.resize(terminal.sizeHint());
  terminal.show();
  TDeliveryCount counter;
  port.RegisterLink(&counter.link);
  port.Open();
  QApplication::processEvents();
  PaintWatch watch;
  terminal.viewport()->installEventFilter(&watch);
  GapWatch gaps;
  const auto start = std::chrono::steady_clock::now();
  gaps.Start();
  std::thread writer = Writer(pty.master, flood);
  RunUntilDrawn(watch, [&] { return counter.received >= flood.size(); });
  Result r{Seconds(std::chrono::steady_clock::now() - start), watch.paints, gaps.WorstMs(),
           counter.deliveries, counter.largest};
  writer.join();
  terminal.viewport()->removeEventFilter(&watch);
  port.Close();
  port.UnRegisterLink(&counter.link);
  terminal.SetComPort(nullptr);
  return r;
}

Result ThroughWindow(const std::string& flood) {
  Pty pty;
  char folder[] = "/tmp/term-flood-XXXXXX";
  if (!mkdtemp(folder)) std::exit(1);
  Result r;
  {
    term::TTermWindow window(std::string(folder) + "/none.ini");
    window.HexShownBox().setChecked(true);
    window.show();
    serial::TComPort& port = window.Port();
    TDeliveryCount counter;
    port.RegisterLink(&counter.link);
    port.SetPort(pty.path);
    port.Open();
    QApplication::processEvents();
    PaintWatch watch;
    window.Terminal().viewport()->installEventFilter(&watch);
    PaintWatch hexWatch;
    window.HexView().viewport()->installEventFilter(&hexWatch);
    GapWatch gaps;
    const auto start = std::chrono::steady_clock::now();
    gaps.Start();
    std::thread writer = Writer(pty.master, flood);
    RunUntilDrawn(
        watch, [&] { return counter.received >= flood.size(); }, &hexWatch);
    r = {Seconds(std::chrono::steady_clock::now() - start), watch.paints, gaps.WorstMs(),
         counter.deliveries, counter.largest};
    writer.join();
    window.Terminal().viewport()->removeEventFilter(&watch);
    window.HexView().viewport()->removeEventFilter(&hexWatch);
    port.Close();
    port.UnRegisterLink(&counter.link);
  }
  rmdir(folder);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  term::SetUpTermApplication(application);
  size_t mib = 10;
  std::string cases;
  for (int i = 1; i < argc; ++i) {
    if (std::isdigit(static_cast<unsigned char>(argv[i][0]))) {
      mib = std::strtoul(argv[i], nullptr, 10);
    } else {
      cases += argv[i];
    }
  }
  if (cases.empty()) cases = "ABCD";
  const std::string flood = MakeFlood(mib << 20);
  const double alone = DecoderAlone(flood);
  std::printf("%zu MiB in %zu-byte pieces\n\n", mib, kPiece);
  std::printf(
      "| Case | s | MB/s | × decoder alone | paints | worst loop gap ms | deliveries, largest |\n");
  std::printf("|---|--:|--:|--:|--:|--:|--:|\n");
  const double mb = static_cast<double>(flood.size()) / 1e6;
  std::printf("| A decoder and screen alone | %.3f | %.0f | 1.0 | · | · | · |\n", alone,
              mb / alone);
  const auto row = [&](const char* name, const Result& r) {
    const std::string reads =
        r.Deliveries == 0 ? "·"
                          : std::to_string(r.Deliveries) + ", " + std::to_string(r.Largest) + " B";
    std::printf("| %s | %.3f | %.1f | %.1f | %d | %.1f | %s |\n", name, r.Seconds, mb / r.Seconds,
                r.Seconds / alone, r.Paints, r.WorstGapMs, reads.c_str());
    std::fflush(stdout);
  };
  if (cases.find('B') != std::string::npos)
    row("B control, Write per loop turn", ThroughWrite(flood));
  if (cases.find('C') != std::string::npos) row("C control on a port, pty", ThroughPort(flood));
  if (cases.find('D') != std::string::npos)
    row("D terminal window, hex view shown", ThroughWindow(flood));
  term::TearDownTermApplication();
  return 0;
}
