#pragma once
// What every row of our port shares: the port, its read time-outs, and the one OnRxChar handler
// that B2 times, on whichever thread the row's delivery mode runs it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "bench/serial/Contender.h"
#include "platform/MessageLoop.h"
#include "platform/Sync.h"
#include "serial/ComPort.h"

namespace bench {

inline constexpr int32_t kReplyLimitMs = 5000;

class ComPortBase : public Contender {
 public:
  explicit ComPortBase(serial::TSyncMethod sync) {
    port_.SetSyncMethod(sync);
    // Assigned once for the port's life: in smNone the worker calls the handler, and one
    // replaced between two bytes could be destroyed while it still runs.
    port_.OnRxChar = [this](serial::TCustomComPort&, int32_t count) { Delivered(count); };
  }

  void Open(const std::string& path) override {
    port_.SetPort(path);
    port_.Open();
  }
  void Close() override { port_.Close(); }

  // The main thread serves the message loop while it waits, as the window's loop would.
  Clock::time_point Notified(const std::function<void()>& armed) override {
    Expect();
    armed();
    return Outcome(platform::WaitServingMessages(ran_, 10'000));
  }

 protected:
  // Before the byte may come: the handler's read is to return on the first byte, and the
  // handler acts on the next delivery only. Deliveries outside a notification (the event thread
  // runs while a row moves bytes by Read and Write too) leave the bytes to the reads.
  void Expect() {
    ReturnOnFirstBytes(kReplyLimitMs);
    ran_.Reset();
    received_.store(-1, std::memory_order_relaxed);
    expecting_.store(true, std::memory_order_release);
  }

  // After the wait: the moment the handler ran, once it has taken the byte.
  Clock::time_point Outcome(bool delivered) {
    expecting_.store(false, std::memory_order_relaxed);
    if (!delivered) throw std::runtime_error("OnRxChar never ran");
    // With smNone the handler may still be on its way out in the worker; `received_` publishes
    // what it wrote before it let this thread go.
    if (received_.load(std::memory_order_acquire) != 1) {
      throw std::runtime_error("the notified byte is missing");
    }
    return Clock::time_point(Clock::duration(at_.load(std::memory_order_relaxed)));
  }

  // Ends an expectation; true when a delivery came since Expect.
  bool DeliveredSinceExpect() { return !expecting_.exchange(false, std::memory_order_acq_rel); }

  // ReadInterval kMaxDword with both totals kMaxDword and C: a read returns on the first bytes,
  // or with none after C ms.
  void ReturnOnFirstBytes(int32_t limitMs) {
    port_.Timeouts().SetReadInterval(-1);
    port_.Timeouts().SetReadTotalM(-1);
    port_.Timeouts().SetReadTotalC(limitMs);
  }
  // All read time-outs 0: a read returns when its count is complete.
  void WaitForCount() {
    port_.Timeouts().SetReadInterval(0);
    port_.Timeouts().SetReadTotalM(0);
    port_.Timeouts().SetReadTotalC(0);
  }

  // Signalled by the handler once it has taken the byte.
  platform::TEvent ran_{true, false};

 private:
  // On the main thread (smThreadSync, smWindowSync) or in the worker (smNone).
  void Delivered(int32_t count) {
    if (count <= 0 || !expecting_.exchange(false, std::memory_order_acq_rel)) return;
    at_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    uint8_t byte = 0;
    received_.store(port_.Read(&byte, 1), std::memory_order_release);
    ran_.Set();
  }

  std::atomic<bool> expecting_{false};
  std::atomic<Clock::rep> at_{0};
  std::atomic<int32_t> received_{-1};

 protected:
  // Last, so it goes first: its Close may still deliver to the handler above.
  serial::TComPort port_;
};

}  // namespace bench
