#include "tools/term/TermApplication.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMetaObject>
#include <QStyle>
#include <QStyleFactory>
#include <atomic>
#include <cstdio>
#include <exception>

#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "platform/Version.h"

namespace term {
namespace {

// Set while a wake-up is posted and not yet served, so that a busy worker posts one, not many.
std::atomic<bool> gWakeUpPosted{false};

void WakeUpMainThread() {
  QCoreApplication* application = QCoreApplication::instance();
  if (!application || gWakeUpPosted.exchange(true)) return;
  QMetaObject::invokeMethod(
      application,
      [] {
        gWakeUpPosted = false;
        try {
          platform::ProcessMessages();
        } catch (...) {
          platform::HandleException(std::current_exception());
        }
      },
      Qt::QueuedConnection);
}

}  // namespace

void SetUpTermApplication(QApplication& application) {
  application.setApplicationName(QStringLiteral("valtrex-term"));
  application.setApplicationDisplayName(QStringLiteral("Valtrex service terminal"));
  application.setApplicationVersion(QStringLiteral(VALTREX_VERSION));
  application.setDesktopFileName(QStringLiteral("valtrex-term"));
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
    QApplication::setStyle(style);
  platform::SetMainThread();
  platform::SetWakeUpHook(WakeUpMainThread);
}

void TearDownTermApplication() {
  platform::SetWakeUpHook({});
}

}  // namespace term
