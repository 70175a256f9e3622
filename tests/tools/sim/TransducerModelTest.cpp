#include "tools/sim/TransducerModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "tools/sim/GeneratorModel.h"

namespace sim {
namespace {

using namespace std::chrono_literals;

constexpr Micros kStart{0};

// The generator's own starting settings, with the tracker and both sweeps off so that a
// sample shows the transducer itself.
DriveSettings Plain() {
  DriveSettings s = GeneratorModel(106, 1, kStart).Settings();
  s.correction = 0;
  s.sweepHz = 0;
  s.fswmRangeHz = 0;
  return s;
}

TEST(TransducerModel, HfCurrentPeaksAtResonanceAndPhaseFollowsTheDetuning) {
  TransducerModel m(33000.0, 1, kStart);
  Micros at = 3s;
  m.Advance(at, Plain(), true);
  double fr = m.ResonanceHz();

  int bestHz = 0;
  int bestHf = -1;
  int lastPhase = -1;
  for (int f = 31000; f <= 35000; f += 10) {
    DriveSettings s = Plain();
    s.frequencyHz = f;
    Telemetry t = m.Sample(at, s, true);
    if (t.hfCurrent > bestHf) {
      bestHf = t.hfCurrent;
      bestHz = f;
    }
    EXPECT_GE(t.phase, lastPhase) << f;  // phase rises steadily through resonance
    lastPhase = t.phase;
    if (f < fr - 50) {
      EXPECT_LT(t.phase, 500) << f;
    } else if (f > fr + 50) {
      EXPECT_GT(t.phase, 500) << f;
    }
  }
  EXPECT_NEAR(bestHz, fr, 20.0);
  DriveSettings far = Plain();
  far.frequencyHz = 31000;
  EXPECT_LT(m.Sample(at, far, true).hfCurrent, bestHf / 4);
}

TEST(TransducerModel, DcSideFollowsPowerPwmAndCurrentLimit) {
  TransducerModel m(33000.0, 1, kStart);
  Micros at = 1s;
  auto sample = [&](auto change) {
    DriveSettings s = Plain();
    s.frequencyHz = 33000;
    change(s);
    return m.Sample(at, s, true);
  };
  auto low = sample([](DriveSettings& s) { s.power = 300; });
  auto high = sample([](DriveSettings& s) { s.power = 600; });
  EXPECT_GT(high.dcVoltage, low.dcVoltage);
  EXPECT_GT(high.dcCurrent, low.dcCurrent);
  EXPECT_GT(high.hfCurrent, low.hfCurrent);

  auto half = sample([](DriveSettings& s) { s.pwmRatio = 50; });
  auto full = sample([](DriveSettings& s) { s.pwmRatio = 100; });
  auto off = sample([](DriveSettings& s) { s.pwmRatio = 0; });
  EXPECT_NEAR(half.dcCurrent * 2.0, full.dcCurrent, 2.0);
  EXPECT_NEAR(half.hfCurrent * 2.0, full.hfCurrent, 2.0);
  EXPECT_EQ(off.dcCurrent, 0);
  EXPECT_GT(off.dcVoltage, 0);  // the bus stays charged between bursts

  // Driven hard, the output folds back until the DC current sits on the limit.
  for (int limitMa : {2000, 3500}) {
    auto limited = sample([&](DriveSettings& s) {
      s.power = 1000;
      s.amplification = 255;
      s.usPower = 999;
      s.pwmRatio = 100;
      s.currentLimitMa = limitMa;
    });
    EXPECT_EQ(limited.dcCurrent, limitMa / 10);
  }
}

TEST(TransducerModel, TrackerPullsTheDriveTowardsResonance) {
  auto phaseAfter = [](int correction, int* regulator) {
    TransducerModel m(33000.0, 1, kStart);
    DriveSettings s = Plain();
    s.frequencyHz = 32800;
    s.correction = correction;
    m.Advance(5s, s, true);
    Telemetry t = m.Sample(5s, s, true);
    *regulator = t.regulator;
    return std::abs(t.phase - 500);
  };
  int regOff = 0;
  int regOn = 0;
  int untracked = phaseAfter(0, &regOff);
  int tracked = phaseAfter(255, &regOn);
  EXPECT_EQ(regOff, 500);
  EXPECT_GT(regOn, 550);  // drive below resonance: the tracker adds frequency
  EXPECT_LT(tracked, untracked / 3);
}

TEST(TransducerModel, ValuesMoveSmoothlyAndWarmUpLowersTheResonance) {
  TransducerModel m(33000.0, 9, kStart);
  DriveSettings s = GeneratorModel(106, 9, kStart).Settings();
  s.frequencyHz = 32900;
  Telemetry last = m.Sample(kStart, s, true);
  bool moved = false;
  for (Micros at = 100ms; at <= 60s; at += 100ms) {
    m.Advance(at, s, true);
    Telemetry t = m.Sample(at, s, true);
    if (at > 1s) {
      EXPECT_LE(std::abs(t.dcCurrent - last.dcCurrent), 25) << at.count();
      EXPECT_LE(std::abs(t.hfCurrent - last.hfCurrent), 40) << at.count();
      EXPECT_LE(std::abs(t.phase - last.phase), 40) << at.count();
      EXPECT_LE(std::abs(t.regulator - last.regulator), 40) << at.count();
    }
    moved = moved || t.phase != last.phase;
    last = t;
  }
  EXPECT_TRUE(moved);
  EXPECT_GT(m.TemperatureRise(), 1.0);
  EXPECT_LT(m.ResonanceHz(), m.ColdResonanceHz());

  // Stopped, it cools down again.
  double warm = m.TemperatureRise();
  m.Advance(200s, s, false);
  EXPECT_LT(m.TemperatureRise(), warm / 2);
  Telemetry stopped = m.Sample(200s, s, false);
  EXPECT_FALSE(stopped.running);
  EXPECT_EQ(
      stopped.dcCurrent + stopped.dcVoltage + stopped.hfCurrent + stopped.regulator + stopped.phase,
      0);
}

}  // namespace
}  // namespace sim
