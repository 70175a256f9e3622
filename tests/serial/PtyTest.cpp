// The port on the termios devices, over pseudo-terminal pairs: the test holds the master side
// and the port opens the slave by its path.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakePort.h"
#include "platform/MessageLoop.h"
#include "platform/Sync.h"

namespace serial::test {
namespace {

using namespace std::chrono_literals;

// Bytes cross a pseudo-terminal on the kernel's own schedule: wait for the condition itself.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    int slave = -1;
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
      GTEST_SKIP() << "no pseudo-terminal available (" << std::strerror(errno) << ")";
    }
    close(slave);  // the port opens the slave by its path
    path_ = name;
    port_.SetPort(path_);
  }
  void TearDown() override {
    try {
      port_.Close();
    } catch (const EComPort&) {
      // A line that hung up may fail its purge; the port is closed all the same.
    }
    if (master_ >= 0) close(master_);
  }

  void Send(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads from the master side until `n` bytes have come or the deadline passes.
  std::string Receive(size_t n) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t r = read(master_, buffer, std::min(sizeof buffer, n - got.size()));
      if (r > 0) got.append(buffer, static_cast<size_t>(r));
    }
    return got;
  }

  int master_ = -1;
  std::string path_;
  TComPort port_;
};

TEST_F(PtyPort, ReadsGiveWhatHasArrivedAndNeverWait) {
  port_.SetBaudRate(br19200);
  port_.FlowControl().SetControlRTS(rtsToggle);
  port_.Open();
  char buffer[20];
  EXPECT_EQ(port_.Read(buffer, 20), 0);

  Send("ABCDEFGHIJKLMNOPQRSTUVWXY");
  ASSERT_TRUE(WaitUntil([&] { return port_.InputCount() == 25; }));
  ASSERT_EQ(port_.Read(buffer, 20), 20);
  EXPECT_EQ(std::string(buffer, 20), "ABCDEFGHIJKLMNOPQRST");
  ASSERT_EQ(port_.Read(buffer, 20), 5);
  EXPECT_EQ(std::string(buffer, 5), "UVWXY");
  EXPECT_EQ(port_.Read(buffer, 20), 0);

  std::string text = "old";
  EXPECT_EQ(port_.ReadStr(text, 0), 0);
  EXPECT_EQ(text, "");
}

TEST_F(PtyPort, WritesReachTheOtherEnd) {
  port_.Open();
  EXPECT_EQ(port_.WriteStr(""), 0);
  EXPECT_EQ(port_.WriteStr("#01?\r"), 5);
  // Had the empty text sent anything, it would come first.
  EXPECT_EQ(Receive(5), "#01?\r");
}

TEST_F(PtyPort, AnEmptyTransferOnAUsedRecordReportsNothing) {
  std::vector<std::string> sent;
  TComLink link;
  link.OnTxBuf = [&](TCustomComPort&, const void* data, int32_t count) {
    sent.emplace_back(static_cast<const char*>(data), static_cast<size_t>(count));
  };
  port_.RegisterLink(&link);
  // The link goes before the fixture closes the port, also when an assertion ends the test.
  struct Unregister {
    TComPort& port;
    TComLink& link;
    ~Unregister() { port.UnRegisterLink(&link); }
  } unregister{port_, link};
  port_.Events = {};
  port_.Open();
  std::unique_ptr<TAsync> async;
  port_.InitAsync(async);

  port_.WriteStrAsync("#01?\r", async.get());
  ASSERT_EQ(port_.WaitForAsync(async.get()), 5);
  EXPECT_EQ(port_.WriteStrAsync("", async.get()), 0);
  EXPECT_EQ(port_.WaitForAsync(async.get()), 0);
  EXPECT_EQ(sent, std::vector<std::string>{"#01?\r"});
  EXPECT_EQ(Receive(5), "#01?\r");

  Send("#02OK\r");
  ASSERT_TRUE(WaitUntil([&] { return port_.InputCount() == 6; }));
  std::string text;
  port_.ReadStrAsync(text, 6, async.get());
  ASSERT_EQ(port_.WaitForAsync(async.get()), 6);
  EXPECT_EQ(text, "#02OK\r");
  EXPECT_EQ(port_.ReadStrAsync(text, 0, async.get()), 0);
  EXPECT_EQ(port_.WaitForAsync(async.get()), 0);
  EXPECT_EQ(text, "");
  port_.DoneAsync(async);
}

TEST_F(PtyPort, TheLineIsTakenExclusively) {
  port_.Open();
  TComPort second;
  second.SetPort(path_);
  const EComPort e = Raised([&] { second.Open(); });
  EXPECT_EQ(e.ErrorCode(), 1);
  // On Linux the system's error is called what it is, with the system's words.
  EXPECT_STREQ(e.what(), "Unable to open com port (system error 16: Device or resource busy)");
  EXPECT_FALSE(second.Connected());
  port_.Close();
  second.Open();  // free again once the first has let go
  EXPECT_TRUE(second.Connected());
}

TEST_F(PtyPort, AHangUpEndsAReadInProgress) {
  // No time-outs: the read waits for all 20 bytes.
  port_.Timeouts().SetReadInterval(0);
  port_.Open();
  std::unique_ptr<TAsync> async;
  port_.InitAsync(async);
  char buffer[20];
  port_.ReadAsync(buffer, 20, async.get());
  Send("12345");
  close(master_);
  master_ = -1;
  const EComPort e = Raised([&] { port_.WaitForAsync(async.get()); });
  EXPECT_EQ(e.ErrorCode(), 3);
  port_.DoneAsync(async);
  // The line is gone: reads fail rather than report an idle line again and again.
  EXPECT_EQ(Raised([&] { port_.Read(buffer, 20); }).ErrorCode(), 3);
  try {
    port_.Close();
  } catch (const EComPort&) {
  }
  EXPECT_FALSE(port_.Connected());
}

// The event thread over a real line, in each delivery mode. The test's thread is the main
// thread and serves the message queue while it waits, as the application's loop would.
class PtyThread : public PtyPort, public ::testing::WithParamInterface<TSyncMethod> {
 protected:
  void SetUp() override {
    platform::SetMainThread();
    PtyPort::SetUp();
    port_.SetSyncMethod(GetParam());
  }
  static bool Await(platform::TEvent& done) { return platform::WaitServingMessages(done, 10000); }
};

INSTANTIATE_TEST_SUITE_P(AllModes, PtyThread, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         ModeName);

TEST_P(PtyThread, RxCharTellsTheCountAndLeavesTheBytesQueued) {
  std::mutex mutex;
  std::vector<int32_t> counts;
  platform::TEvent all(true, false);
  port_.OnRxChar = [&](TCustomComPort&, int32_t count) {
    std::lock_guard lock(mutex);
    counts.push_back(count);
    if (count == 5) all.Set();
  };
  port_.Open();
  ASSERT_TRUE(port_.ThreadCreated());
  Send("hello");
  ASSERT_TRUE(Await(all));
  {
    std::lock_guard lock(mutex);
    // Nobody read: each event saw the queue as long as before or longer.
    for (size_t i = 1; i < counts.size(); ++i) EXPECT_LE(counts[i - 1], counts[i]);
  }
  char buffer[16];
  ASSERT_EQ(port_.Read(buffer, 16), 5);
  EXPECT_EQ(std::string(buffer, 5), "hello");
}

TEST_P(PtyThread, OneReadServesThePortAndTwoLinks) {
  std::mutex mutex;
  std::vector<std::string> chunks[3];
  size_t total = 0;
  platform::TEvent all(true, false);
  auto collect = [&](int who) {
    return [&, who](TCustomComPort&, const void* data, int32_t count) {
      std::lock_guard lock(mutex);
      chunks[who].emplace_back(static_cast<const char*>(data), static_cast<size_t>(count));
      if (who == 0 && (total += static_cast<size_t>(count)) == 6) all.Set();
    };
  };
  TComLink a, b;
  a.OnRxBuf = collect(1);
  b.OnRxBuf = collect(2);
  port_.OnRxBuf = collect(0);
  port_.RegisterLink(&a);
  port_.RegisterLink(&b);
  port_.Open();
  Send("abcdef");
  const bool came = Await(all);
  port_.Close();
  port_.UnRegisterLink(&a);
  port_.UnRegisterLink(&b);
  ASSERT_TRUE(came);
  std::string whole;
  for (const std::string& c : chunks[0]) whole += c;
  EXPECT_EQ(whole, "abcdef");
  // The links got the very pieces the port's handler got: one read each time, shared.
  EXPECT_EQ(chunks[1], chunks[0]);
  EXPECT_EQ(chunks[2], chunks[0]);
}

// Bytes the peer sent before the port opened raise no event of their own: the first delivery
// brings them without waiting for more. (No line end among them: the pseudo-terminal's cooked
// mode, still in force when they come, would turn a CR into LF.)
TEST_P(PtyThread, BytesWaitingAtTheOpenAreDeliveredWithoutMore) {
  Send("\x1b[c#02OK");
  std::mutex mutex;
  std::string got;
  platform::TEvent all(true, false);
  TComLink link;
  link.OnRxBuf = [&](TCustomComPort&, const void* data, int32_t count) {
    std::lock_guard lock(mutex);
    got.append(static_cast<const char*>(data), static_cast<size_t>(count));
    if (got.size() == 8) all.Set();
  };
  port_.RegisterLink(&link);
  port_.Open();
  const bool came = Await(all);
  port_.Close();
  port_.UnRegisterLink(&link);
  ASSERT_TRUE(came);
  EXPECT_EQ(got, "\x1b[c#02OK");
}

TEST_P(PtyThread, TxEmptyOnceAWriteHasDrained) {
  platform::TEvent drained(true, false);
  port_.OnTxEmpty = [&](TCustomComPort&) { drained.Set(); };
  port_.Open();
  ASSERT_EQ(port_.WriteStr("#01?\r"), 5);
  ASSERT_TRUE(Await(drained));
  EXPECT_EQ(Receive(5), "#01?\r");
}

}  // namespace
}  // namespace serial::test
