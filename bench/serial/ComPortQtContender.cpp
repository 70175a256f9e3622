// Our port under a Qt event loop, delivered the way the panel has it: the worker's Synchronize
// wakes the loop through the wake-up hook with a posted call, and ProcessMessages runs from that
// call. Beside the QSerialPort readyRead row, it is the same loop waking for the same byte.
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <atomic>

#include "bench/serial/ComPortBase.h"
#include "bench/serial/QtApplication.h"
#include "platform/MessageLoop.h"
#include "platform/Sync.h"

namespace bench {
namespace {

constexpr int kDeliveryLimitMs = 10'000;

bool Signalled(platform::TEvent& event) {
  return platform::WaitForSingleObject(event, 0) == platform::kWaitObject0;
}

class ComPortQtLoop final : public ComPortBase {
 public:
  ComPortQtLoop() : ComPortBase(serial::smThreadSync) {
    EnsureApplication();
    limit_.setSingleShot(true);
    QObject::connect(&limit_, &QTimer::timeout, &loop_, &QEventLoop::quit);
  }
  std::string Name() const override { return "TComPort smThreadSync, Qt loop"; }
  bool TakesPart(Bench b) const override { return b == Bench::Notify || b == Bench::Idle; }

  void Open(const std::string& path) override {
    platform::SetWakeUpHook([this] { WakeUp(); });
    try {
      ComPortBase::Open(path);
    } catch (...) {
      platform::SetWakeUpHook({});
      throw;
    }
  }
  void Close() override {
    // Closing serves what is still queued by itself; the loop need not be woken for it.
    ComPortBase::Close();
    platform::SetWakeUpHook({});
  }

  Clock::time_point Notified(const std::function<void()>& armed) override {
    Expect();
    // Armed from inside the loop, so the peer's byte finds the thread waiting in it.
    QTimer::singleShot(0, &loop_, [&armed] { armed(); });
    RunLoop(kDeliveryLimitMs);
    return Outcome(Signalled(ran_));
  }

  void Idle(std::chrono::milliseconds span) override {
    Expect();
    RunLoop(static_cast<int>(span.count()));
    if (DeliveredSinceExpect()) throw std::runtime_error("data while idle");
  }

  void RoundTrip(std::span<const uint8_t>, std::span<uint8_t>) override { Unused(); }
  void Send(std::span<const uint8_t>) override { Unused(); }
  void Receive(std::span<uint8_t>) override { Unused(); }

 private:
  [[noreturn]] static void Unused() { throw Refused("B2 and B4 only"); }

  // Until the handler has run, or for `limitMs`.
  void RunLoop(int limitMs) {
    limit_.start(limitMs);
    loop_.exec();
    limit_.stop();
  }

  // Any thread: a call waits in the queue. One posted call serves however many came meanwhile.
  void WakeUp() {
    if (posted_.exchange(true)) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this] {
          posted_ = false;
          platform::ProcessMessages();
          if (loop_.isRunning() && Signalled(ran_)) loop_.quit();
        },
        Qt::QueuedConnection);
  }

  QEventLoop loop_;
  QTimer limit_;
  std::atomic<bool> posted_{false};
};

}  // namespace

ContenderList ComPortQtContenders() {
  ContenderList list;
  list.push_back(std::make_unique<ComPortQtLoop>());
  return list;
}

}  // namespace bench
