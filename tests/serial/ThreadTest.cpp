// The event thread on the recording device: what it waits for, how each delivery mode hands a
// detected set over, and how it ends. The test's thread is the main thread; while it waits for a
// delivery it serves the message queue, as the application's loop would.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FakePort.h"
#include "platform/Application.h"
#include "platform/MessageLoop.h"
#include "serial/ComThread.h"

namespace serial::test {
namespace {

using namespace std::chrono_literals;
constexpr uint32_t kLimitMs = 10000;

// Serves the queue until `condition` holds; false when the deadline passes first.
bool ServeUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::TEvent never(true, false);
    platform::WaitServingMessages(never, 1);
  }
  return true;
}

// Ends the process with a message if a scenario has not finished in time: a deadlock would
// otherwise hang the test instead of failing it.
class Watchdog {
 public:
  explicit Watchdog(const char* what)
      : thread_([this, what] {
          if (platform::WaitForSingleObject(done_, 30000) != platform::kWaitObject0) {
            std::fprintf(stderr, "watchdog: %s did not finish within 30 s\n", what);
            std::_Exit(3);
          }
        }) {}
  ~Watchdog() {
    done_.Set();
    thread_.join();
  }

 private:
  platform::TEvent done_{true, false};
  std::thread thread_;
};

// A list that handlers on either thread append to.
struct Seen {
  void Add(std::string s) {
    std::lock_guard lock(mutex);
    items.push_back(std::move(s));
  }
  std::vector<std::string> Get() {
    std::lock_guard lock(mutex);
    return items;
  }
  std::mutex mutex;
  std::vector<std::string> items;
};

class ThreadModes : public ::testing::TestWithParam<TSyncMethod> {
 protected:
  void SetUp() override { platform::SetMainThread(); }
};

INSTANTIATE_TEST_SUITE_P(AllModes, ThreadModes,
                         ::testing::Values(smThreadSync, smWindowSync, smNone), ModeName);

TEST(EventMask, MapsBothWaysAndDropsTheParityBit) {
  EXPECT_EQ(EventsToInts(kAllComEvents), 0x05FFu);
  EXPECT_EQ(IntToEvents(0x05FF), kAllComEvents);
  EXPECT_TRUE(IntToEvents(0x0200).Empty());
  for (TComEvent e : kComEventDeliveryOrder) EXPECT_EQ(IntToEvents(EventToInt(e)), TComEvents{e});
}

TEST_P(ThreadModes, RingAndRLSDInOneWaitComeRingFirst) {
  Seen seen;
  platform::TEvent rlsd(true, false);
  FakePort f;
  f.port.SetSyncMethod(GetParam());
  f.port.Open();
  ASSERT_TRUE(f.port.ThreadCreated());
  EXPECT_EQ(f.port.NotifyWindow() != nullptr, GetParam() == smWindowSync);
  EXPECT_EQ(f.line->Mask(), 0x05FFu);
  f.port.OnRing = [&](TCustomComPort&) { seen.Add("Ring"); };
  f.port.OnRLSDChange = [&](TCustomComPort&, bool on) {
    seen.Add(on ? "RLSD+" : "RLSD-");
    rlsd.Set();
  };
  ASSERT_TRUE(f.line->WaitForCommWait(10s));
  f.line->SetModemStatus(platform::kMsRlsdOn);
  f.line->RaiseCommEvent(platform::kEvRing | platform::kEvRlsd);
  ASSERT_TRUE(platform::WaitServingMessages(rlsd, kLimitMs));
  EXPECT_EQ(seen.Get(), (std::vector<std::string>{"Ring", "RLSD+"}));
  f.port.Close();
  EXPECT_FALSE(f.port.ThreadCreated());
  EXPECT_EQ(f.port.NotifyWindow(), nullptr);
  // The worker's last acts on the device: no events, both queues cleared.
  const auto calls = f.line->Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "SetCommMask(0)"), calls.end());
  EXPECT_NE(std::find(calls.begin(), calls.end(), "PurgeComm(12)"), calls.end());
}

TEST_P(ThreadModes, CloseInsideADeliveryClosesAndTheNextOpenWorks) {
  Watchdog watchdog("Close inside a delivery");
  platform::TEvent closed(true, false);
  std::atomic<int> afterClose{0};
  FakePort f;
  f.port.SetSyncMethod(GetParam());
  f.port.OnAfterClose = [&](TCustomComPort&) { ++afterClose; };
  f.port.Open();
  f.port.OnRxChar = [&](TCustomComPort& p, int32_t) {
    p.Close();
    closed.Set();
  };
  ASSERT_TRUE(f.line->WaitForCommWait(10s));
  f.line->PutInput("x");
  f.line->RaiseCommEvent(platform::kEvRxChar | platform::kEvRing);
  ASSERT_TRUE(platform::WaitServingMessages(closed, kLimitMs));
  EXPECT_FALSE(f.port.Connected());
  EXPECT_FALSE(f.port.ThreadCreated());
  EXPECT_EQ(afterClose, 1);
  EXPECT_FALSE(f.line->IsOpen()) << "the device is released by the Close itself";

  // Open again: the retired worker is collected and a new one delivers.
  platform::TEvent ring(true, false);
  f.port.OnRxChar = nullptr;
  f.port.OnRing = [&](TCustomComPort&) { ring.Set(); };
  f.port.Open();
  ASSERT_TRUE(f.line->WaitForCommWait(10s));
  f.line->RaiseCommEvent(platform::kEvRing);
  ASSERT_TRUE(platform::WaitServingMessages(ring, kLimitMs));
  f.port.Close();
}

TEST_P(ThreadModes, ARaisingHandlerAndCloseStillWorks) {
  std::vector<int> handled;
  platform::SetExceptionHandler([&](std::exception_ptr) { handled.push_back(1); });
  std::atomic<int> rings{0};
  FakePort f;
  f.port.SetSyncMethod(GetParam());
  f.port.Open();
  f.port.OnRing = [&](TCustomComPort&) {
    ++rings;
    throw std::runtime_error("handler failed");
  };
  ASSERT_TRUE(f.line->WaitForCommWait(10s));
  f.line->RaiseCommEvent(platform::kEvRing);
  const TComThread* thread = f.port.EventThread();
  if (GetParam() == smWindowSync) {
    // The window procedure hands the failure to the application and the worker runs on.
    ASSERT_TRUE(ServeUntil([&] { return !handled.empty(); }));
    ASSERT_TRUE(f.line->WaitForCommWait(10s));
    f.line->RaiseCommEvent(platform::kEvRing);
    ASSERT_TRUE(ServeUntil([&] { return rings == 2; }));
    EXPECT_FALSE(thread->Finished());
  } else {
    ASSERT_TRUE(ServeUntil([&] { return thread->Finished(); }));
    EXPECT_NE(thread->FatalException(), nullptr);
    EXPECT_TRUE(handled.empty());
  }
  f.port.Close();
  EXPECT_FALSE(f.port.Connected());
  platform::SetExceptionHandler({});
}

TEST_P(ThreadModes, AWaitThatCannotStartEndsTheWorker) {
  FakePort f;
  f.port.SetSyncMethod(GetParam());
  f.line->SetFailure("WaitCommEvent", EIO);
  f.port.Open();
  const TComThread* thread = f.port.EventThread();
  ASSERT_TRUE(ServeUntil([&] { return thread->Finished(); }));
  EXPECT_EQ(f.line->CountCalls("WaitCommEvent"), 1u) << "the worker went round a failed wait";
  f.port.Close();
  EXPECT_FALSE(f.port.Connected());
}

TEST(EventThread, AFailedResultDeliversNothingAndWaitsAgain) {
  platform::SetMainThread();
  std::atomic<int> rings{0};
  FakePort f;
  f.port.SetSyncMethod(smNone);
  f.port.Open();
  f.port.OnRing = [&](TCustomComPort&) { ++rings; };
  ASSERT_TRUE(f.line->WaitForCommWait(10s));
  f.line->SetFailure("GetOverlappedResult", EIO);
  f.line->RaiseCommEvent(platform::kEvRing);
  ASSERT_TRUE(ServeUntil([&] { return f.line->CountCalls("WaitCommEvent") == 2; }));
  f.line->SetFailure("GetOverlappedResult", 0);
  ASSERT_TRUE(f.line->WaitForCommWait(10s));
  f.line->RaiseCommEvent(platform::kEvRing);
  ASSERT_TRUE(ServeUntil([&] { return rings == 1; }));
  f.port.Close();
}

TEST(EventThread, NoEventsNoThreadAndWaitForEventServes) {
  platform::SetMainThread();
  FakePort f;
  f.port.Open();
  TComEvents events{evRing};
  EXPECT_EQ(Raised([&] { f.port.WaitForEvent(events, nullptr, 0); }).ErrorCode(), 20);
  f.port.Close();
  f.line->ClearCalls();

  f.port.Events = {};
  f.port.SetSyncMethod(smWindowSync);
  f.port.Open();
  EXPECT_FALSE(f.port.ThreadCreated());
  EXPECT_EQ(f.port.NotifyWindow(), nullptr);
  EXPECT_EQ(f.line->CountCalls("WaitCommEvent"), 0u);

  // An event raised while the caller waits.
  std::thread raiser([&] {
    if (f.line->WaitForCommWait(10s)) f.line->RaiseCommEvent(platform::kEvRing | platform::kEvCts);
  });
  events = {evRing, evRxChar};
  f.port.WaitForEvent(events, nullptr, 10000);
  raiser.join();
  EXPECT_EQ(events, TComEvents{evRing});
  EXPECT_EQ(f.line->Mask(), 0u);

  // A time-out and a stop give nothing, and leave no wait behind.
  events = {evRing};
  f.port.WaitForEvent(events, nullptr, 1);
  EXPECT_TRUE(events.Empty());
  EXPECT_FALSE(f.line->CommWaitPending());
  platform::TEvent stop(true, true);
  events = {evRing};
  f.port.WaitForEvent(events, &stop, 10000);
  EXPECT_TRUE(events.Empty());
  EXPECT_FALSE(f.line->CommWaitPending());

  f.line->SetFailure("WaitCommEvent", EIO);
  events = {evRing};
  const EComPort e = Raised([&] { f.port.WaitForEvent(events, nullptr, 0); });
  EXPECT_EQ(e.ErrorCode(), 21);
  EXPECT_EQ(e.SystemErrorCode(), EIO);
  f.line->SetFailure("WaitCommEvent", 0);
  f.port.Close();
}

TEST(EventThread, WaitForEventGivesAnEventThatCameAsItsWaitWasEnded) {
  FakePort f;
  f.port.Events = {};
  f.port.Open();
  // The event completes the wait after the time-out or the stop, just before the mask is reset.
  f.line->SetMaskHook([&](uint32_t mask) {
    if (mask == 0) f.line->RaiseCommEvent(platform::kEvRing | platform::kEvCts);
  });
  TComEvents events{evRing};
  f.port.WaitForEvent(events, nullptr, 0);
  EXPECT_EQ(events, TComEvents{evRing}) << "after the time-out";
  platform::TEvent stop(true, true);
  events = {evRing, evDSR};
  f.port.WaitForEvent(events, &stop, 10000);
  EXPECT_EQ(events, TComEvents{evRing}) << "after the stop";
  EXPECT_FALSE(f.line->CommWaitPending());
  f.line->SetMaskHook(nullptr);
  f.port.Close();
}

TEST(EventThread, SettingsAndTheOpenCloseSequenceEveryLinkSees) {
  platform::SetMainThread();
  FakePort f;
  EXPECT_EQ(ThreadLevel(tpIdle), platform::TThreadLevel::Idle);
  EXPECT_EQ(ThreadLevel(tpTimeCritical), platform::TThreadLevel::TimeCritical);
  std::vector<std::string> seen;
  TComLink a, b;
  for (TComLink* l : {&a, &b}) {
    const std::string name = l == &a ? "a:" : "b:";
    auto note = [&seen, name](const char* what) {
      return [&seen, name, what](TCustomComPort&, bool on) {
        seen.push_back(name + what + (on ? "+" : "-"));
      };
    };
    l->OnConn = note("Conn");
    l->OnCTSChange = note("CTS");
    l->OnDSRChange = note("DSR");
    l->OnRLSDChange = note("RLSD");
  }
  f.port.RegisterLink(&a);
  EXPECT_EQ(Raised([&] { f.port.RegisterLink(&a); }).ErrorCode(), 18);
  f.port.RegisterLink(&b);
  f.line->SetModemStatus(platform::kMsDsrOn);
  f.port.Open();
  EXPECT_EQ(Raised([&] { f.port.SetSyncMethod(smNone); }).ErrorCode(), 14);
  EXPECT_EQ(Raised([&] { f.port.SetEventThreadPriority(tpLowest); }).ErrorCode(), 14);
  f.port.Close();
  EXPECT_EQ(seen,
            (std::vector<std::string>{"a:Conn+", "b:Conn+", "a:CTS-", "b:CTS-", "a:DSR+", "b:DSR+",
                                      "a:RLSD-", "b:RLSD-", "a:CTS-", "b:CTS-", "a:DSR-", "b:DSR-",
                                      "a:RLSD-", "b:RLSD-", "a:Conn-", "b:Conn-"}));
  f.port.UnRegisterLink(&a);
  EXPECT_EQ(Raised([&] { f.port.UnRegisterLink(&a); }).ErrorCode(), 18);
  TComLink buffered;
  buffered.OnRxBuf = [](TCustomComPort&, const void*, int32_t) {};
  f.port.RegisterLink(&buffered);
  EXPECT_FALSE(f.port.TriggersOnRxChar());
  EXPECT_EQ(Raised([&] { f.port.SetTriggersOnRxChar(true); }).ErrorCode(), 22);
  f.port.UnRegisterLink(&buffered);
  EXPECT_TRUE(f.port.TriggersOnRxChar());
  f.port.UnRegisterLink(&b);
}

}  // namespace
}  // namespace serial::test
