// Delivery of line events: the Call methods, their fan-out to links and the port's handlers,
// driven directly as the event thread will drive them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakePort.h"

namespace serial::test {
namespace {

std::string Bytes(const void* b, int32_t n) {
  return std::string(static_cast<const char*>(b), n);
}

TEST(Delivery, ReceivedBytesAreCountedOrReadByTheTriggerRule) {
  std::vector<std::string> seen;  // outlives the port, whose close still reports
  FakePort f;
  f.port.OnRxChar = [&](TCustomComPort&, int32_t n) {
    seen.push_back("RxChar:" + std::to_string(n));
  };
  f.port.OnRxBuf = [&](TCustomComPort&, const void* b, int32_t n) {
    seen.push_back("RxBuf:" + Bytes(b, n));
  };
  f.OpenQuietly();

  f.port.CallRxChar();  // nothing queued: nothing happens
  EXPECT_TRUE(seen.empty());

  f.line->PutInput("abc");
  f.port.CallRxChar();
  EXPECT_EQ(seen, std::vector<std::string>{"RxChar:3"});
  EXPECT_EQ(f.line->InputSize(), 3u) << "counting consumes nothing";

  seen.clear();
  f.port.SetTriggersOnRxChar(false);
  f.port.CallRxChar();
  EXPECT_EQ(seen, std::vector<std::string>{"RxBuf:abc"});
  EXPECT_EQ(f.line->InputSize(), 0u);
}

TEST(Delivery, OneReadServesThePortAndEveryBufferLink) {
  std::vector<std::string> seen;  // outlives the port, whose close still reports
  FakePort f;
  f.port.OnRxBuf = [&](TCustomComPort&, const void* b, int32_t n) {
    seen.push_back("port:" + Bytes(b, n));
  };
  TComLink first, plain, second;
  first.OnRxBuf = [&](TCustomComPort&, const void* b, int32_t n) {
    seen.push_back("first:" + Bytes(b, n));
  };
  plain.OnRx = [&](TCustomComPort&, bool on) { seen.push_back(on ? "Rx+" : "Rx-"); };
  second.OnRxBuf = [&](TCustomComPort&, const void* b, int32_t n) {
    seen.push_back("second:" + Bytes(b, n));
  };
  f.port.RegisterLink(&first);
  f.port.RegisterLink(&plain);
  f.port.RegisterLink(&second);
  f.OpenQuietly();

  f.line->PutInput("12345");
  f.line->SetReadLimit(3);  // the queue says 5, the read delivers 3
  f.port.CallRxChar();
  EXPECT_EQ(seen, (std::vector<std::string>{"Rx+", "port:123", "first:123", "second:123"}));
  EXPECT_EQ(f.line->CountCalls("ReadFile"), 1u);

  seen.clear();
  f.line->SetReadLimit(0);  // the bytes went elsewhere before the read
  f.port.CallRxChar();
  EXPECT_EQ(seen, std::vector<std::string>{"Rx+"});
  for (TComLink* l : {&first, &plain, &second}) f.port.UnRegisterLink(l);
}

TEST(Delivery, AnErrorCleardByAReadStillReachesOnError) {
  std::vector<TComErrors> errors;
  FakePort f;
  f.port.OnError = [&](TCustomComPort&, TComErrors e) { errors.push_back(e); };
  f.port.SetTriggersOnRxChar(false);
  f.OpenQuietly();
  f.line->PutInput("x");
  f.line->RaiseErrors(platform::kCeFrame);
  f.port.CallRxChar();  // reads the byte, and with it the driver's error flags
  f.port.CallError();
  f.port.CallError();  // nothing new: no call
  EXPECT_EQ(errors, std::vector<TComErrors>{TComErrors{ceFrame}});
}

TEST(Delivery, LinksHearOfAnEventBeforeTheHandler) {
  std::vector<std::string> seen;  // outlives the port, whose close still reports
  FakePort f;
  auto note = [&](const char* what) { return [&seen, what](auto&&...) { seen.push_back(what); }; };
  TComLink link;
  link.OnCTSChange = [&](TCustomComPort&, bool on) {
    seen.push_back(on ? "link CTS+" : "link CTS-");
  };
  link.OnTx = [&](TCustomComPort&, bool on) { seen.push_back(on ? "link Tx+" : "link Tx-"); };
  link.OnTxEmpty = note("link TxEmpty");
  link.OnRing = note("link Ring");
  link.OnRxFlag = note("link RxFlag");
  f.port.OnCTSChange = [&](TCustomComPort&, bool on) { seen.push_back(on ? "CTS+" : "CTS-"); };
  f.port.OnTxEmpty = note("TxEmpty");
  f.port.OnRing = note("Ring");
  f.port.OnRxFlag = note("RxFlag");
  f.OpenQuietly();
  f.port.RegisterLink(&link);
  seen.clear();

  f.line->SetModemStatus(platform::kMsCtsOn);
  f.port.CallEvents({evCTS, evTxEmpty, evRing, evRxFlag});
  EXPECT_EQ(seen, (std::vector<std::string>{"link Tx-", "link TxEmpty", "TxEmpty", "link Ring",
                                            "Ring", "link CTS+", "CTS+", "link RxFlag", "RxFlag"}));
  f.port.UnRegisterLink(&link);
}

TEST(Delivery, ADetectedSetIsDeliveredInTheFixedOrder) {
  std::vector<std::string> seen;  // outlives the port, whose close still reports
  FakePort f;
  auto note = [&](const char* what) { return [&seen, what](auto&&...) { seen.push_back(what); }; };
  f.port.OnError = note("Error");
  f.port.OnRxChar = note("RxChar");
  f.port.OnTxEmpty = note("TxEmpty");
  f.port.OnBreak = note("Break");
  f.port.OnRing = note("Ring");
  f.port.OnCTSChange = note("CTS");
  f.port.OnDSRChange = note("DSR");
  f.port.OnRxFlag = note("RxFlag");
  f.port.OnRLSDChange = note("RLSD");
  f.port.OnRx80Full = note("Rx80Full");
  f.OpenQuietly();
  seen.clear();

  f.port.CallEvents({evRLSD, evRing});
  EXPECT_EQ(seen, (std::vector<std::string>{"Ring", "RLSD"}));

  seen.clear();
  f.line->PutInput("q");
  f.line->RaiseErrors(platform::kCeOverrun);
  f.port.CallEvents(IntToEvents(0x05FF));
  EXPECT_EQ(seen, (std::vector<std::string>{"Error", "RxChar", "TxEmpty", "Break", "Ring", "CTS",
                                            "DSR", "RxFlag", "RLSD", "Rx80Full"}));

  // A handler that closes the port ends the delivery.
  seen.clear();
  f.port.OnRing = [&](TCustomComPort& p) { p.Close(); };
  f.port.CallEvents({evRing, evRLSD});
  EXPECT_FALSE(f.port.Connected());
  EXPECT_EQ(seen, (std::vector<std::string>{"CTS", "DSR", "RLSD"})) << "only Close's own reports";
}

TEST(Delivery, LinksMayRegisterAndUnregisterDuringAFanOut) {
  TComPort port;
  std::vector<std::string> seen;
  TComLink a, b, c;
  a.OnRing = [&](TCustomComPort& p) {
    seen.push_back("a");
    p.UnRegisterLink(&b);
    p.UnRegisterLink(&a);
    p.RegisterLink(&c);
  };
  b.OnRing = [&](TCustomComPort&) { seen.push_back("b"); };
  c.OnRing = [&](TCustomComPort&) { seen.push_back("c"); };
  port.RegisterLink(&a);
  port.RegisterLink(&b);
  port.NotifyLink(leRing);
  EXPECT_EQ(seen, std::vector<std::string>{"a"});
  port.NotifyLink(leRing);
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "c"}));

  // A link removed and added again during a walk is a new registration: next walk only.
  seen.clear();
  c.OnRing = [&](TCustomComPort& p) {
    seen.push_back("c");
    p.UnRegisterLink(&b);
    p.RegisterLink(&b);
  };
  port.RegisterLink(&b);
  port.NotifyLink(leRing);
  EXPECT_EQ(seen, std::vector<std::string>{"c"});
  port.UnRegisterLink(&b);
  port.UnRegisterLink(&c);
}

}  // namespace
}  // namespace serial::test

namespace serial::test {
namespace {

// The device side the event thread will wait on: a wait ends with the events of the mask, an
// event raised between waits is kept, and a new mask ends a wait with none.
TEST(Delivery, TheFakeLinesCommEventWait) {
  FakePort f;
  f.OpenQuietly();
  platform::ComDevice& device = f.port.Handle();
  ASSERT_EQ(device.SetCommMask(EventsToInts({evRxChar, evRing})), 0);
  platform::TEvent done(true, true);
  platform::TOverlapped ov;
  ov.hEvent = &done;
  uint32_t mask = 0;
  ASSERT_EQ(device.WaitCommEvent(&mask, &ov), platform::kIoPending);
  EXPECT_EQ(platform::WaitForSingleObject(done, 0), platform::kWaitTimeout);
  f.line->RaiseCommEvent(platform::kEvCts);  // not asked for
  EXPECT_TRUE(f.line->CommWaitPending());
  f.line->RaiseCommEvent(platform::kEvRing | platform::kEvRlsd);
  EXPECT_EQ(platform::WaitForSingleObject(done, 0), platform::kWaitObject0);
  EXPECT_EQ(mask, platform::kEvRing);

  f.line->RaiseCommEvent(platform::kEvRxChar);
  ASSERT_EQ(device.WaitCommEvent(&mask, &ov), 0);
  EXPECT_EQ(mask, platform::kEvRxChar);

  ASSERT_EQ(device.WaitCommEvent(&mask, &ov), platform::kIoPending);
  ASSERT_EQ(device.SetCommMask(0), 0);
  uint32_t unused = 0;
  EXPECT_EQ(device.GetOverlappedResult(&ov, &unused, false), 0);
  EXPECT_EQ(mask, 0u);
}

}  // namespace
}  // namespace serial::test
