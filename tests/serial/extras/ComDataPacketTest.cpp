// The packet assembler as a link on a port: registration through its ComPort property, the
// bytes the port reads in each delivery mode, the injected clock and the handlers' failures.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/MessageLoop.h"
#include "serial/extras/ComDataPacket.h"
#include "tests/serial/FakePort.h"

namespace serial::test {
namespace {

using namespace std::chrono_literals;

// What the handlers saw, as "P:bytes" and "D<reason>:bytes"; handlers may run on the event thread.
struct Seen {
  void Attach(TComDataPacket& packet) {
    packet.OnPacket = [this](TComDataPacket&, const std::string& b) { Add("P:" + b); };
    packet.OnDiscard = [this](TComDataPacket&, const std::string& b, TDiscardReason r) {
      Add("D" + std::to_string(r) + ":" + b);
    };
  }
  void Add(std::string s) {
    std::lock_guard lock(mutex);
    items.push_back(std::move(s));
  }
  std::vector<std::string> Get() {
    std::lock_guard lock(mutex);
    return items;
  }
  size_t Count() { return Get().size(); }
  std::mutex mutex;
  std::vector<std::string> items;
};

const std::string kNoStart = "D" + std::to_string(drNoStart) + ":";
const std::string kTimeout = "D" + std::to_string(drTimeout) + ":";
const std::string kCleared = "D" + std::to_string(drCleared) + ":";

// Serves the main thread's queue until `condition` holds; false when the deadline passes first.
bool ServeUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::TEvent never(true, false);
    platform::WaitServingMessages(never, 1);
  }
  return true;
}

TEST(ComDataPacket, TheComPortPropertyMovesTheLink) {
  Seen seen;
  FakePort a, b;
  {
    TComDataPacket packet;
    seen.Attach(packet);
    packet.SetStopString("\r");
    packet.SetComPort(&a.port);
    EXPECT_EQ(packet.ComPort(), &a.port);
    EXPECT_TRUE(a.port.HasLink());
    EXPECT_FALSE(a.port.TriggersOnRxChar()) << "the link makes the port read";
    packet.SetComPort(&a.port);  // the same port: nothing happens

    packet.AddData("ab", 2);
    packet.SetComPort(&b.port);
    EXPECT_FALSE(a.port.HasLink());
    EXPECT_TRUE(b.port.HasLink());
    EXPECT_EQ(seen.Get(), std::vector<std::string>{kCleared + "ab"}) << "not glued to b's bytes";
  }
  EXPECT_FALSE(b.port.HasLink()) << "the destructor leaves the port";

  TComDataPacket packet;
  packet.SetComPort(&a.port);
  packet.SetComPort(nullptr);
  EXPECT_EQ(packet.ComPort(), nullptr);
  EXPECT_FALSE(a.port.HasLink());
}

struct SetterCase {
  const char* name;
  std::function<void(TComDataPacket&)> set;
  std::function<bool(const TComDataPacket&)> holds;
};

void PrintTo(const SetterCase& c, std::ostream* os) {
  *os << c.name;
}

class Setters : public ::testing::TestWithParam<SetterCase> {};

TEST_P(Setters, AChangeDropsWhatIsHeldAndTheGetterGivesTheValue) {
  Seen seen;
  TComDataPacket packet;
  seen.Attach(packet);
  packet.SetStopString("\r");
  packet.AddData("ab", 2);
  GetParam().set(packet);
  EXPECT_TRUE(GetParam().holds(packet));
  EXPECT_EQ(seen.Get(), std::vector<std::string>{kCleared + "ab"});
  EXPECT_EQ(packet.Pending(), 0);
  GetParam().set(packet);  // unchanged now: nothing to drop, nothing reported
  EXPECT_EQ(seen.Count(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    All, Setters,
    ::testing::Values(
        SetterCase{"StartString", [](auto& p) { p.SetStartString("#"); },
                   [](auto& p) { return p.StartString() == "#"; }},
        SetterCase{"StopString", [](auto& p) { p.SetStopString("\n"); },
                   [](auto& p) { return p.StopString() == "\n"; }},
        SetterCase{"Size", [](auto& p) { p.SetSize(8); }, [](auto& p) { return p.Size() == 8; }},
        SetterCase{"IncludeStrings", [](auto& p) { p.SetIncludeStrings(true); },
                   [](auto& p) { return p.IncludeStrings(); }},
        SetterCase{"CaseInsensitive", [](auto& p) { p.SetCaseInsensitive(true); },
                   [](auto& p) { return p.CaseInsensitive(); }},
        SetterCase{"MaxBufferSize", [](auto& p) { p.SetMaxBufferSize(16); },
                   [](auto& p) { return p.MaxBufferSize() == 16; }},
        SetterCase{"Timeout", [](auto& p) { p.SetTimeout(50); },
                   [](auto& p) { return p.Timeout() == 50; }},
        SetterCase{"Settings",
                   [](auto& p) {
                     TPacketSettings s;
                     s.Size = 4;
                     p.SetSettings(s);
                   },
                   [](auto& p) { return p.Settings().Size == 4 && p.StopString().empty(); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ComDataPacket, TheTimeOutComesByTheInjectedClock) {
  Seen seen;
  TComDataPacket::TTime now{};
  TComDataPacket packet;
  seen.Attach(packet);
  packet.SetClock([&] { return now; });
  packet.SetStartString("#");
  packet.SetStopString("\r");
  packet.SetTimeout(100);
  packet.AddData("#ab", 3);
  EXPECT_EQ(packet.Deadline(), TComDataPacket::TTime{} + 100ms);
  now += 99ms;
  packet.CheckTimeout();
  EXPECT_EQ(seen.Count(), 0u);
  now += 1ms;
  packet.CheckTimeout();
  EXPECT_EQ(seen.Get(), std::vector<std::string>{kTimeout + "#ab"});
  EXPECT_EQ(packet.Deadline(), std::nullopt);
}

TEST(ComDataPacket, AFailingHandlerDoesNotLoseTheOtherPieces) {
  std::vector<std::string> seen;
  TComDataPacket packet;
  packet.SetStopString("\r");
  packet.OnPacket = [&](TComDataPacket&, const std::string& b) {
    seen.push_back(b);
    if (b == "a") throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(packet.AddData("a\rb\r", 4), std::runtime_error);
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "b"}));
  packet.AddData("c\r", 2);
  EXPECT_EQ(seen.back(), "c");
}

// The bytes as the event thread delivers them, in each mode: strings split across reads, every
// byte seen once. The test's thread is the main thread and serves the queue while it waits; it
// checks for time-outs meanwhile, which in smNone races with the worker's deliveries.
class Delivered : public ::testing::TestWithParam<TSyncMethod> {
 protected:
  void SetUp() override { platform::SetMainThread(); }
};

INSTANTIATE_TEST_SUITE_P(AllModes, Delivered, ::testing::Values(smThreadSync, smWindowSync, smNone),
                         ModeName);

TEST_P(Delivered, EveryReadReachesTheAssemblerOnce) {
  Seen seen;
  FakePort f;
  TComDataPacket packet;
  seen.Attach(packet);
  packet.SetStartString("<<");
  packet.SetStopString(">>");
  packet.SetTimeout(60000);
  packet.SetComPort(&f.port);
  f.port.SetSyncMethod(GetParam());
  f.OpenQuietly();

  const std::vector<std::string> reads = {"x<", "<ab>", ">zz<", "<c", ">", ">", "<<q"};
  for (const std::string& read : reads) {
    f.line->PutInput(read);
    f.line->RaiseCommEvent(platform::kEvRxChar);
    ASSERT_TRUE(ServeUntil([&] {
      packet.CheckTimeout();
      return f.line->InputSize() == 0;
    }));
  }
  const std::vector<std::string> expected = {kNoStart + "x", "P:ab", kNoStart + "zz", "P:c"};
  ASSERT_TRUE(ServeUntil([&] { return seen.Count() >= expected.size() && packet.Pending() == 3; }));
  EXPECT_EQ(seen.Get(), expected);
  EXPECT_EQ(f.line->CountCalls("ReadFile"), reads.size()) << "one read a delivery";

  // Closing drops the unfinished packet.
  f.port.Close();
  EXPECT_EQ(seen.Get().back(), kCleared + "<<q");
  EXPECT_EQ(packet.Pending(), 0);
}

}  // namespace
}  // namespace serial::test
