// The cost of one exchange-cycle tick in the running loop (read and parse a reply, update the
// bars and edits, format and write the next query), beside an empty tick (port closed) in the
// same run. The port sits on the recording fake device, so the figure is the panel's own work,
// not the terminal driver's.
//
//   tick_bench                       Google Benchmark timings
//   tick_bench --ticks N loop|empty  N bare ticks, for instruction counts under callgrind
//                                    (bench/tick_instructions.sh)

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/MainForm.h"
#include "app/protocol/ExchangeSteps.h"
#include "platform/fake/FakeComDevice.h"

namespace {

// A connected form in its running loop, whose every query finds its reply waiting.
struct LoopRig {
  explicit LoopRig(bool connect) {
    line->AddName("bench0");
    if (connect) {
      form.CB.OperatorText("bench0");
      form.BO.Click();
    }
    form.ExchangeStep = app::protocol::kFirstLoopStep;
  }
  // Queues what the generator would have answered to the step about to run.
  void Prime() {
    switch (form.ExchangeStep) {
      case 19:
        line->PutInput("#02?0000000\r");
        break;  // the answer step 19 discards
      case 20:
        line->PutInput("#02?1234561\r");
        break;
      case 21:
        line->PutInput("#02&321654987\r");
        break;
      default:
        break;
    }
  }
  std::shared_ptr<platform::FakeLine> line =
      std::make_shared<platform::FakeLine>(std::vector<std::string>{});
  app::TMainForm form{platform::FakeOpener(line)};
};

__attribute__((noinline)) void RunTicks(LoopRig& rig, long n) {
  for (long i = 0; i < n; ++i) {
    rig.Prime();
    rig.form.Timer1.Tick();
  }
}

void BM_EmptyTick(benchmark::State& state) {
  LoopRig rig(false);
  for (auto _ : state) rig.form.Timer1.Tick();
}
BENCHMARK(BM_EmptyTick);

void BM_LoopTick(benchmark::State& state) {
  LoopRig rig(true);
  long ticks = 0;
  for (auto _ : state) {
    rig.Prime();
    rig.form.Timer1.Tick();
    // The fake records every call; forgetting them now and then keeps memory flat.
    if (++ticks % 1024 == 0) rig.line->ClearCalls();
  }
}
BENCHMARK(BM_LoopTick);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--ticks") == 0) {
    LoopRig rig(std::strcmp(argv[3], "loop") == 0);
    RunTicks(rig, std::atol(argv[2]));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
