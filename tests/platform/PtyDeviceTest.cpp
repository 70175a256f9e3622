// The terminal device on pseudo-terminal pairs: opening, the line, transfers with their
// time-outs, overlapped completion, purge and cancel, hang-up, queues and counts.
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/ComDevice.h"
#include "platform/posix/CustomRate.h"
#include "tests/platform/PtyPair.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using ptytest::Eventually;
using ptytest::PanelDcb;
using ptytest::PtyPair;
using ptytest::Timeouts;
using Clock = std::chrono::steady_clock;

class PtyDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.Ok()) << "no pseudo-terminal to test on";
    int error = -1;
    device = OpenComDevice(pty.Path(), error);
    ASSERT_TRUE(device) << "open failed with " << error;
    ASSERT_EQ(error, 0);
    ASSERT_EQ(device->SetupComm(1024, 1024), 0);
    ASSERT_EQ(device->SetCommState(PanelDcb()), 0);
    ASSERT_EQ(device->SetCommTimeouts(Timeouts(kMaxDword, 0, 0, 100, 1000)), 0);
  }

  uint32_t InQueue() {
    TComStat stat;
    EXPECT_EQ(device->ClearCommError(nullptr, &stat), 0);
    return stat.cbInQue;
  }

  std::string ReadNow(uint32_t count) {
    std::string text(count, '\0');
    uint32_t done = 99;
    TEvent event(true, false);
    TOverlapped ov;
    ov.hEvent = &event;
    EXPECT_EQ(device->ReadFile(text.data(), count, &done, &ov), 0);
    text.resize(done);
    return text;
  }

  PtyPair pty;
  std::unique_ptr<ComDevice> device;
};

struct Record {
  Record() { ov.hEvent = &event; }
  bool Signalled(uint32_t ms = 0) { return WaitForSingleObject(event, ms) == kWaitObject0; }
  TEvent event{true, true};
  TOverlapped ov;
};

TEST(PtyOpen, SecondOpenOfTheSameDeviceIsBusy) {
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  int error = -1;
  auto first = OpenComDevice(pty.Path(), error);
  ASSERT_TRUE(first);
  auto second = OpenComDevice(pty.Path(), error);
  EXPECT_FALSE(second);
  EXPECT_EQ(error, EBUSY);

  // Another process meets the same lock.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int childError = 0;
    auto device = OpenComDevice(pty.Path(), childError);
    std::_Exit(!device && childError == EBUSY ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process got the device";

  // Closing gives the device back.
  first.reset();
  auto again = OpenComDevice(pty.Path(), error);
  EXPECT_TRUE(again) << error;
}

TEST(PtyOpen, AnotherUserMeetsTheExclusiveMode) {
  // Root opens a line in exclusive mode all the same, and the lock alone keeps other processes
  // of this port out: only an unprivileged opener that does not take the lock shows the mode.
  if (geteuid() != 0) GTEST_SKIP() << "needs root, to give the line to another user";
  const passwd* user = getpwnam("nobody");
  if (!user) GTEST_SKIP() << "no user 'nobody' to open the line as";
  const uid_t uid = user->pw_uid;
  const gid_t gid = user->pw_gid;
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  ASSERT_EQ(fchown(pty.Slave(), uid, gid), 0) << std::strerror(errno);
  const std::string path = pty.Path();
  // A plain open as that user, in a child process: 0 when it opened, else its error.
  constexpr int kNoUser = 255;
  const auto openAsUser = [&] {
    const pid_t child = fork();
    if (child == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) std::_Exit(kNoUser);
      const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      if (fd < 0) std::_Exit(errno == 0 || errno >= kNoUser ? kNoUser - 1 : errno);
      close(fd);
      std::_Exit(0);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  };

  const int free = openAsUser();
  if (free == kNoUser) GTEST_SKIP() << "could not become user 'nobody'";
  ASSERT_EQ(free, 0) << "the user cannot open the line even while nobody holds it";
  int error = -1;
  auto device = OpenComDevice(path, error);
  ASSERT_TRUE(device) << error;
  EXPECT_EQ(openAsUser(), EBUSY) << "another user opened a line held in exclusive mode";
  device.reset();
  EXPECT_EQ(openAsUser(), 0) << "closing gives the line back";
}

TEST(PtyOpen, MissingDeviceFailsWithItsError) {
  int error = 0;
  EXPECT_FALSE(OpenComDevice("/nonexistent/ttyX", error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(OpenComDevice("", error));
  EXPECT_EQ(error, ENOENT);

  // A name with a NUL in it names no device; the part before the NUL must not be opened.
  PtyPair pty;
  ASSERT_TRUE(pty.Ok());
  EXPECT_FALSE(OpenComDevice(pty.Path() + std::string("\0x", 2), error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_TRUE(OpenComDevice(pty.Path(), error)) << error;
}

TEST_F(PtyDevice, LineIsRawWithNoEcho) {
  termios t;
  ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
  pty.Send("ping\n");
  EXPECT_EQ(ReadNow(5), "ping\n");
  EXPECT_TRUE(pty.ReceiveAll().empty()) << "the device echoed";
}

TEST_F(PtyDevice, RatesReadBack) {
  // The pseudo-terminal driver keeps any rate it is given, custom ones included.
  for (uint32_t rate : {31250u, 14400u, 56000u, 128000u, 256000u, 19200u, 115200u}) {
    TDCB dcb = PanelDcb();
    dcb.BaudRate = rate;
    ASSERT_EQ(device->SetCommState(dcb), 0) << rate;
    uint32_t held = 0;
    ASSERT_EQ(posix::ReadBaudRate(pty.Slave(), &held), 0);
    EXPECT_EQ(held, rate);
  }
  TDCB bad = PanelDcb();
  bad.StopBits = 1;  // 1.5 with 8 data bits
  EXPECT_EQ(device->SetCommState(bad), EINVAL);
  uint32_t held = 0;
  ASSERT_EQ(posix::ReadBaudRate(pty.Slave(), &held), 0);
  EXPECT_EQ(held, 115200u) << "a refused record changed the line";
}

TEST_F(PtyDevice, NothingWaitingReadsZeroAtOnce) {
  Record r;
  uint32_t done = 7;
  EXPECT_EQ(device->ReadFile(nullptr, 0, &done, &r.ov), 0);
  char buffer[20];
  EXPECT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), 0);
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(r.Signalled());
  uint32_t result = 9;
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &result, false), 0);
  EXPECT_EQ(result, 0u);
}

TEST_F(PtyDevice, TwentyFiveWaitingReadAsTwentyThenFive) {
  const std::string reply = "#02u1234567890abcdefghij\r";
  ASSERT_EQ(reply.size(), 25u);
  pty.Send(reply);
  const std::string first = ReadNow(20);
  const std::string second = ReadNow(20);
  EXPECT_EQ(first + second, reply);
  EXPECT_EQ(first.size(), 20u);
  EXPECT_EQ(ReadNow(20), "");
}

TEST_F(PtyDevice, FirstBytesRuleReturnsOnArrivalOrAfterTheConstant) {
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(kMaxDword, kMaxDword, 60000)), 0);
  Record r;
  char buffer[20];
  uint32_t done = 0;
  ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
  pty.Send("abc");
  ASSERT_TRUE(r.Signalled(10000));
  ASSERT_EQ(device->GetOverlappedResult(&r.ov, &done, false), 0);
  EXPECT_EQ(std::string(buffer, done), "abc");

  ASSERT_EQ(device->SetCommTimeouts(Timeouts(kMaxDword, kMaxDword, 50)), 0);
  const auto start = Clock::now();
  ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
  ASSERT_TRUE(r.Signalled(10000));
  EXPECT_GE(Clock::now() - start, 50ms);
  // Running out of time is a successful read of nothing.
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, false), 0);
  EXPECT_EQ(done, 0u);
}

TEST_F(PtyDevice, TotalTimeoutCompletesWithThePartialCount) {
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 10, 60)), 0);  // 10 ms a byte + 60 ms
  pty.Send("wxyz");
  Record r;
  char buffer[10];
  uint32_t done = 0;
  const auto start = Clock::now();
  ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
  ASSERT_TRUE(r.Signalled(10000));
  EXPECT_GE(Clock::now() - start, 160ms);
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, false), 0);
  EXPECT_EQ(std::string(buffer, done), "wxyz");
}

TEST_F(PtyDevice, IntervalCountsFromTheFirstByte) {
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(40, 0, 0)), 0);
  Record r;
  char buffer[10];
  uint32_t done = 0;
  ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, false), kIoIncomplete);
  pty.Send("12");
  ASSERT_TRUE(r.Signalled(10000));
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, false), 0);
  EXPECT_EQ(std::string(buffer, done), "12");
}

TEST_F(PtyDevice, NoTimeoutsWaitForTheWholeCount) {
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 0)), 0);
  Record r;
  char buffer[5];
  uint32_t done = 0;
  ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
  EXPECT_FALSE(r.Signalled()) << "the record's event was not reset";
  pty.Send("abc");
  ASSERT_TRUE(Eventually([&] { return InQueue() == 0; }));
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, false), kIoIncomplete);
  pty.Send("de");
  // A blocking wait on the result gives the same as waiting on the event.
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, true), 0);
  EXPECT_TRUE(r.Signalled());
  EXPECT_EQ(std::string(buffer, done), "abcde");
}

TEST_F(PtyDevice, BlockingCallsWithoutARecord) {
  pty.Send("xy");
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 0)), 0);
  char buffer[2];
  uint32_t done = 0;
  EXPECT_EQ(device->ReadFile(buffer, 2, &done, nullptr), 0);
  EXPECT_EQ(std::string(buffer, done), "xy");
  EXPECT_EQ(device->WriteFile("out", 3, &done, nullptr), 0);
  EXPECT_EQ(done, 3u);
  const auto got = pty.Receive(3);
  EXPECT_EQ(std::string(got.begin(), got.end()), "out");
}

TEST_F(PtyDevice, WriteReachesTheLine) {
  Record r;
  uint32_t done = 0;
  const std::string frame = "#01f30.000\r";
  const int result =
      device->WriteFile(frame.data(), static_cast<uint32_t>(frame.size()), &done, &r.ov);
  ASSERT_TRUE(result == 0 || result == kIoPending) << result;
  ASSERT_TRUE(r.Signalled(10000));
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, false), 0);
  EXPECT_EQ(done, frame.size());
  const auto got = pty.Receive(frame.size());
  EXPECT_EQ(std::string(got.begin(), got.end()), frame);
}

TEST_F(PtyDevice, TimedOutWriteCompletesWithWhatWentOut) {
  // Nobody reads the far end: the pseudo-terminal takes a few kilobytes and then no more.
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(kMaxDword, 0, 0, 0, 100)), 0);
  std::vector<uint8_t> big(1 << 20, 'z');
  Record r;
  uint32_t done = 0;
  ASSERT_EQ(device->WriteFile(big.data(), static_cast<uint32_t>(big.size()), &done, &r.ov),
            kIoPending);
  TComStat stat;
  ASSERT_EQ(device->ClearCommError(nullptr, &stat), 0);
  EXPECT_GT(stat.cbOutQue, 0u);
  ASSERT_TRUE(r.Signalled(10000));
  ASSERT_EQ(device->GetOverlappedResult(&r.ov, &done, false), 0);
  EXPECT_GT(done, 0u);
  EXPECT_LT(done, big.size());
  EXPECT_EQ(pty.Receive(done, 2s).size(), done);
  EXPECT_TRUE(pty.ReceiveAll().empty()) << "more went out than the write reported";
}

TEST_F(PtyDevice, PurgeAbortsRunningTransfers) {
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 0, 0, 0)), 0);
  Record read, write;
  char buffer[8];
  std::vector<uint8_t> big(1 << 20, 'q');
  uint32_t done = 0;
  ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &read.ov), kIoPending);
  ASSERT_EQ(device->WriteFile(big.data(), static_cast<uint32_t>(big.size()), &done, &write.ov),
            kIoPending);
  ASSERT_EQ(device->PurgeComm(kPurgeTxAbort | kPurgeRxAbort), 0);
  EXPECT_TRUE(read.Signalled());
  EXPECT_TRUE(write.Signalled());
  EXPECT_EQ(device->GetOverlappedResult(&read.ov, &done, false), ECANCELED);
  EXPECT_EQ(device->GetOverlappedResult(&write.ov, &done, false), ECANCELED);
  EXPECT_EQ(device->PurgeComm(0x10), EINVAL);
}

TEST_F(PtyDevice, PurgeClearsTheInputQueue) {
  pty.Send("stale bytes");
  ASSERT_TRUE(Eventually([&] { return InQueue() == 11; }));
  ASSERT_EQ(device->PurgeComm(kPurgeRxClear | kPurgeTxClear), 0);
  EXPECT_EQ(InQueue(), 0u);
  pty.Send("new");
  EXPECT_EQ(ReadNow(20), "new");
}

TEST_F(PtyDevice, ClearingTheOutputKeepsWhatWritesReportedSent) {
  // A pseudo-terminal takes a write at once but hands it to the far end a moment later; the
  // driver's flush would still drop it then. Closing a port clears the output, so without
  // care the last frame before a disconnect went missing. Many rounds, to meet that moment.
  std::string sent;
  for (int i = 0; i < 300; ++i) {
    const std::string frame = "f" + std::to_string(i) + ";";
    uint32_t done = 0;
    ASSERT_EQ(device->WriteFile(frame.data(), static_cast<uint32_t>(frame.size()), &done, nullptr),
              0);
    ASSERT_EQ(done, frame.size());
    ASSERT_EQ(device->PurgeComm(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear), 0);
    sent += frame;
    device.reset();
    int error = -1;
    device = OpenComDevice(pty.Path(), error);
    ASSERT_TRUE(device) << error;
  }
  const auto got = pty.Receive(sent.size(), 5s);
  const std::string received(got.begin(), got.end());
  const auto [lost, _] = std::mismatch(sent.begin(), sent.end(), received.begin(), received.end());
  EXPECT_EQ(received.size(), sent.size())
      << "lost from \"" << std::string(lost, std::min(lost + 8, sent.end())) << "\" on";
  EXPECT_EQ(received, sent);
}

TEST_F(PtyDevice, CancelIoEndsOneTransferAndTakesNothing) {
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 0)), 0);
  Record a, b;
  char bufferA[4], bufferB[4];
  uint32_t done = 0;
  ASSERT_EQ(device->ReadFile(bufferA, 4, &done, &a.ov), kIoPending);
  ASSERT_EQ(device->ReadFile(bufferB, 4, &done, &b.ov), kIoPending);
  EXPECT_EQ(device->ReadFile(bufferB, 4, &done, &b.ov), EINVAL) << "the record is busy";
  ASSERT_EQ(device->CancelIo(&a.ov), 0);
  // Done on return: the record may be freed right away.
  EXPECT_EQ(a.ov.Internal.load(), ECANCELED);
  EXPECT_TRUE(a.Signalled());
  EXPECT_EQ(device->CancelIo(&a.ov), 0) << "a finished record";
  pty.Send("1234");
  ASSERT_TRUE(b.Signalled(10000));
  EXPECT_EQ(device->GetOverlappedResult(&b.ov, &done, false), 0);
  EXPECT_EQ(std::string(bufferB, done), "1234");
}

// A thread blocked in GetOverlappedResult for the read being served takes the bytes from the
// driver itself. Whatever ends that read elsewhere must still wake it, and so must its own
// time-out; a second waiter behind it gets its turn.
class WaitingReader {
 public:
  WaitingReader(ComDevice& device, Record& record)
      : thread_([&] {
          tid_.store(static_cast<int>(gettid()));
          uint32_t done = 0;
          result_ = device.GetOverlappedResult(&record.ov, &done, true);
          done_ = done;
        }) {}
  ~WaitingReader() {
    if (thread_.joinable()) thread_.join();
  }
  bool Asleep() const { return ptytest::Asleep(tid_.load()); }
  std::pair<int, uint32_t> Outcome() {
    thread_.join();
    thread_ = std::thread();
    return {result_, done_};
  }

 private:
  std::atomic<int> tid_{0};
  int result_ = -1;
  uint32_t done_ = 0;
  std::thread thread_;
};

TEST_F(PtyDevice, AWaiterTakingItsOwnBytesIsWokenByWhatEndsItsRead) {
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 0)), 0);
  char buffer[8], second[4];
  uint32_t done = 0;
  {  // the bytes in two pieces, then a second read's, while both threads wait
    Record first, next;
    ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &first.ov), kIoPending);
    ASSERT_EQ(device->ReadFile(second, sizeof second, &done, &next.ov), kIoPending);
    WaitingReader a(*device, first), b(*device, next);
    ASSERT_TRUE(Eventually([&] { return a.Asleep() && b.Asleep(); }));
    pty.Send("abc");
    pty.Send("defgh1234");
    EXPECT_EQ(a.Outcome(), std::make_pair(0, 8u));
    EXPECT_EQ(b.Outcome(), std::make_pair(0, 4u));
    EXPECT_EQ(std::string(buffer, 8) + std::string(second, 4), "abcdefgh1234");
  }
  {  // cancelled by another thread
    Record r;
    ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
    WaitingReader waiter(*device, r);
    ASSERT_TRUE(Eventually([&] { return waiter.Asleep(); }));
    ASSERT_EQ(device->CancelIo(&r.ov), 0);
    EXPECT_EQ(waiter.Outcome().first, ECANCELED);
  }
  {  // its own time-out, with part of the count
    ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 50)), 0);
    Record r;
    pty.Send("xy");
    ASSERT_TRUE(Eventually([&] { return InQueue() == 2; }));
    const auto start = Clock::now();
    ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
    WaitingReader waiter(*device, r);
    EXPECT_EQ(waiter.Outcome(), std::make_pair(0, 2u));
    EXPECT_GE(Clock::now() - start, 50ms);
  }
  {  // the far end hangs up
    ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 0)), 0);
    Record r;
    ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
    WaitingReader waiter(*device, r);
    ASSERT_TRUE(Eventually([&] { return waiter.Asleep(); }));
    pty.CloseMaster();
    EXPECT_EQ(waiter.Outcome().first, EIO);
  }
}

double CpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST_F(PtyDevice, HangUpFailsTransfersWithEioAndDoesNotSpin) {
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(0, 0, 0)), 0);
  Record r;
  char buffer[8];
  uint32_t done = 0;
  ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), kIoPending);
  pty.CloseMaster();
  ASSERT_TRUE(r.Signalled(10000));
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, false), EIO);
  EXPECT_EQ(device->ReadFile(buffer, sizeof buffer, &done, &r.ov), EIO);
  EXPECT_EQ(device->WriteFile("x", 1, &done, &r.ov), EIO);
  EXPECT_EQ(device->ClearCommError(nullptr, nullptr), EIO);
  // Clearing up after a vanished device still works.
  EXPECT_EQ(device->PurgeComm(kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear), 0);
  EXPECT_EQ(device->SetCommMask(0), 0);

  // A service thread spinning on the hang-up would burn this whole window.
  const double before = CpuSeconds();
  const auto start = Clock::now();
  while (Clock::now() - start < 300ms) std::this_thread::sleep_for(10ms);
  EXPECT_LT(CpuSeconds() - before, 0.15);
}

TEST_F(PtyDevice, AReadJustAfterAHangUpFailsRatherThanFindingNothing) {
  // A read that returns at once: an empty line gives 0 bytes, a line that has gone gives EIO,
  // whether or not the service thread has noticed yet.
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(kMaxDword, 0, 0)), 0);
  char buffer[8];
  uint32_t done = 0;
  ASSERT_EQ(device->ReadFile(buffer, sizeof buffer, &done, nullptr), 0);
  EXPECT_EQ(done, 0u);
  pty.CloseMaster();
  EXPECT_EQ(device->ReadFile(buffer, sizeof buffer, &done, nullptr), EIO);
}

TEST_F(PtyDevice, ByteMarksOfTheDriverAreUndone) {
  TDCB dcb = PanelDcb();
  dcb.Flags |= dcb::fParity | dcb::fErrorChar;
  dcb.ErrorChar = '?';
  ASSERT_EQ(device->SetCommState(dcb), 0);
  // The far end sends a 0xFF and what looks like a mark: the driver doubles every 0xFF, and
  // the device gives back exactly what was sent.
  const std::vector<uint8_t> sent = {0xFF, 0x00, 0x41, 0xFF, 0xFF, 0x00, 0x00, 'z'};
  pty.Send(sent);
  const std::string got = ReadNow(32);
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()), sent);
  uint32_t errors = 1;
  ASSERT_EQ(device->ClearCommError(&errors, nullptr), 0);
  EXPECT_EQ(errors, 0u);
}

TEST_F(PtyDevice, InputBeyondTheQueueStaysInTheDriver) {
  ASSERT_EQ(device->SetupComm(16, 16), 0);
  std::string sent;
  for (int i = 0; i < 40; ++i) sent.push_back(static_cast<char>('A' + i % 26));
  pty.Send(sent);
  // The count holds the queue and what the driver keeps beyond it.
  ASSERT_TRUE(Eventually([&] { return InQueue() == 40; })) << InQueue();
  uint32_t errors = 1;
  ASSERT_EQ(device->ClearCommError(&errors, nullptr), 0);
  EXPECT_EQ(errors, 0u) << "no byte is lost, so there is no overflow";
  EXPECT_EQ(ReadNow(100), sent);
  EXPECT_EQ(InQueue(), 0u);
}

TEST_F(PtyDevice, TheInputCountIsWhatAReadHandsOver) {
  // NULs to be dropped stand in the driver's count, as a marked line's doubled 0xFF and its
  // marks do; a read gives only the data.
  TDCB dcb = PanelDcb();
  dcb.Flags |= dcb::fNull;
  ASSERT_EQ(device->SetCommState(dcb), 0);
  ASSERT_EQ(device->SetupComm(16, 16), 0);
  pty.Send(std::string(16, 'a') + std::string("\0\0b\0\0c", 6));
  // The queue takes its 16; the rest stays in the driver.
  const auto inDriver = [&] {
    int n = -1;
    return ioctl(pty.Slave(), FIONREAD, &n) == 0 ? n : -1;
  };
  ASSERT_TRUE(Eventually([&] { return inDriver() == 6; })) << inDriver();
  const uint32_t counted = InQueue();
  const std::string first = ReadNow(counted);
  EXPECT_EQ(first.size(), counted) << "the count held bytes no read gives";
  // Room made, what the driver holds is counted as data.
  EXPECT_EQ(first.size() + InQueue(), 18u);
  EXPECT_EQ(first + ReadNow(100), std::string(16, 'a') + "bc");
  EXPECT_EQ(InQueue(), 0u);
}

TEST_F(PtyDevice, LineControlWithoutModemLinesSucceedsWithoutEffect) {
  for (uint32_t code :
       {kSetDtr, kClrDtr, kSetRts, kClrRts, kSetBreak, kClrBreak, kSetXoff, kSetXon}) {
    EXPECT_EQ(device->EscapeCommFunction(code), 0) << code;
  }
  EXPECT_EQ(device->EscapeCommFunction(7), EINVAL);
  uint32_t status = 0xFF;
  EXPECT_EQ(device->GetCommModemStatus(&status), 0);
  EXPECT_EQ(status, 0u) << "a pseudo-terminal has no line asserted";
  TDCB dcb = PanelDcb();
  dcb.Flags = dcb::fBinary | dcb::fDtrControlEnable | dcb::fRtsControlEnable;
  EXPECT_EQ(device->SetCommState(dcb), 0);
}

TEST_F(PtyDevice, TransmitCommCharGoesOut) {
  EXPECT_EQ(device->TransmitCommChar('!'), 0);
  EXPECT_EQ(pty.Receive(1), std::vector<uint8_t>{'!'});
}

TEST_F(PtyDevice, OutputWaitingForDsrIsHeldWithoutIt) {
  // DSR is never up on a pseudo-terminal: output that waits for it goes nowhere until its
  // time runs out.
  TDCB dcb = PanelDcb();
  dcb.Flags |= dcb::fOutxDsrFlow;
  ASSERT_EQ(device->SetCommState(dcb), 0);
  ASSERT_EQ(device->SetCommTimeouts(Timeouts(kMaxDword, 0, 0, 0, 50)), 0);
  Record r;
  uint32_t done = 0;
  ASSERT_EQ(device->WriteFile("held", 4, &done, &r.ov), kIoPending);
  TComStat stat;
  ASSERT_EQ(device->ClearCommError(nullptr, &stat), 0);
  EXPECT_EQ(stat.Flags & 0x02, 0x02u) << "DSR hold";
  ASSERT_TRUE(r.Signalled(10000));
  EXPECT_EQ(device->GetOverlappedResult(&r.ov, &done, false), 0);
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(pty.ReceiveAll().empty());
}

}  // namespace
}  // namespace platform
