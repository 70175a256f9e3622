// The system's own comm calls, where Wine is known to answer otherwise than Windows: these run
// on Windows, and are skipped under Wine with the difference as the reason (VALTREX_MEASURE_WINE
// runs them there too, to see the difference again). The device keeps the seam's promises in
// every one of these cases; these tests show what it has to work around.
#include <chrono>
#include <string>

#include "tests/platform/win32/LinkedPorts.h"

namespace platform::win32::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Port A by the system's calls alone, port B through the device.
class RawComm : public LinkedPorts {
 protected:
  void SetUp() override {
    LinkedPorts::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    a_.reset();
    raw_ = CreateFileA(("\\\\.\\" + nameA_).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(raw_, INVALID_HANDLE_VALUE) << GetLastError();
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ov_.hEvent = event_;
  }
  void TearDown() override {
    if (raw_ != INVALID_HANDLE_VALUE) {
      SetCommMask(raw_, 0);
      CancelIoEx(raw_, nullptr);
      CloseHandle(raw_);
    }
    if (event_) CloseHandle(event_);
  }
  void SetTimeouts(DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS t = {interval, multiplier, constant, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(raw_, &t));
  }

  HANDLE raw_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  OVERLAPPED ov_ = {};
};

TEST_F(RawComm, ACustomRateIsSetAsGiven) {
  SKIP_UNDER_WINE("SetCommState at 31250, 250000 or 12345 succeeds, but 38400 is set");
  for (DWORD rate : {31250ul, 250000ul, 12345ul}) {
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(raw_, &dcb));
    dcb.BaudRate = rate;
    ASSERT_TRUE(SetCommState(raw_, &dcb)) << rate;
    DCB back = {};
    back.DCBlength = sizeof back;
    ASSERT_TRUE(GetCommState(raw_, &back));
    EXPECT_EQ(back.BaudRate, rate);
  }
}

TEST_F(RawComm, AnOverlappedReturnAtOnceReadCompletesAtOnce) {
  SKIP_UNDER_WINE("an overlapped MAXDWORD/0/0 read stays pending on an empty queue");
  SetTimeouts(MAXDWORD, 0, 0);
  char buffer[20];
  DWORD n = 99;
  const BOOL done = ReadFile(raw_, buffer, sizeof buffer, &n, &ov_);
  if (!done) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  EXPECT_EQ(::WaitForSingleObject(event_, 1000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetOverlappedResult(raw_, &ov_, &n, FALSE));
  EXPECT_EQ(n, 0u);
}

TEST_F(RawComm, ATimedOutReadSucceedsWithAShortCount) {
  SKIP_UNDER_WINE("a read time-out with nothing read ends FALSE with 1460");
  SetTimeouts(0, 0, 200);
  char buffer[10];
  DWORD n = 0;
  if (!ReadFile(raw_, buffer, sizeof buffer, &n, &ov_)) {
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  }
  ASSERT_EQ(::WaitForSingleObject(event_, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(GetOverlappedResult(raw_, &ov_, &n, FALSE)) << GetLastError();
  EXPECT_EQ(n, 0u);
}

TEST_F(RawComm, ANewMaskEndsAPendingWaitSuccessfullyWithNoEvents) {
  SKIP_UNDER_WINE("SetCommMask ends a pending wait, but with FALSE and 995");
  ASSERT_TRUE(SetCommMask(raw_, EV_RXCHAR));
  DWORD mask = 99;
  ASSERT_FALSE(WaitCommEvent(raw_, &mask, &ov_));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(SetCommMask(raw_, 0));
  ASSERT_EQ(::WaitForSingleObject(event_, 5000), WAIT_OBJECT_0);
  DWORD n = 0;
  EXPECT_TRUE(GetOverlappedResult(raw_, &ov_, &n, FALSE)) << GetLastError();
  EXPECT_EQ(mask, 0u);
}

TEST_F(RawComm, ACancelEndsAPendingWaitAndTheNextWaitWorks) {
  SKIP_UNDER_WINE("CancelIo of a pending WaitCommEvent never completes; later waits fail with 87");
  ASSERT_TRUE(SetCommMask(raw_, EV_RXCHAR));
  DWORD mask = 0;
  ASSERT_FALSE(WaitCommEvent(raw_, &mask, &ov_));
  ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
  ASSERT_TRUE(CancelIoEx(raw_, &ov_));
  EXPECT_EQ(::WaitForSingleObject(event_, 5000), WAIT_OBJECT_0);
  DWORD n = 0;
  EXPECT_FALSE(GetOverlappedResult(raw_, &ov_, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
  const BOOL again = WaitCommEvent(raw_, &mask, &ov_);
  EXPECT_TRUE(again || GetLastError() == ERROR_IO_PENDING) << GetLastError();
}

}  // namespace
}  // namespace platform::win32::test
