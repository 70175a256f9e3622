#include "app/qt/Unattended.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <memory>

#include "app/protocol/ExchangeSteps.h"
#include "app/qt/Edge.h"
#include "app/qt/MainWindow.h"

namespace app {
namespace {

// Rounds of the loop before the picture: the first shows the settings and starts the generator,
// the next ones bring its telemetry.
constexpr int kSnapshotRounds = 4;

}  // namespace

bool IsPseudoTerminal(const QString& path) {
  const QString target = QFileInfo(path).canonicalFilePath();
  return target.startsWith(QStringLiteral("/dev/pts/"));
}

bool ConnectUnattended(TMainWindow& window, const QString& path) {
  if (!IsPseudoTerminal(path)) return false;
  TMainForm& form = window.Form();
  form.CB.SetText(path.toStdString());
  form.BO.Click();  // a failed Connect is swallowed there, as for the operator
  return true;
}

void SnapshotWhenLive(TMainWindow& window, const QString& file, int deadlineMs) {
  struct TWatch {
    int lastStep = -1;
    int rounds = 0;
    QElapsedTimer since;
    bool done = false;
  };
  auto watch = std::make_shared<TWatch>();
  watch->since.start();
  // Connected after the form's own tick, so this sees the step the tick has just finished.
  QObject::connect(&window.Clock(), &QTimer::timeout, &window, [&window, file, deadlineMs, watch] {
    if (watch->done) return;
    TMainForm& form = window.Form();
    const int step = form.ExchangeStep;
    // Going from the last step back to the first of the loop means both telemetry replies of
    // the loop have just been shown.
    if (watch->lastStep == protocol::kLastStep && step == protocol::kFirstLoopStep) {
      ++watch->rounds;
      // Started once the settings are shown, so that the bars show a generator at work.
      if (watch->rounds == 1) AtEdge([&] { form.Button4.Click(); });
    }
    watch->lastStep = step;
    const bool late = watch->since.elapsed() > deadlineMs;
    if (watch->rounds < kSnapshotRounds && !late) return;
    watch->done = true;
    if (late) std::fprintf(stderr, "valtrex-panel: no live exchange, snapshot as it is\n");

    // What the window system shows, where it can be read back; else the window's own drawing.
    QPixmap shot;
    if (QScreen* screen = window.screen()) shot = screen->grabWindow(window.winId());
    if (shot.isNull()) shot = window.grab();
    const QRect frame = window.frameGeometry();
    if (shot.save(file, "PNG")) {
      std::printf("snapshot %s: window %d x %d at %d, %d\n", file.toLocal8Bit().constData(),
                  shot.width(), shot.height(), frame.left(), frame.top());
    } else {
      std::fprintf(stderr, "valtrex-panel: cannot write %s\n", file.toLocal8Bit().constData());
    }
    std::fflush(stdout);
    window.close();
  });
}

void ApplyUnattendedEnvironment(TMainWindow& window) {
  const QString port = qEnvironmentVariable("VALTREX_PANEL_AUTOCONNECT");
  if (!port.isEmpty() && !ConnectUnattended(window, port)) {
    std::fprintf(stderr, "valtrex-panel: VALTREX_PANEL_AUTOCONNECT is not a pseudo-terminal: %s\n",
                 port.toLocal8Bit().constData());
  }
  const QString file = qEnvironmentVariable("VALTREX_PANEL_SNAPSHOT");
  if (!file.isEmpty()) SnapshotWhenLive(window, file);
}

}  // namespace app
