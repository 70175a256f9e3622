#pragma once
// What the window tests share: one application object on the offscreen platform for the whole
// test program, a window whose port opens only the fake line's devices (so no test can reach a
// real serial device), and a bounded wait on a condition while the message loop runs.

#include <gtest/gtest.h>

#include <QApplication>
#include <QtTest/QTest>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/qt/MainWindow.h"
#include "app/qt/PanelApplication.h"
#include "platform/Application.h"
#include "platform/fake/FakeComDevice.h"

namespace app::test {

// Generous: the machine running the tests may be busy; a pass never waits this long.
inline constexpr int kDeadlineMs = 20000;

// Runs the message loop until `done` holds or the deadline passes; true if it holds.
template <typename P>
bool WaitUntil(P done, int deadlineMs = kDeadlineMs) {
  return QTest::qWaitFor(done, deadlineMs);
}

// Collects what reaches the application's exception handler instead of showing the box.
class TErrorRecorder {
 public:
  TErrorRecorder() {
    platform::SetExceptionHandler([this](std::exception_ptr e) {
      std::lock_guard lock(mutex_);
      messages_.push_back(ExceptionMessage(e).toStdString());
      if (whileShown_) whileShown_();
    });
  }
  ~TErrorRecorder() { platform::SetExceptionHandler({}); }
  TErrorRecorder(const TErrorRecorder&) = delete;
  TErrorRecorder& operator=(const TErrorRecorder&) = delete;

  std::vector<std::string> Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  // Runs inside the handler, as long as a modal box would be on screen.
  void WhileShown(std::function<void()> f) { whileShown_ = std::move(f); }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  std::function<void()> whileShown_;
};

// A shown window on a fake line that knows the one device name `kFakePort`.
struct TWindowFixture : ::testing::Test {
  static constexpr const char* kFakePort = "ttyFAKE0";
  std::shared_ptr<platform::FakeLine> line =
      std::make_shared<platform::FakeLine>(std::vector<std::string>{kFakePort});
  std::unique_ptr<TMainWindow> window = std::make_unique<TMainWindow>(platform::FakeOpener(line));
  TMainForm& form = window->Form();

  void SetUp() override {
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  template <typename T>
  T* W(const std::string& name) const {
    T* w = window->WidgetAs<T>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // The operator replaces the port box's text and presses Connect.
  void TypePortAndConnect(const QString& name);
};

}  // namespace app::test
