// Transfers, overlapped records and line state against the recording device.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FakePort.h"

namespace serial::test {
namespace {

// Records what links hear of transfers.
struct TransferLink {
  TransferLink() {
    link.OnTx = [this](TCustomComPort&, bool on) { seen.push_back(on ? "Tx+" : "Tx-"); };
    link.OnRx = [this](TCustomComPort&, bool on) { seen.push_back(on ? "Rx+" : "Rx-"); };
    link.OnTxBuf = [this](TCustomComPort&, const void* b, int32_t n) {
      seen.push_back("TxBuf:" + std::string(static_cast<const char*>(b), n));
    };
  }
  TComLink link;
  std::vector<std::string> seen;
};

TEST(Transfer, AClosedPortFailsEachOperationWithItsOwnCode) {
  FakePort f;
  char buffer[20];
  const struct {
    const char* name;
    std::function<void()> op;
    int32_t code;
  } cases[] = {
      {"Read", [&] { f.port.Read(buffer, 20); }, 3},
      {"Write", [&] { f.port.Write("x", 1); }, 2},
      {"AbortAllAsync", [&] { f.port.AbortAllAsync(); }, 5},
      {"InputCount", [&] { f.port.InputCount(); }, 10},
      {"LastErrors", [&] { f.port.LastErrors(); }, 10},
      {"Signals", [&] { f.port.Signals(); }, 11},
      {"SetDTR", [&] { f.port.SetDTR(true); }, 12},
      {"TransmitChar", [&] { f.port.TransmitChar('a'); }, 13},
  };
  for (const auto& c : cases) {
    const EComPort e = Raised(c.op);
    EXPECT_EQ(e.ErrorCode(), c.code) << c.name;
    EXPECT_EQ(e.SystemErrorCode(), platform::kInvalidHandleError) << c.name;
  }
  EXPECT_TRUE(f.line->Calls().empty());
  EXPECT_FALSE(f.port.Connected());
}

TEST(Transfer, StringsInAndOut) {
  FakePort f;
  f.OpenQuietly();
  EXPECT_EQ(f.port.WriteStr("#01f30.000\r"), 11);
  EXPECT_EQ(f.line->Written(), "#01f30.000\r");

  f.line->PutInput("#02OK\r");
  std::string text = "old";
  EXPECT_EQ(f.port.ReadStr(text, 20), 6);
  EXPECT_EQ(text, "#02OK\r");
  text = "old";
  EXPECT_EQ(f.port.ReadStr(text, 0), 0);
  EXPECT_EQ(text, "");
}

TEST(Transfer, AnEmptyWriteSendsNothingAndTellsNoLink) {
  FakePort f;
  TransferLink t;
  f.port.RegisterLink(&t.link);
  f.OpenQuietly();
  EXPECT_EQ(f.port.WriteStr(""), 0);
  EXPECT_EQ(f.line->CountCalls("WriteFile"), 0u);
  EXPECT_EQ(f.line->Written(), "");
  EXPECT_TRUE(t.seen.empty());
  f.port.UnRegisterLink(&t.link);
  // Nor does one after a write that sent something: it reports nothing sent, not the last count.
  EXPECT_EQ(f.port.WriteStr("hello"), 5);
  EXPECT_EQ(f.port.WriteStr(""), 0);
  EXPECT_EQ(f.line->Written(), "hello");
}

TEST(Transfer, ACountOfZeroOrLessTransfersNothing) {
  FakePort f;
  f.OpenQuietly();
  f.line->PutInput(std::string(40, 'z'));
  char buffer[20];
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(f.port.Read(buffer, -1), 0);
  EXPECT_EQ(f.port.Write(buffer, -1), 0);
  EXPECT_EQ(f.port.Read(buffer, 0), 0);

  std::unique_ptr<TAsync> async;
  f.port.InitAsync(async);
  EXPECT_EQ(f.port.ReadAsync(buffer, -5, async.get()), 0);
  EXPECT_EQ(f.port.WaitForAsync(async.get()), 0);
  EXPECT_EQ(f.port.WriteAsync(buffer, -5, async.get()), 0);
  EXPECT_EQ(f.port.WaitForAsync(async.get()), 0);
  std::string text = "keep";
  EXPECT_EQ(f.port.ReadStrAsync(text, -1, async.get()), 0);
  EXPECT_EQ(text, "");
  f.port.DoneAsync(async);

  EXPECT_EQ(f.line->CountCalls("ReadFile"), 0u);
  EXPECT_EQ(f.line->CountCalls("WriteFile"), 0u);
  EXPECT_EQ(f.line->InputSize(), 40u);
  EXPECT_EQ(buffer[0], 0);
}

TEST(Transfer, AnEmptyTransferOnAUsedRecordReportsNothing) {
  FakePort f;
  TransferLink t;
  f.port.RegisterLink(&t.link);
  f.OpenQuietly();
  std::unique_ptr<TAsync> async;
  f.port.InitAsync(async);

  f.port.WriteStrAsync("hello", async.get());
  ASSERT_EQ(f.port.WaitForAsync(async.get()), 5);
  t.seen.clear();
  EXPECT_EQ(f.port.WriteStrAsync("", async.get()), 0);
  EXPECT_EQ(f.port.WaitForAsync(async.get()), 0) << "the count of the write before";
  EXPECT_TRUE(t.seen.empty()) << "the links heard the last write's bytes again";

  f.line->PutInput("abc");
  std::string text;
  f.port.ReadStrAsync(text, 3, async.get());
  ASSERT_EQ(f.port.WaitForAsync(async.get()), 3);
  for (int32_t count : {0, -1}) {
    text = "keep";
    EXPECT_EQ(f.port.ReadStrAsync(text, count, async.get()), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(f.port.WaitForAsync(async.get()), 0) << "the count of the read before, " << count;
  }
  // A write of nothing after a read: neither the read's count nor a write's bytes.
  t.seen.clear();
  f.port.WriteStrAsync("", async.get());
  EXPECT_EQ(f.port.WaitForAsync(async.get()), 0);
  EXPECT_TRUE(t.seen.empty());
  f.port.DoneAsync(async);
  f.port.UnRegisterLink(&t.link);
  EXPECT_EQ(f.line->Written(), "hello");
  EXPECT_EQ(f.line->CountCalls("ReadFile"), 1u);
}

TEST(Transfer, APendingWriteSendsItsOwnCopyOfTheBytes) {
  FakePort f;
  f.OpenQuietly();
  f.line->HoldWrites(true);
  std::unique_ptr<TAsync> async;
  f.port.InitAsync(async);

  char mine[] = "hello";
  EXPECT_EQ(f.port.WriteAsync(mine, 5, async.get()), 0);
  std::memcpy(mine, "XXXXX", 5);  // the caller reuses its buffer while the write runs
  ASSERT_TRUE(f.line->CompleteWrite());
  EXPECT_EQ(f.port.WaitForAsync(async.get()), 5);

  f.port.WriteStrAsync(std::string("a temporary text, long enough to live on the heap"),
                       async.get());
  ASSERT_TRUE(f.line->CompleteWrite());
  f.port.WaitForAsync(async.get());
  f.port.DoneAsync(async);
  EXPECT_EQ(f.line->Written(), "helloa temporary text, long enough to live on the heap");
}

TEST(Transfer, TheRecordsEventFollowsItsOperation) {
  FakePort f;
  f.OpenQuietly();
  f.line->HoldWrites(true);
  std::unique_ptr<TAsync> async;
  f.port.InitAsync(async);
  EXPECT_EQ(platform::WaitForSingleObject(async->Event, 0), platform::kWaitObject0);
  EXPECT_TRUE(f.port.IsAsyncCompleted(async.get()));

  f.port.WriteStrAsync("pending", async.get());
  EXPECT_EQ(platform::WaitForSingleObject(async->Event, 0), platform::kWaitTimeout);
  EXPECT_FALSE(f.port.IsAsyncCompleted(async.get()));

  // The wait must hold until the device completes the write, whichever comes first.
  int32_t sent = -1;
  std::thread waiter([&] { sent = f.port.WaitForAsync(async.get()); });
  ASSERT_TRUE(f.line->CompleteWrite());
  waiter.join();
  EXPECT_EQ(sent, 7);
  EXPECT_TRUE(f.port.IsAsyncCompleted(async.get()));
  f.port.DoneAsync(async);
}

TEST(Transfer, LinksHearOfWritesWithTheBytesThatWentOut) {
  FakePort f;
  TransferLink t;
  f.port.RegisterLink(&t.link);
  f.OpenQuietly();
  f.line->SetWriteLimit(3);  // the write's time-out runs out after three bytes
  EXPECT_EQ(f.port.WriteStr("hello"), 3);
  EXPECT_EQ(t.seen, (std::vector<std::string>{"Tx+", "TxBuf:hel"}));

  // A read on a record that served a write hands no written bytes to the links.
  t.seen.clear();
  f.line->PutInput("ab");
  std::unique_ptr<TAsync> async;
  f.port.InitAsync(async);
  f.port.WriteStrAsync("xy", async.get());
  f.port.WaitForAsync(async.get());
  t.seen.clear();
  char buffer[4];
  f.port.ReadAsync(buffer, 4, async.get());
  EXPECT_EQ(f.port.WaitForAsync(async.get()), 2);
  EXPECT_EQ(t.seen, std::vector<std::string>{"Rx-"});
  f.port.DoneAsync(async);

  // Bytes still queued after a read: reception goes on, nothing to report.
  t.seen.clear();
  f.line->PutInput("abcdef");
  EXPECT_EQ(f.port.Read(buffer, 4), 4);
  EXPECT_TRUE(t.seen.empty());
  f.port.UnRegisterLink(&t.link);

  // A link that answers a write with a write of its own, while the first still hands its bytes
  // round: each write has its own record and its own bytes.
  TComLink echo;
  std::vector<std::string> heard;
  echo.OnTxBuf = [&](TCustomComPort& p, const void* data, int32_t count) {
    heard.emplace_back(static_cast<const char*>(data), static_cast<size_t>(count));
    if (heard.size() == 1) p.WriteStr("ack");
  };
  f.port.RegisterLink(&echo);
  f.line->SetWriteLimit(std::nullopt);
  EXPECT_EQ(f.port.WriteStr("ping"), 4);
  EXPECT_EQ(heard, (std::vector<std::string>{"ping", "ack"}));
  EXPECT_EQ(f.port.WriteStr("two"), 3);
  EXPECT_EQ(heard.back(), "two");
  f.port.UnRegisterLink(&echo);
}

TEST(Transfer, ReleasingARunningRecordCancelsItsOperation) {
  FakePort f;
  f.OpenQuietly();
  f.line->HoldReads(true);
  std::unique_ptr<TAsync> async;
  f.port.InitAsync(async);
  std::vector<char> buffer(20);
  EXPECT_EQ(f.port.ReadAsync(buffer.data(), 20, async.get()), 0);
  EXPECT_EQ(f.line->PendingReads(), 1u);
  // Writing to the record while its read runs is refused.
  EXPECT_EQ(Raised([&] { f.port.WriteStrAsync("x", async.get()); }).ErrorCode(), 4);
  f.port.DoneAsync(async);
  EXPECT_EQ(async, nullptr);
  EXPECT_EQ(f.line->PendingReads(), 0u);
  EXPECT_EQ(f.line->CountCalls("CancelIo"), 1u);
  f.line->PutInput("late");  // must not land in the freed record's buffer
  EXPECT_FALSE(f.line->CompleteRead());
}

TEST(Transfer, AFailedWaitStillReleasesTheRecord) {
  FakePort f;
  f.OpenQuietly();
  f.line->HoldWrites(true);
  f.line->SetFailure("GetOverlappedResult", EIO);
  std::unique_ptr<TAsync> async;
  f.port.InitAsync(async);
  f.port.WriteStrAsync("abc", async.get());
  ASSERT_TRUE(f.line->CompleteWrite());
  const EComPort e = Raised([&] { f.port.WaitForAsync(async.get()); });
  EXPECT_EQ(e.ErrorCode(), 2);
  EXPECT_EQ(e.SystemErrorCode(), EIO);
  EXPECT_EQ(Raised([&] { f.port.IsAsyncCompleted(async.get()); }).ErrorCode(), 6);
  f.port.DoneAsync(async);

  f.line->SetFailure("GetOverlappedResult", 0);
  f.line->SetFailure("WriteFile", EIO);
  EXPECT_EQ(Raised([&] { f.port.WriteStr("abc"); }).ErrorCode(), 2);
  f.line->SetFailure("ReadFile", EPIPE);
  char buffer[4];
  const EComPort r = Raised([&] { f.port.Read(buffer, 4); });
  EXPECT_EQ(r.ErrorCode(), 3);
  EXPECT_EQ(r.SystemErrorCode(), EPIPE);
  EXPECT_EQ(f.line->PendingWrites() + f.line->PendingReads(), 0u);
}

TEST(Transfer, NoRecordIsAnInvalidParameter) {
  FakePort f;
  f.OpenQuietly();
  char buffer[4] = {};
  std::string text;
  // The string forms too, with nothing to move: they still need a record to forget.
  const std::function<void()> ops[] = {
      [&] { f.port.WriteAsync(buffer, 4, nullptr); },
      [&] { f.port.ReadAsync(buffer, 4, nullptr); },
      [&] { f.port.WaitForAsync(nullptr); },
      [&] { f.port.IsAsyncCompleted(nullptr); },
      [&] { f.port.WriteStrAsync("", nullptr); },
      [&] { f.port.ReadStrAsync(text, 0, nullptr); },
  };
  for (const auto& op : ops) {
    const EComPort e = Raised(op);
    EXPECT_EQ(e.ErrorCode(), 4);
    EXPECT_EQ(e.SystemErrorCode(), -1);
  }
}

TEST(Transfer, LineControlCodes) {
  FakePort f;
  f.OpenQuietly();
  f.port.SetDTR(true);
  f.port.SetDTR(false);
  f.port.SetRTS(true);
  f.port.SetRTS(false);
  f.port.SetBreak(true);
  f.port.SetBreak(false);
  f.port.SetXonXoff(true);
  f.port.SetXonXoff(false);
  f.port.AbortAllAsync();
  f.port.ClearBuffer(true, false);
  f.port.ClearBuffer(false, true);
  f.port.TransmitChar(0x13);
  EXPECT_EQ(f.line->Calls(),
            (std::vector<std::string>{
                "EscapeCommFunction(5)", "EscapeCommFunction(6)", "EscapeCommFunction(3)",
                "EscapeCommFunction(4)", "EscapeCommFunction(8)", "EscapeCommFunction(9)",
                "EscapeCommFunction(2)", "EscapeCommFunction(1)", "PurgeComm(3)", "PurgeComm(8)",
                "PurgeComm(4)", "TransmitCommChar(19)"}));
  f.line->SetFailure("EscapeCommFunction", EIO);
  EXPECT_EQ(Raised([&] { f.port.SetRTS(true); }).ErrorCode(), 12);
}

TEST(Transfer, CountsSignalsAndState) {
  FakePort f;
  f.OpenQuietly();
  f.line->PutInput("12345");
  f.line->SetOutputQueue(7);
  f.line->SetStatFlags(0x41);
  EXPECT_EQ(f.port.InputCount(), 5);
  EXPECT_EQ(f.port.OutputCount(), 7);
  EXPECT_EQ(f.port.StateFlags(), (TComStateFlags{sfCTSHold, sfTxim}));

  f.line->SetModemStatus(platform::kMsCtsOn | platform::kMsRlsdOn);
  EXPECT_EQ(f.port.Signals(), (TComSignals{csCTS, csRLSD}));
  f.line->SetModemStatus(platform::kMsDsrOn | platform::kMsRingOn);
  EXPECT_EQ(f.port.Signals(), (TComSignals{csDSR, csRing}));
}

TEST(Transfer, LastErrorsMapsTheDriverFlags) {
  FakePort f;
  f.OpenQuietly();
  using namespace platform;
  f.line->RaiseErrors(kCeFrame | kCeRxParity | kCeOverrun | kCeBreak | kCeIoe | kCeMode |
                      kCeRxOver | kCeTxFull);
  EXPECT_EQ(f.port.LastErrors(),
            (TComErrors{ceFrame, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull}));
  EXPECT_TRUE(f.port.LastErrors().Empty());

  f.port.Parity().SetCheck(true);
  f.line->RaiseErrors(kCeRxParity);
  EXPECT_EQ(f.port.LastErrors(), TComErrors{ceRxParity});
}

TEST(Transfer, ErrorsSeenByACountQueryAreNotLost) {
  FakePort f;
  f.OpenQuietly();
  f.line->RaiseErrors(platform::kCeFrame);
  f.line->PutInput("x");
  char c;
  EXPECT_EQ(f.port.Read(&c, 1), 1);  // its wait asks for the counts
  EXPECT_EQ(f.port.InputCount(), 0);
  f.line->RaiseErrors(platform::kCeOverrun);
  EXPECT_EQ(f.port.LastErrors(), (TComErrors{ceFrame, ceOverrun}));
  EXPECT_TRUE(f.port.LastErrors().Empty());
}

}  // namespace
}  // namespace serial::test
