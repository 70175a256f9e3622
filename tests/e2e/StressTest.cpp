// Fault and stress runs of the headless panel against the simulated generator. Sizes are small
// enough for CI; VALTREX_SOAK (a multiplier, default 1) makes them long soaks by hand.
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Telemetry.h"
#include "platform/MessageLoop.h"
#include "platform/Sync.h"
#include "serial/ComPort.h"
#include "tests/e2e/SimRig.h"

namespace app::test {
namespace {

using protocol::TelemetryId;

int Soak() {
  const char* v = std::getenv("VALTREX_SOAK");
  const int n = v ? std::atoi(v) : 1;
  return n > 0 ? n : 1;
}

size_t CountEntries(const char* dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

// The telemetry texts the panel may show: "waiting......." or one made from a field the generator
// really sent, clamped as the bars clamp it.
struct SentTelemetry {
  std::set<std::string> texts[protocol::kTelemetryCount];

  static int32_t Field(const std::string& frame, size_t at) {
    return std::stoi(frame.substr(at, 3));
  }
  void Add(TelemetryId id, int32_t value) {
    const auto& info = protocol::Info(id);
    texts[static_cast<size_t>(id)].insert(
        protocol::FormatTelemetry(id, std::clamp(value, info.min, info.max)));
  }
  // Frames as they went out, whole or in pieces; only whole, well-formed ones count.
  void Record(const std::string& bytes) {
    pending += bytes;
    for (size_t cr; (cr = pending.find('\r')) != std::string::npos; pending.erase(0, cr + 1)) {
      const std::string f = pending.substr(0, cr);
      const bool digits = f.size() >= 10 && f.find_first_not_of("0123456789", 4) >= 10;
      if (f.rfind("#02?", 0) == 0 && digits) {
        const int32_t current = Field(f, 4), voltage = Field(f, 7);
        Add(TelemetryId::dcCurrent, current);
        Add(TelemetryId::dcVoltage, voltage);
        // The power comes from both fields of the same reply, as the bars hold them.
        Add(TelemetryId::dcPower,
            protocol::DcPower(std::clamp(voltage, 0, 1000), std::clamp(current, 0, 1000)));
      } else if (f.rfind("#02&", 0) == 0 && f.size() >= 13 &&
                 f.find_first_not_of("0123456789", 4) >= 13) {
        Add(TelemetryId::hfCurrent, Field(f, 4));
        Add(TelemetryId::regulator, Field(f, 7));
        Add(TelemetryId::phase, Field(f, 10));
      }
    }
  }
  bool Allowed(TelemetryId id, const std::string& text) const {
    return text == "waiting......." || texts[static_cast<size_t>(id)].count(text) > 0;
  }
  std::string pending;
};

void RunFaulty(sim::Options options, int ticks, const char* what) {
  SimRig rig(options);
  SentTelemetry sent;
  rig.onReplies = [&](const std::string& bytes) { sent.Record(bytes); };
  rig.Connect();
  rig.Ticks(18);
  rig.form.Button4.Click();  // start, so the telemetry moves
  for (int i = 0; i < ticks; ++i) {
    rig.Tick();
    if (i % 97 == 0) {
      for (const auto& t : protocol::kTelemetry) {
        const std::string text = rig.form.Control<TEdit>(t.edit).Text();
        ASSERT_TRUE(sent.Allowed(t.id, text)) << what << ": " << t.edit << " shows " << text;
      }
    }
  }
  EXPECT_TRUE(rig.errors.empty()) << what;  // a spoiled reply is never an operator error
  EXPECT_TRUE(rig.form.CP.Connected()) << what;
}

TEST(Stress, TenThousandTicksWithEachFault) {
  const int ticks = 10000 * Soak();
  const struct {
    const char* what;
    double sim::Options::*rate;
  } faults[] = {{"dropped", &sim::Options::dropRate},
                {"split", &sim::Options::splitRate},
                {"garbage", &sim::Options::garbageRate},
                {"wrong address", &sim::Options::wrongAddressRate}};
  for (const auto& f : faults) {
    sim::Options options;
    options.seed = 11;
    options.*f.rate = 0.05;
    RunFaulty(options, ticks, f.what);
  }
  sim::Options all;
  all.seed = 12;
  all.dropRate = all.splitRate = all.garbageRate = all.wrongAddressRate = 0.03;
  RunFaulty(all, ticks, "all faults");
}

TEST(Stress, HangUpAndReconnectCyclesLeakNothing) {
  const int cycles = 200 * Soak();
  sim::Options options;
  options.hangupAfter = 4;
  SimRig rig(options);
  // One warm-up cycle, so that what is allocated once for good is not counted as growth.
  auto cycle = [&] {
    rig.NewLine(options);
    rig.Connect();
    for (int t = 0; t < 20 && rig.form.CP.Connected(); ++t) rig.Tick();
    rig.Tick();
    rig.sent.clear();  // the rig's own record of the frames: it would grow with the cycles
  };
  rig.errors.reserve(static_cast<size_t>(cycles));
  cycle();
  const size_t fds = CountEntries("/proc/self/fd");
  const size_t threads = CountEntries("/proc/self/task");
  const size_t heap = mallinfo2().uordblks;
  for (int i = 1; i < cycles; ++i) {
    cycle();
    ASSERT_EQ(rig.errors.size(), static_cast<size_t>(i + 1)) << "cycle " << i;
    ASSERT_TRUE(rig.form.Lcpb.Visible());
    ASSERT_FALSE(rig.form.CP.Connected());
  }
  EXPECT_LE(CountEntries("/proc/self/fd"), fds);
  EXPECT_LE(CountEntries("/proc/self/task"), threads);
  EXPECT_LT(mallinfo2().uordblks, heap + 256 * 1024) << "the heap grew over the cycles";
  for (int code : rig.errors) EXPECT_EQ(code, serial::ecode::kReadFile);
}

TEST(Stress, SecondProcessCannotTakeThePanelsPort) {
  SimRig rig;
  rig.Connect();
  rig.Ticks(5);
  ASSERT_TRUE(rig.form.CP.Connected());
  const pid_t child = fork();
  if (child == 0) {
    int code = 0;
    try {
      serial::TComPort other;
      other.SetPort(rig.line->path);
      other.Open();
    } catch (const serial::EComPort& e) {
      code = e.ErrorCode();
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), serial::ecode::kOpen);
  rig.Ticks(14);  // the panel's pass goes on undisturbed
  EXPECT_TRUE(rig.errors.empty());
  EXPECT_EQ(rig.form.Lsr.Caption(), "SR106");
  EXPECT_NE(rig.form.ParamEdit(protocol::ParamId::usp).Text(), "waiting.......");
}

// Open and close the port again and again while bytes cross both ways and the event thread
// delivers them; every tenth cycle the handler itself closes the port. Half the cycles wait for
// the delivery, the others close while it may be on its way.
class DeliveryModes : public ::testing::TestWithParam<serial::TSyncMethod> {};

TEST_P(DeliveryModes, OpenCloseCyclesWithTrafficLeakNothing) {
  platform::SetMainThread();
  const int cycles = 1000 * Soak();
  SimLine line({});
  serial::TComPort port;
  port.SetPort(line.path);
  port.SetSyncMethod(GetParam());
  platform::TEvent delivered(true, false);
  std::atomic<bool> closeInside{false};
  std::atomic<int> deliveries{0};
  // Set once: a handler replaced while a delivery runs it would be destroyed under its feet.
  port.OnRxChar = [&](serial::TCustomComPort& p, int32_t count) {
    char buffer[16];
    p.Read(buffer, std::min<int32_t>(count, sizeof buffer));
    ++deliveries;
    if (closeInside) p.Close();
    delivered.Set();
  };
  auto cycle = [&](int i) {
    delivered.Reset();
    closeInside = false;
    port.Open();
    ASSERT_EQ(port.WriteStr("q"), 1);
    // Only once this thread has done with the port: in the direct mode the handler runs in the
    // worker, and a byte left over from the last cycle may be delivered at any moment.
    closeInside = i % 10 == 3;
    line.WriteToPanel("r");
    if (i % 2 == 1) {
      ASSERT_TRUE(platform::WaitServingMessages(delivered, 10000)) << "cycle " << i;
    }
    port.Close();
    ASSERT_FALSE(port.Connected());
    ASSERT_EQ(line.ReadFromPanel(1), "q");
  };
  cycle(1);  // what is allocated once for good is not counted as growth
  const size_t fds = CountEntries("/proc/self/fd");
  const size_t threads = CountEntries("/proc/self/task");
  for (int i = 2; i <= cycles && !HasFatalFailure(); ++i) cycle(i);
  port.Open();  // collects a worker retired by the last close from inside its delivery
  port.Close();
  EXPECT_GE(deliveries, cycles / 2);
  EXPECT_LE(CountEntries("/proc/self/fd"), fds);
  EXPECT_LE(CountEntries("/proc/self/task"), threads);
}

INSTANTIATE_TEST_SUITE_P(AllModes, DeliveryModes,
                         ::testing::Values(serial::smThreadSync, serial::smWindowSync,
                                           serial::smNone),
                         [](const ::testing::TestParamInfo<serial::TSyncMethod>& info) {
                           return info.param == serial::smThreadSync   ? "ThreadSync"
                                  : info.param == serial::smWindowSync ? "WindowSync"
                                                                       : "None";
                         });

}  // namespace
}  // namespace app::test
