// Comm events of the terminal device on pseudo-terminal pairs: what each receive and transmit
// event waits for, how a mask change or a hang-up ends a wait, and that waiting never takes
// bytes away from a read.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ComDevice.h"
#include "tests/platform/PtyPair.h"

namespace platform {
namespace {

using ptytest::Eventually;
using ptytest::PanelDcb;
using ptytest::PtyPair;
using ptytest::Timeouts;

class CommEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << "no pseudo-terminal to test on";
    int error = -1;
    device = OpenComDevice(pty.Path(), error);
    ASSERT_TRUE(device) << "open failed with " << error;
    ASSERT_EQ(device->SetCommState(PanelDcb()), 0);
    ASSERT_EQ(device->SetCommTimeouts(Timeouts(kMaxDword, 0, 0, 100, 1000)), 0);
    ov.hEvent = &event;
  }

  int StartWait() { return device->WaitCommEvent(&seen, &ov); }
  // The event, then the result: as every caller of an overlapped operation does.
  bool Completed(uint32_t ms = 10000) {
    if (WaitForSingleObject(event, ms) != kWaitObject0) return false;
    return Result() != kIoIncomplete;
  }
  int Result() {
    uint32_t done = 0;
    return device->GetOverlappedResult(&ov, &done, false);
  }
  uint32_t InQueue() {
    TComStat stat;
    EXPECT_EQ(device->ClearCommError(nullptr, &stat), 0);
    return stat.cbInQue;
  }
  std::string ReadNow(uint32_t count) {
    std::string text(count, '\0');
    uint32_t done = 0;
    EXPECT_EQ(device->ReadFile(text.data(), count, &done, nullptr), 0);
    text.resize(done);
    return text;
  }

  // The device goes first, so a wait it still holds never completes into freed records.
  PtyPair pty;
  TEvent event{true, true};
  TOverlapped ov;
  uint32_t seen = 0;
  std::unique_ptr<ComDevice> device;
};

TEST_F(CommEvents, RxCharLeavesTheBytesForTheRead) {
  ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);
  ASSERT_EQ(StartWait(), kIoPending);
  EXPECT_FALSE(Completed(0));
  pty.Send("#02r\r");
  ASSERT_TRUE(Completed());
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(seen, kEvRxChar);
  EXPECT_EQ(ReadNow(20), "#02r\r");
}

TEST_F(CommEvents, RxFlagWaitsForTheEventCharacter) {
  TDCB dcb = PanelDcb();
  dcb.EvtChar = '\r';
  ASSERT_EQ(device->SetCommState(dcb), 0);
  ASSERT_EQ(device->SetCommMask(kEvRxFlag), 0);
  ASSERT_EQ(StartWait(), kIoPending);
  pty.Send("abc");
  ASSERT_TRUE(Eventually([&] { return InQueue() == 3; }));
  EXPECT_FALSE(Completed(0)) << "no event character yet";
  pty.Send("\r");
  ASSERT_TRUE(Completed());
  EXPECT_EQ(seen, kEvRxFlag);
  EXPECT_EQ(ReadNow(20), "abc\r");
}

TEST_F(CommEvents, TxEmptyWhenTheOutputHasDrained) {
  ASSERT_EQ(device->SetCommMask(kEvTxEmpty), 0);
  ASSERT_EQ(StartWait(), kIoPending);
  uint32_t done = 0;
  ASSERT_EQ(device->WriteFile("#01s\r", 5, &done, nullptr), 0);
  ASSERT_TRUE(Completed());
  EXPECT_EQ(seen, kEvTxEmpty);
  EXPECT_EQ(pty.Receive(5).size(), 5u);
}

TEST_F(CommEvents, Rx80FullAtFourFifthsOfTheQueue) {
  ASSERT_EQ(device->SetupComm(10, 10), 0);
  ASSERT_EQ(device->SetCommMask(kEvRx80Full), 0);
  ASSERT_EQ(StartWait(), kIoPending);
  pty.Send("1234567");
  ASSERT_TRUE(Eventually([&] { return InQueue() == 7; }));
  EXPECT_FALSE(Completed(0));
  pty.Send("8");
  ASSERT_TRUE(Completed());
  EXPECT_EQ(seen, kEvRx80Full);
}

TEST_F(CommEvents, EventsBeforeTheWaitAreKeptUntilTheMaskChanges) {
  ASSERT_EQ(device->SetCommMask(kEvRxChar | kEvTxEmpty), 0);
  pty.Send("x");
  ASSERT_TRUE(Eventually([&] { return InQueue() == 1; }));
  EXPECT_EQ(StartWait(), 0) << "the arrival was kept for this wait";
  EXPECT_EQ(seen, kEvRxChar);
  EXPECT_TRUE(Completed(0));
  pty.Send("y");
  ASSERT_TRUE(Eventually([&] { return InQueue() == 2; }));
  ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);
  EXPECT_EQ(StartWait(), kIoPending) << "a new mask starts with nothing seen";
  ASSERT_EQ(device->SetCommMask(0), 0);
}

TEST_F(CommEvents, MaskChangeEndsAPendingWaitWithNothing) {
  ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);
  ASSERT_EQ(StartWait(), kIoPending);
  EXPECT_EQ(StartWait(), EINVAL) << "one wait at a time";
  seen = 0xFFFF;
  ASSERT_EQ(device->SetCommMask(kEvRxChar | kEvTxEmpty), 0);
  ASSERT_TRUE(Completed(0));
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(seen, 0u);

  ASSERT_EQ(StartWait(), kIoPending);
  ASSERT_EQ(device->SetCommMask(0), 0);
  ASSERT_TRUE(Completed(0));
  EXPECT_EQ(Result(), 0);
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(StartWait(), EINVAL) << "nothing to wait for";
}

TEST_F(CommEvents, HangUpFailsThePendingWait) {
  ASSERT_EQ(device->SetCommMask(kEvRxChar | kEvErr), 0);
  ASSERT_EQ(StartWait(), kIoPending);
  pty.CloseMaster();
  ASSERT_TRUE(Completed());
  EXPECT_EQ(Result(), EIO);
  EXPECT_EQ(StartWait(), EIO);
}

// A pseudo-terminal has no modem lines: driving the outputs changes no input and there are no
// modem events to wait for; the wait still ends for the bytes.
TEST_F(CommEvents, NoModemEventsOnAPseudoTerminal) {
  ASSERT_EQ(device->SetCommMask(kEvCts | kEvDsr | kEvRlsd | kEvRing | kEvRxChar), 0);
  ASSERT_EQ(StartWait(), kIoPending);
  for (uint32_t code : {kSetDtr, kSetRts, kClrDtr, kClrRts})
    EXPECT_EQ(device->EscapeCommFunction(code), 0);
  EXPECT_FALSE(Completed(0));
  pty.Send("z");
  ASSERT_TRUE(Completed());
  EXPECT_EQ(seen, kEvRxChar);
}

TEST_F(CommEvents, AWaitingThreadNeverStealsFromReads) {
  ASSERT_EQ(device->SetCommMask(kEvRxChar | kEvTxEmpty), 0);
  std::atomic<int> wakes{0};
  std::atomic<bool> stop{false}, waiting{false};
  TEvent never(true, false);
  std::thread watcher([&] {
    TEvent own(true, false);
    TOverlapped record;
    record.hEvent = &own;
    uint32_t mask = 0;
    while (!stop.load()) {
      const int started = device->WaitCommEvent(&mask, &record);
      waiting = true;
      if (started != 0 && started != kIoPending) break;
      // As the event thread waits: the device may serve the wait from this thread.
      if (device->WaitStopOrCompletion(never, record) != kWaitObject0 + 1) break;
      uint32_t done = 0;
      if (device->GetOverlappedResult(&record, &done, false) == 0 && mask != 0) ++wakes;
    }
  });
  // No ASSERT while the watcher runs: it must be stopped and joined whatever happens.
  EXPECT_TRUE(Eventually([&] { return waiting.load(); }));
  std::string all;
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    const std::string frame = "#02f" + std::to_string(i) + "\r";
    expected += frame;
    pty.Send(frame);
    if (!Eventually([&] { return InQueue() >= frame.size(); })) {
      ADD_FAILURE() << "frame " << i << " did not arrive";
      break;
    }
    all += ReadNow(64);
  }
  stop = true;
  ASSERT_EQ(device->SetCommMask(0), 0);  // ends the watcher's wait
  watcher.join();
  EXPECT_EQ(all, expected);
  EXPECT_GT(wakes.load(), 0);
}

// The event thread's wait, served by the waiting thread itself: it ends for bytes (which stay
// queued), for the stop, when a read elsewhere makes room in a full queue, and on a hang-up.
TEST_F(CommEvents, AWaitServedByItsOwnThreadEndsForEverythingThatShouldEndIt) {
  TEvent stop(true, false);
  std::atomic<int> tid{0};
  const auto serve = [&] {
    tid = 0;
    auto waiting = std::async(std::launch::async, [&] {
      tid = static_cast<int>(gettid());
      return device->WaitStopOrCompletion(stop, ov);
    });
    EXPECT_TRUE(Eventually([&] { return ptytest::Asleep(tid.load()); }));
    return waiting;
  };
  // A wait that does not end is ended by the mask, so that a failure does not hang the test.
  const auto ended = [&](std::future<uint32_t>& f) {
    if (f.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return true;
    device->SetCommMask(0);
    f.wait();
    return false;
  };
  ASSERT_EQ(device->SetupComm(16, 16), 0);
  ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);
  {
    // 40 bytes for a queue of 16: the rest stays in the driver until a read makes room. The
    // first wait ends once the queue has taken its 16; the next has the full queue to wait on.
    // First of all: no earlier served wait has left the service thread a time to look again.
    ASSERT_EQ(StartWait(), kIoPending);
    pty.Send(std::string(40, 'q'));
    ASSERT_TRUE(Completed());
    ASSERT_EQ(StartWait(), kIoPending);
    auto waiting = serve();
    EXPECT_EQ(ReadNow(16), std::string(16, 'q'));
    ASSERT_TRUE(ended(waiting)) << "room was made, and nobody took the driver's bytes";
    EXPECT_EQ(waiting.get(), kWaitObject0 + 1);
    EXPECT_EQ(seen, kEvRxChar);
    EXPECT_EQ(ReadNow(24) + ReadNow(24), std::string(24, 'q'));
  }
  ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);  // forgets the arrivals the reads took
  {
    ASSERT_EQ(StartWait(), kIoPending);
    auto waiting = serve();
    pty.Send("abc");
    ASSERT_TRUE(ended(waiting));
    EXPECT_EQ(waiting.get(), kWaitObject0 + 1);
    EXPECT_EQ(Result(), 0);
    EXPECT_EQ(seen, kEvRxChar);
    EXPECT_EQ(ReadNow(8), "abc");
  }
  {
    ASSERT_EQ(StartWait(), kIoPending);
    auto waiting = serve();
    stop.Set();
    ASSERT_TRUE(ended(waiting));
    EXPECT_EQ(waiting.get(), kWaitObject0);
    EXPECT_EQ(Result(), kIoIncomplete) << "the stop leaves the wait to its owner";
    stop.Reset();
    ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);  // ends it
    ASSERT_TRUE(Completed());
  }
  {
    // The stop and a byte both there before the wait is served: the stop comes first, whoever
    // takes the byte.
    ASSERT_EQ(StartWait(), kIoPending);
    stop.Set();
    pty.Send("d");
    ASSERT_TRUE(Eventually([&] { return InQueue() >= 1; }));
    auto waiting =
        std::async(std::launch::async, [&] { return device->WaitStopOrCompletion(stop, ov); });
    ASSERT_TRUE(ended(waiting));
    EXPECT_EQ(waiting.get(), kWaitObject0);
    stop.Reset();
    ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);  // ends it, if the byte did not
    ASSERT_TRUE(Completed());
    EXPECT_EQ(ReadNow(8), "d");
  }
  {
    ASSERT_EQ(StartWait(), kIoPending);
    auto waiting = serve();
    pty.CloseMaster();
    ASSERT_TRUE(ended(waiting));
    EXPECT_EQ(waiting.get(), kWaitObject0 + 1);
    EXPECT_EQ(Result(), EIO);
  }
}

TEST_F(CommEvents, AWaitForTheRecordOrWithATimeLimitIsServedByItsThreadToo) {
  TEvent stop(true, false);
  ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);
  {
    // GetOverlappedResult that waits, as a synchronous wait does: the byte ends it and stays
    // for the read.
    ASSERT_EQ(StartWait(), kIoPending);
    std::atomic<int> tid{0};
    auto waiting = std::async(std::launch::async, [&] {
      tid = static_cast<int>(gettid());
      uint32_t done = 0;
      return device->GetOverlappedResult(&ov, &done, true);
    });
    EXPECT_TRUE(Eventually([&] { return ptytest::Asleep(tid.load()); }));
    pty.Send("x");
    if (waiting.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      device->SetCommMask(0);
    }
    EXPECT_EQ(waiting.get(), 0);
    EXPECT_EQ(seen, kEvRxChar);
    EXPECT_EQ(ReadNow(8), "x");
  }
  ASSERT_EQ(device->SetCommMask(kEvRxChar), 0);
  {
    // With a time limit: nothing came, then the stop, then a byte; the wait stays its owner's
    // until it has completed.
    ASSERT_EQ(StartWait(), kIoPending);
    EXPECT_EQ(device->WaitCompletion(ov, &stop, 20), kWaitTimeout);
    EXPECT_EQ(Result(), kIoIncomplete);
    stop.Set();
    EXPECT_EQ(device->WaitCompletion(ov, &stop, 10000), kWaitObject0 + 1);
    EXPECT_EQ(Result(), kIoIncomplete);
    stop.Reset();
    pty.Send("y");
    EXPECT_EQ(device->WaitCompletion(ov, nullptr, 10000), kWaitObject0);
    EXPECT_EQ(Result(), 0);
    EXPECT_EQ(ReadNow(8), "y");
  }
}

}  // namespace
}  // namespace platform
