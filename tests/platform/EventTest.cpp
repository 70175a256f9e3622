// Event objects: manual and auto reset, initial state, waits on one or several, time-outs.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/Sync.h"

namespace platform {
namespace {

TEST(Event, ManualResetStaysSignalledUntilReset) {
  TEvent event(true, false);
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitTimeout);
  event.Set();
  event.Set();  // twice is still one signal
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(event, kInfinite), kWaitObject0);
  event.Reset();
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitTimeout);
  event.Reset();  // resetting a reset event is harmless
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitTimeout);
}

TEST(Event, AutoResetIsConsumedByTheWaitItReleases) {
  TEvent event(false, true);
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitTimeout);
  event.Set();
  event.Set();
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitObject0);
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitTimeout);
}

TEST(Event, TimeOutWaitsAtLeastItsTime) {
  TEvent event(true, false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 30), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST(Event, WaitOnSeveralGivesTheLowestSignalledIndex) {
  TEvent a(true, false), b(false, false), c(true, false);
  TEvent* all[] = {&a, &b, &c};
  EXPECT_EQ(WaitForMultipleObjects(all, 0), kWaitTimeout);
  c.Set();
  EXPECT_EQ(WaitForMultipleObjects(all, 0), kWaitObject0 + 2);
  b.Set();
  EXPECT_EQ(WaitForMultipleObjects(all, 0), kWaitObject0 + 1);
  // b was auto-reset and is used up; c is manual and still there.
  EXPECT_EQ(WaitForMultipleObjects(all, 0), kWaitObject0 + 2);
  a.Set();
  EXPECT_EQ(WaitForMultipleObjects(all, kInfinite), kWaitObject0);
  EXPECT_EQ(WaitForMultipleObjects({}, 0), kWaitFailed);
  TEvent* missing[] = {&a, nullptr};
  EXPECT_EQ(WaitForMultipleObjects(missing, 0), kWaitFailed);
}

TEST(Event, SetFromAnotherThreadEndsAnEndlessWait) {
  TEvent stop(true, false), done(true, false);
  TEvent* both[] = {&stop, &done};
  std::thread setter([&] { done.Set(); });
  EXPECT_EQ(WaitForMultipleObjects(both, kInfinite), kWaitObject0 + 1);
  setter.join();
}

TEST(Event, AutoResetReleasesExactlyOneWaiter) {
  TEvent event(false, false);
  constexpr int kWaiters = 3;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, kInfinite) == kWaitObject0) ++released;
    });
  }
  const auto releasedReaches = [&](int n) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (released.load() < n && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    return released.load() >= n;
  };
  for (int n = 1; n <= kWaiters; ++n) {
    event.Set();
    ASSERT_TRUE(releasedReaches(n));
    // The signal went to that one waiter: nothing is left for anyone else.
    EXPECT_EQ(WaitForSingleObject(event, 0), kWaitTimeout);
    EXPECT_EQ(released.load(), n);
  }
  for (auto& t : waiters) t.join();
}

}  // namespace
}  // namespace platform
