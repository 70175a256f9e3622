// valtrex-panel-driver: the real panel window, driven without an operator, for the README's
// picture and the wire-timing benchmark. It is built beside the panel and never installed.
//
//   valtrex-panel-driver --port PTY [--snapshot FILE] [--rounds N] [--deadline-ms N]
//
// It types PTY into the port box and presses Connect. With --snapshot it presses Start once the
// start-up pass has been shown, writes the window to FILE (PNG) N rounds of the loop later,
// prints one line with the window's size and place, presses Stop and closes. Without it the
// panel runs until the driver is ended. This is the only code that presses Start without an
// operator, so it refuses every port that is not a pseudo-terminal: it may meet a simulated
// generator, never a real one.

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "app/Edge.h"
#include "app/protocol/ExchangeSteps.h"
#include "app/qt/MainWindow.h"
#include "app/qt/PanelApplication.h"
#include "platform/Application.h"
#include "tools/DriverSupport.h"

namespace {

constexpr const char* kUsage =
    "usage: valtrex-panel-driver --port PTY [--snapshot FILE] [--rounds N] [--deadline-ms N]\n";

struct TDriverOptions {
  std::string port;
  std::string snapshot;  // empty: no picture, run until ended
  int rounds = 4;        // loop rounds before the picture: Start goes out after the first
  int deadlineMs = 30000;
};

std::optional<int> PositiveNumber(const std::string& text) {
  try {
    size_t used = 0;
    const int value = std::stoi(text, &used);
    if (used == text.size() && value > 0) return value;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

// Null with a message on standard error when the arguments make no sense.
std::optional<TDriverOptions> ParseArguments(int argc, char** argv) {
  TDriverOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view flag = argv[i];
    if (i + 1 >= argc) {
      std::fprintf(stderr, "valtrex-panel-driver: %s needs a value\n%s", argv[i], kUsage);
      return std::nullopt;
    }
    const std::string value = argv[++i];
    if (flag == "--port") {
      options.port = value;
    } else if (flag == "--snapshot") {
      options.snapshot = value;
    } else if (flag == "--rounds" || flag == "--deadline-ms") {
      const std::optional<int> n = PositiveNumber(value);
      if (!n) {
        std::fprintf(stderr, "valtrex-panel-driver: %s wants a positive number, not '%s'\n",
                     argv[i - 1], value.c_str());
        return std::nullopt;
      }
      (flag == "--rounds" ? options.rounds : options.deadlineMs) = *n;
    } else {
      std::fprintf(stderr, "valtrex-panel-driver: unknown option %s\n%s", argv[i - 1], kUsage);
      return std::nullopt;
    }
  }
  if (options.port.empty()) {
    std::fprintf(stderr, "valtrex-panel-driver: --port is required\n%s", kUsage);
    return std::nullopt;
  }
  return options;
}

class TDriver {
 public:
  TDriver(app::TMainWindow& window, TDriverOptions options)
      : window_(window), options_(std::move(options)) {}

  // False when the port did not open.
  bool Connect() {
    app::TMainForm& form = window_.Form();
    form.CB.SetText(options_.port);
    form.BO.Click();  // a failed Connect is swallowed there, as for the operator
    return form.CP.Connected();
  }

  // Watches the cycle after each of the form's ticks and takes the picture when it is due.
  void SnapshotWhenLive() {
    since_.start();
    QObject::connect(&window_.Clock(), &QTimer::timeout, &window_,
                     [this] { app::AtEdge([this] { AfterTick(); }); });
  }

  int ExitStatus() const { return status_; }

 private:
  void AfterTick() {
    if (done_) return;
    app::TMainForm& form = window_.Form();
    const int step = form.ExchangeStep;
    // Going from the last step back to the first of the loop means both telemetry replies of
    // the loop have just been shown.
    if (lastStep_ == app::protocol::kLastStep && step == app::protocol::kFirstLoopStep) {
      ++rounds_;
      // Started once the settings are shown, so that the bars show a generator at work.
      if (rounds_ == 1) form.Button4.Click();
    }
    lastStep_ = step;
    if (rounds_ >= options_.rounds) {
      Finish(Snapshot() ? 0 : 1);
    } else if (since_.elapsed() > options_.deadlineMs || !form.CP.Connected()) {
      std::fprintf(stderr, "valtrex-panel-driver: no live exchange on %s within %d ms\n",
                   options_.port.c_str(), options_.deadlineMs);
      Finish(1);
    }
  }

  bool Snapshot() {
    // What the window system shows, where it can be read back; else the window's own drawing.
    const QPixmap shot = tools::GrabWindow(window_);
    const QRect frame = window_.frameGeometry();
    if (!shot.save(QString::fromLocal8Bit(options_.snapshot.c_str()), "PNG")) {
      std::fprintf(stderr, "valtrex-panel-driver: cannot write %s\n", options_.snapshot.c_str());
      return false;
    }
    std::printf("snapshot %s: window %d x %d at %d, %d\n", options_.snapshot.c_str(), shot.width(),
                shot.height(), frame.left(), frame.top());
    std::fflush(stdout);
    return true;
  }

  // The generator is stopped again before the window closes: nothing is left running.
  void Finish(int status) {
    done_ = true;
    status_ = status;
    app::TMainForm& form = window_.Form();
    if (rounds_ >= 1 && form.CP.Connected()) form.Button5.Click();
    window_.close();
  }

  app::TMainWindow& window_;
  TDriverOptions options_;
  QElapsedTimer since_;
  int lastStep_ = -1;
  int rounds_ = 0;
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
                 "valtrex-panel-driver: %s is not a pseudo-terminal. This driver presses Start "
                 "without an operator and runs only against a simulated generator "
                 "(valtrex-sim).\n",
                 options->port.c_str());
    return 2;
  }

  QApplication application(argc, argv);
  app::SetUpPanelApplication(application);
  // Nobody is there to close an error box: errors go to standard error and the run goes on.
  platform::SetExceptionHandler([](std::exception_ptr error) {
    std::fprintf(stderr, "valtrex-panel-driver: %s\n",
                 app::ExceptionMessage(error).toLocal8Bit().constData());
  });
  int status = 0;
  try {
    app::TMainWindow window(tools::PseudoTerminalOpener(*pty));
    window.show();
    TDriver driver(window, *options);
    if (!driver.Connect()) {
      std::fprintf(stderr, "valtrex-panel-driver: cannot open %s\n", options->port.c_str());
      status = 1;
    } else {
      if (!options->snapshot.empty()) driver.SnapshotWhenLive();
      QApplication::exec();
      status = driver.ExitStatus();
    }
  } catch (...) {
    app::ReportAtEdge(std::current_exception());
    status = 1;
  }
  app::TearDownPanelApplication();
  return status;
}
