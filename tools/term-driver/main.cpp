// valtrex-term-driver: the real terminal window, driven without an operator, for its end-to-end
// test and the README's picture. It is built beside the terminal and never installed.
//
//   valtrex-term-driver --port PTY --settings FILE [--send LINE]... [--expect TEXT]
//                       [--snapshot FILE] [--deadline-ms N]
//
// It types PTY into the port box, presses Connect and sends each LINE through the send box with
// a carriage return, the next once the screen has shown another line. Then it waits until the
// screen shows TEXT, prints the screen's last line, writes the window to FILE (PNG) when asked,
// and ends. The settings are loaded from FILE and never stored, so a run leaves the operator's
// own settings alone. It refuses every port that is not a pseudo-terminal: it types into the line
// by itself and must only ever meet a simulated device.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/DriverSupport.h"
#include "tools/term/TermApplication.h"
#include "tools/term/TermWindow.h"
#include "widgets/ComComboBox.h"
#include "widgets/ComTerminal.h"

namespace {

constexpr const char* kUsage =
    "usage: valtrex-term-driver --port PTY --settings FILE [--send LINE]... [--expect TEXT]\n"
    "                           [--snapshot FILE] [--deadline-ms N]\n";

struct TDriverOptions {
  std::string port;
  std::string settings;
  std::vector<std::string> send;
  std::string expect;
  std::string snapshot;
  int deadlineMs = 20000;
};

std::optional<TDriverOptions> ParseArguments(int argc, char** argv) {
  TDriverOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "valtrex-term-driver: %s needs a value\n%s", argv[i], kUsage);
      return std::nullopt;
    }
    const std::string value = argv[++i];
    if (flag == "--port") {
      options.port = value;
    } else if (flag == "--settings") {
      options.settings = value;
    } else if (flag == "--send") {
      options.send.push_back(value);
    } else if (flag == "--expect") {
      options.expect = value;
    } else if (flag == "--snapshot") {
      options.snapshot = value;
    } else if (flag == "--deadline-ms") {
      try {
        options.deadlineMs = std::stoi(value);
      } catch (const std::exception&) {
        options.deadlineMs = 0;
      }
      if (options.deadlineMs <= 0) {
        std::fprintf(stderr, "valtrex-term-driver: --deadline-ms wants a positive number\n");
        return std::nullopt;
      }
    } else {
      std::fprintf(stderr, "valtrex-term-driver: unknown option %s\n%s", argv[i - 1], kUsage);
      return std::nullopt;
    }
  }
  if (options.port.empty() || options.settings.empty()) {
    std::fprintf(stderr, "valtrex-term-driver: --port and --settings are required\n%s", kUsage);
    return std::nullopt;
  }
  return options;
}

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

class TDriver {
 public:
  TDriver(term::TTermWindow& window, TDriverOptions options)
      : window_(window), options_(std::move(options)) {}

  bool Connect() {
    window_.PortBox().setEditText(QString::fromStdString(options_.port));
    window_.Connect();
    return window_.Port().Connected();
  }

  void Run() {
    since_.start();
    window_.LineEndBox().setCurrentIndex(window_.LineEndBox().findText(QStringLiteral("CR")));
    QObject::connect(&poll_, &QTimer::timeout, &window_, [this] { Step(); });
    poll_.start(20);
    Step();
  }

  int ExitStatus() const { return status_; }

 private:
  QString Screen() const { return ScreenText(window_.Terminal()); }
  int ScreenLines() const { return Screen().isEmpty() ? 0 : Screen().count(QLatin1Char('\n')) + 1; }

  void Step() {
    if (done_) return;
    if (!window_.Port().Connected()) return Finish(1, "the port closed");
    if (since_.elapsed() > options_.deadlineMs) return Finish(1, "no reply in time");
    // The next line goes once the screen has shown the answer to the last one.
    if (next_ < options_.send.size() && (next_ == 0 || ScreenLines() > linesAtSend_)) {
      linesAtSend_ = ScreenLines();
      window_.SendEdit().setText(QString::fromStdString(options_.send[next_++]));
      window_.SendLine();
      return;
    }
    if (next_ < options_.send.size()) return;
    if (next_ > 0 && ScreenLines() <= linesAtSend_) return;
    if (!Screen().contains(QString::fromStdString(options_.expect))) return;
    if (!options_.snapshot.empty() && window_.PacketView().LineCount() == 0) return;
    Finish(Snapshot() ? 0 : 1, nullptr);
  }

  bool Snapshot() {
    const QStringList lines = Screen().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    std::printf("screen: %s\n", lines.isEmpty() ? "" : lines.last().toLocal8Bit().constData());
    std::fflush(stdout);
    if (options_.snapshot.empty()) return true;
    const QPixmap shot = tools::GrabWindow(window_);
    if (!shot.save(QString::fromLocal8Bit(options_.snapshot.c_str()), "PNG")) {
      std::fprintf(stderr, "valtrex-term-driver: cannot write %s\n", options_.snapshot.c_str());
      return false;
    }
    std::printf("snapshot %s: %d x %d\n", options_.snapshot.c_str(), shot.width(), shot.height());
    std::fflush(stdout);
    return true;
  }

  void Finish(int status, const char* why) {
    done_ = true;
    status_ = status;
    poll_.stop();
    if (why) {
      std::fprintf(stderr, "valtrex-term-driver: %s; the screen shows:\n%s\nstatus: %s\n", why,
                   Screen().toLocal8Bit().constData(),
                   window_.StatusText().toLocal8Bit().constData());
    }
    // Leaves the loop without closing the window (quit would close it): closing stores the
    // settings.
    QApplication::exit(status);
  }

  term::TTermWindow& window_;
  TDriverOptions options_;
  QTimer poll_;
  QElapsedTimer since_;
  size_t next_ = 0;
  int linesAtSend_ = 0;
  bool done_ = false;
  int status_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::optional<TDriverOptions> options = ParseArguments(argc, argv);
  if (!options) return 2;
  const std::optional<tools::TPseudoTerminal> pty = tools::MappedPseudoTerminal(options->port);
  if (!pty) {
    std::fprintf(stderr,
                 "valtrex-term-driver: %s is not a pseudo-terminal. This driver types into the "
                 "line without an operator and runs only against a simulated device "
                 "(valtrex-sim).\n",
                 options->port.c_str());
    return 2;
  }
  QApplication application(argc, argv);
  term::SetUpTermApplication(application);
  int status = 0;
  {
    term::TTermWindow window(options->settings);
    window.Port().SetDeviceOpener(tools::PseudoTerminalOpener(*pty));
    window.show();
    TDriver driver(window, *options);
    if (!driver.Connect()) {
      std::fprintf(stderr, "valtrex-term-driver: cannot open %s: %s\n", options->port.c_str(),
                   window.StatusText().toLocal8Bit().constData());
      status = 1;
    } else {
      driver.Run();
      QApplication::exec();
      status = driver.ExitStatus();
    }
  }
  term::TearDownTermApplication();
  return status;
}
