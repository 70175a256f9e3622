#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "platform/MessageLoop.h"
#include "platform/Thread.h"

namespace platform {
namespace {

// The test's own thread is the main thread; a worker hands it calls and messages.
class MessageLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainThread(); }
};

TEST_F(MessageLoopTest, SynchronizeRunsOnTheMainThreadAndWaits) {
  std::atomic<bool> ran{false};
  bool onMain = false;
  TEvent finished(true, false);
  std::thread worker([&] {
    Synchronize([&] {
      onMain = IsMainThread();
      ran = true;
    });
    finished.Set();
  });
  // Nothing runs until the main thread serves the queue.
  ASSERT_TRUE(WaitServingMessages(finished, 10000));
  worker.join();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(onMain);
}

TEST_F(MessageLoopTest, SynchronizeCarriesTheExceptionBack) {
  std::string caught;
  TEvent finished(true, false);
  std::thread worker([&] {
    try {
      Synchronize([] { throw std::runtime_error("handler failed"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    finished.Set();
  });
  ASSERT_TRUE(WaitServingMessages(finished, 10000));
  worker.join();
  EXPECT_EQ(caught, "handler failed");
}

TEST_F(MessageLoopTest, SendMessageReleasesTheSenderAtTheReply) {
  TEvent senderReleased(true, false);
  TEvent handled(true, false);
  std::atomic<int> seen{0};
  THiddenWindow window([&](uint32_t message, uintptr_t wParam, intptr_t) -> intptr_t {
    EXPECT_EQ(message, 0x0401u);
    EXPECT_TRUE(InSendMessage());
    ReplyMessage(0);
    EXPECT_FALSE(InSendMessage());
    // The worker runs on while this handler is still busy.
    EXPECT_EQ(WaitForSingleObject(senderReleased, 10000), kWaitObject0);
    seen = static_cast<int>(wParam);
    handled.Set();
    return 0;
  });
  std::thread worker([&] {
    SendMessage(window, 0x0401, 0x80, 0);
    senderReleased.Set();
  });
  ASSERT_TRUE(WaitServingMessages(handled, 10000));
  worker.join();
  EXPECT_EQ(seen, 0x80);
}

TEST_F(MessageLoopTest, FromTheMainThreadEverythingRunsAtOnce) {
  int calls = 0;
  Synchronize([&] { ++calls; });
  THiddenWindow window([&](uint32_t, uintptr_t, intptr_t) -> intptr_t {
    EXPECT_FALSE(InSendMessage());
    return ++calls;
  });
  EXPECT_EQ(SendMessage(window, 1, 0, 0), 2);
  EXPECT_FALSE(MessagesPending());
}

TEST_F(MessageLoopTest, DestroyedWindowReleasesItsWaitingSenders) {
  auto window = std::make_unique<THiddenWindow>([](uint32_t, uintptr_t, intptr_t) -> intptr_t {
    ADD_FAILURE() << "a message for a destroyed window ran";
    return 1;
  });
  std::atomic<intptr_t> result{-1};
  std::thread worker([&] { result = SendMessage(*window, 7, 0, 0); });
  while (!MessagesPending()) std::this_thread::yield();
  window.reset();
  worker.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ProcessMessages(), 0u);
}

TEST_F(MessageLoopTest, WakeUpHookHearsEveryQueuedCall) {
  std::atomic<int> wakes{0};
  SetWakeUpHook([&] { ++wakes; });
  TEvent finished(true, false);
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) Synchronize([] {});
    finished.Set();
  });
  ASSERT_TRUE(WaitServingMessages(finished, 10000));
  worker.join();
  SetWakeUpHook({});
  EXPECT_EQ(wakes, 3);
}

TEST_F(MessageLoopTest, EachCallOfAWorkerReturnsOnlyOnceItHasRun) {
  // A worker's calls share one wait event: its second call must wait for its own run, not
  // return on anything its first left behind.
  TEvent queued(false, false);
  SetWakeUpHook([&] { queued.Set(); });
  std::atomic<int> ran{0};
  int seen[2] = {0, 0};
  std::thread worker([&] {
    for (int& s : seen) {
      Synchronize([&] { ++ran; });
      s = ran.load();
    }
  });
  // The second call may be queued while the loop still runs the first, and then runs in the
  // same pass: count the calls run, not the passes.
  size_t run = 0;
  while (run < 2) {
    ASSERT_EQ(WaitForSingleObject(queued, 10000), kWaitObject0);
    run += ProcessMessages();
  }
  worker.join();
  EXPECT_EQ(run, 2u);
  SetWakeUpHook({});
  EXPECT_EQ(seen[0], 1);
  EXPECT_EQ(seen[1], 2);
}

// A worker that hands the main thread a call while the main thread waits for it to end: the wait
// serves the call, so neither waits on the other for ever.
class DeliveringThread : public TThread {
 public:
  ~DeliveringThread() override { WaitFor(); }
  int delivered = 0;

 protected:
  void Execute() override {
    for (int i = 0; i < 100; ++i) Synchronize([this] { ++delivered; });
  }
};

TEST_F(MessageLoopTest, WaitForServesDeliveriesInFlight) {
  DeliveringThread thread;
  thread.Start();
  thread.WaitFor();
  EXPECT_TRUE(thread.Finished());
  EXPECT_EQ(thread.delivered, 100);
}

class RaisingThread : public TThread {
 public:
  ~RaisingThread() override { WaitFor(); }

 protected:
  void Execute() override { throw std::runtime_error("worker failed"); }
};

TEST_F(MessageLoopTest, AnExceptionEndsTheThreadAndIsKept) {
  RaisingThread thread;
  thread.SetLevel(TThreadLevel::Lower);
  thread.Start();
  thread.WaitFor();
  ASSERT_TRUE(thread.FatalException());
  EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::runtime_error);
}

}  // namespace
}  // namespace platform
