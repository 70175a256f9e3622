#include "app/qt/PanelApplication.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>
#include <QMetaObject>
#include <QStyle>
#include <QStyleFactory>
#include <atomic>

#include "app/Edge.h"
#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "platform/Version.h"

namespace app {
namespace {

// Set while a wake-up is posted and not yet served, so that a busy worker posts one, not many.
std::atomic<bool> gWakeUpPosted{false};

// Any thread: a worker has queued a call for the main thread; have the loop serve the queue.
void WakeUpMainThread() {
  QCoreApplication* application = QCoreApplication::instance();
  if (!application || gWakeUpPosted.exchange(true)) return;
  QMetaObject::invokeMethod(
      application,
      [] {
        gWakeUpPosted = false;
        AtEdge([] { platform::ProcessMessages(); });
      },
      Qt::QueuedConnection);
}

}  // namespace

QFont PanelFont() {
  // 11 pixels gives 13-pixel lines. DejaVu Sans is wider than the face the layout was drawn for
  // ("Software release -" would run into the release text), so it is narrowed; where the
  // condensed cut is installed it is picked for this stretch, otherwise the regular one is
  // scaled.
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(11);
  font.setStretch(83);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

void SetUpPanelApplication(QApplication& application) {
  application.setApplicationName(QStringLiteral("valtrex-panel"));
  application.setApplicationDisplayName(QStringLiteral("Valtrex panel"));
  application.setApplicationVersion(QStringLiteral(VALTREX_VERSION));
  application.setWindowIcon(QIcon(QStringLiteral(":/panel/valtrex-panel.png")));
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) {
    QApplication::setStyle(style);
    QApplication::setPalette(style->standardPalette());
  }
  QApplication::setFont(PanelFont());
  platform::SetExceptionHandler(ShowErrorBox);
  platform::SetMainThread();
  platform::SetWakeUpHook(WakeUpMainThread);
}

void TearDownPanelApplication() {
  platform::SetWakeUpHook({});
  platform::SetExceptionHandler({});
}

QString ExceptionMessage(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromLocal8Bit(e.what());
  } catch (...) {
  }
  return QStringLiteral("Unknown exception");
}

void ShowErrorBox(std::exception_ptr error) {
  QMessageBox::critical(QApplication::activeWindow(), QApplication::applicationDisplayName(),
                        ExceptionMessage(error));
}

}  // namespace app
