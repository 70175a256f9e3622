#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Telemetry.h"
#include "serial/ComThread.h"
#include "tests/e2e/SimRig.h"
#include "tools/sim/Trace.h"

namespace app::test {
namespace {

using protocol::ParamId;

// What step 16 leaves in a parameter read back as `value`: the slider takes the nearest position
// it holds, and if that moved it, its handler stores the position's value.
int32_t ShownValue(const TMainForm& form, ParamId id, int32_t value, int32_t before) {
  const TTrackBar& slider = form.Slider(id);
  const int32_t position =
      std::clamp(protocol::PositionFromValue(id, value), slider.Min(), slider.Max());
  return position == before ? value : protocol::ValueFromPosition(id, position);
}

TEST(PanelAgainstSimulator, StartupPassShowsTheGeneratorsValues) {
  sim::Options options;
  options.trace = true;
  SimRig rig(options);
  std::vector<int32_t> before;
  for (const auto& p : protocol::kParameters) before.push_back(rig.form.Slider(p.id).Position());

  rig.Connect();
  // The port's event thread waits for all ten events and has no handler to give them to: what
  // arrives stays queued for the cycle's reads.
  ASSERT_TRUE(rig.form.CP.ThreadCreated());
  EXPECT_EQ(rig.form.CP.Events, serial::kAllComEvents);
  rig.Ticks(18);
  ASSERT_TRUE(rig.errors.empty());
  EXPECT_FALSE(rig.form.CP.EventThread()->Finished());
  EXPECT_EQ(rig.form.Lsr.Caption(), "SR106");
  for (const auto& p : protocol::kParameters) {
    const int32_t value = *rig.line->generator.Model().Value(p.letter);
    const int32_t shown = ShownValue(rig.form, p.id, value, before[static_cast<size_t>(p.id)]);
    EXPECT_EQ(rig.form.ParamEdit(p.id).Text(), protocol::FormatValue(p.id, shown)) << p.slider;
    EXPECT_NE(rig.form.Slider(p.id).Position(), p.initial) << p.slider << " did not move";
  }
  // A service engineer's view of the pass.
  for (const auto& record : rig.line->generator.TakeTrace()) {
    std::cout << sim::FormatTrace(record, sim::Micros{0}) << '\n';
  }

  rig.TakeFrames();
  rig.Ticks(12);
  for (const std::string& frame : rig.TakeFrames()) {
    EXPECT_NE(frame[0], '#') << "the read-back values went back to the generator: " << frame;
  }
}

// A generator that never answers: nothing it did not send is shown as its value.
TEST(PanelAgainstSimulator, SilentGeneratorLeavesEveryValueWaiting) {
  sim::Options options;
  options.dropRate = 1.0;
  SimRig rig(options);
  rig.Connect();
  rig.Ticks(26);
  EXPECT_TRUE(rig.errors.empty());
  EXPECT_EQ(rig.form.Lsr.Caption(), "Unknown");
  for (const auto& p : protocol::kParameters) {
    EXPECT_EQ(rig.form.ParamEdit(p.id).Text(), "waiting.......") << p.slider;
    EXPECT_EQ(rig.form.Slider(p.id).Position(), p.initial) << p.slider;
  }
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourPurple);
  for (const std::string& frame : rig.TakeFrames()) EXPECT_NE(frame[0], '#') << frame;
}

TEST(PanelAgainstSimulator, EveryReleaseFitsTheFrequencySlider) {
  const struct {
    int release;
    int32_t min, max;
  } cases[] = {{102, 1750, 2850},
               {104, 2200, 3000},
               {105, 3800, 4500},
               {106, 2600, 4000},
               {199, 2500, 4500}};
  for (const auto& c : cases) {
    sim::Options options;
    options.release = c.release;
    SimRig rig(options);
    rig.Connect();
    rig.Ticks(3);
    EXPECT_EQ(rig.form.Lsr.Caption(), "SR" + std::to_string(c.release));
    EXPECT_EQ(rig.form.Slider(ParamId::freq).Min(), c.min) << c.release;
    EXPECT_EQ(rig.form.Slider(ParamId::freq).Max(), c.max) << c.release;
    EXPECT_EQ(rig.form.Eacc.Enabled(), c.release != 104);
    EXPECT_EQ(rig.form.PBac_current.Enabled(), c.release != 104);
  }
}

TEST(PanelAgainstSimulator, OperatorChangesReachTheGeneratorOnceInFlushOrder) {
  SimRig rig;
  rig.Connect();
  rig.Ticks(10);
  rig.form.Slider(ParamId::qf).OperatorNotify(99);  // during the pass: dropped at step 17
  rig.Ticks(8);
  rig.TakeFrames();

  rig.form.Slider(ParamId::clim).OperatorNotify(4000);
  rig.form.Slider(ParamId::pwmr).OperatorNotify(20);
  rig.form.Slider(ParamId::pwmr).OperatorNotify(25);
  rig.Ticks(4);
  EXPECT_EQ(rig.TakeFrames(), (std::vector<std::string>{"#01m00.025\r", "#03y04.000\r", "%03?\r",
                                                        "%01&\r", "%03?\r"}));
  const auto& model = rig.line->generator.Model();
  EXPECT_EQ(*model.Value('m'), 25);
  EXPECT_EQ(*model.Value('y'), 4000);
  EXPECT_NE(*model.Value('q'), 99);
}

TEST(PanelAgainstSimulator, StartStopAndTheLamp) {
  SimRig rig;
  rig.Connect();
  rig.Ticks(22);
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourRed);  // stopped
  EXPECT_EQ(rig.form.Edc_power.Text(), "0 W");

  rig.form.Button4.Click();  // Start, to both units
  rig.Ticks(8);
  EXPECT_TRUE(rig.line->generator.Model().Running());
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourGreen);
  EXPECT_NE(rig.form.Echf.Text(), "0 A");

  rig.form.Button3.Click();  // Write: the generator keeps a stored copy
  rig.form.Button5.Click();  // Stop
  rig.Ticks(8);
  EXPECT_FALSE(rig.line->generator.Model().Running());
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourRed);
  EXPECT_EQ(rig.line->generator.Model().StoredValue('f'), rig.line->generator.Model().Value('f'));
  EXPECT_TRUE(rig.errors.empty());
}

// Faults from the line: a lost or spoiled reply only means that value is not updated this pass.
TEST(PanelAgainstSimulator, FaultyRepliesAreHeldNeverShownAsErrors) {
  const char* faults[] = {"drop", "split", "garbage", "wrong-address"};
  for (const char* fault : faults) {
    sim::Options options;
    options.seed = 7;
    const std::string f = fault;
    (f == "drop"      ? options.dropRate
     : f == "split"   ? options.splitRate
     : f == "garbage" ? options.garbageRate
                      : options.wrongAddressRate) = 0.3;
    SimRig rig(options);
    rig.Connect();
    rig.Ticks(18);
    rig.form.Button4.Click();
    rig.Ticks(60);
    EXPECT_TRUE(rig.errors.empty()) << fault;
    EXPECT_TRUE(rig.form.CP.Connected()) << fault;
    // Whatever got through is a value the formats can produce, never a broken text.
    for (const auto& p : protocol::kParameters) {
      const std::string text = rig.form.ParamEdit(p.id).Text();
      EXPECT_TRUE(text == "waiting......." || text.find_first_of("0123456789") == 0) << text;
    }
    const uint32_t lamp = rig.form.Sh.BrushColor();
    EXPECT_TRUE(lamp == protocol::kColourGreen || lamp == protocol::kColourPurple ||
                lamp == protocol::kColourBlack)
        << fault << " lamp " << lamp;
  }
}

// The cable is pulled while the generator runs: one error, the lamp purple from the moment the
// port is released (the values shown are old), the cycle frozen; after a reconnect the cycle
// resumes where it was and the lamp waits for the new generator's first status reply.
TEST(PanelAgainstSimulator, HangUpShowsOneErrorAndReconnectResumes) {
  sim::Options options;
  // The start-up pass and one round (17 frames), Start to both units (2), one more round (3).
  options.hangupAfter = 22;
  SimRig rig(options);
  rig.Connect();
  rig.Ticks(22);
  rig.form.Button4.Click();
  rig.Ticks(3);  // steps 18 to 20: the status reply says running
  ASSERT_EQ(rig.form.Sh.BrushColor(), protocol::kColourGreen);
  const std::string shownPower = rig.form.Edc_power.Text();

  // The line carries a few more frames; the read after the last one finds it gone.
  for (int i = 0; i < 8 && rig.form.CP.Connected(); ++i) rig.Tick();
  EXPECT_EQ(rig.errors, std::vector<int>{serial::ecode::kReadFile});
  EXPECT_FALSE(rig.form.CP.Connected());
  EXPECT_TRUE(rig.form.Lcpb.Visible());
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourPurple);
  EXPECT_EQ(rig.form.Edc_power.Text(), shownPower);
  const int8_t frozen = rig.form.ExchangeStep;
  rig.Ticks(5);
  EXPECT_EQ(rig.form.ExchangeStep, frozen);
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourPurple);
  EXPECT_EQ(rig.errors.size(), 1u);

  rig.NewLine({});  // the cable is back, to a generator that has not been started
  rig.Connect();
  rig.Ticks(2);
  EXPECT_TRUE(rig.form.CP.Connected());
  EXPECT_FALSE(rig.form.Lcpb.Visible());
  EXPECT_EQ(rig.form.ExchangeStep, protocol::NextExchangeStep(protocol::NextExchangeStep(frozen)));
  // Only the new generator's status reply takes the lamp off purple.
  int8_t turnedAt = -1;
  for (int i = 0; i < 8 && rig.form.Sh.BrushColor() == protocol::kColourPurple; ++i) {
    turnedAt = rig.form.ExchangeStep;
    rig.Tick();
  }
  EXPECT_EQ(turnedAt, protocol::kFirstLoopStep + 2);
  EXPECT_EQ(rig.form.Sh.BrushColor(), protocol::kColourRed);
  EXPECT_EQ(rig.errors.size(), 1u);
}

}  // namespace
}  // namespace app::test
