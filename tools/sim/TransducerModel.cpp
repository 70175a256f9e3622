#include "tools/sim/TransducerModel.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Transducer and load.
constexpr double kLoadedQ = 120.0;         // half-power bandwidth about fr / 120
constexpr double kMotionalOhms = 25.0;     // at resonance, under a typical load
constexpr double kTempCoefficient = 1e-4;  // resonance falls 0.01 % per kelvin
constexpr double kKelvinPerWatt = 0.05;    // steady temperature rise per watt delivered
constexpr double kThermalSeconds = 30.0;

// Drive electronics.
constexpr double kFullBusVolts = 400.0;  // DC bus at power 1000
constexpr double kSourceOhms = 1.5;      // bus sags under load
constexpr double kEfficiency = 0.9;
constexpr double kTrackerAuthorityHz = 998.0;  // the tracker's output spans 2..998 units

// The meters average over this window, so a fast PWM reads as its mean and a slow one
// is seen pulsing.
constexpr double kMeterSeconds = 0.2;
constexpr double kStepSeconds = 0.01;
constexpr double kLongestGapSeconds = 600.0;  // everything has settled long before this

double Clamp(double v, double lo, double hi) {
  return std::min(std::max(v, lo), hi);
}

int Field(double v) {
  return static_cast<int>(std::lround(Clamp(v, 0.0, 999.0)));
}

// Time the output has been on during [0, t] for a PWM of this period and duty.
double OnTime(double t, double period, double duty) {
  double cycles = std::floor(t / period);
  return cycles * duty * period + std::min(t - cycles * period, duty * period);
}

double PwmMeterAverage(double t, int periodMs, int ratio) {
  double duty = Clamp(ratio / 100.0, 0.0, 1.0);
  if (periodMs <= 0) return duty;
  double period = periodMs / 1000.0;
  return (OnTime(t, period, duty) - OnTime(t - kMeterSeconds, period, duty)) / kMeterSeconds;
}

// Offset of the slow frequency-sweep modulation: a triangle spanning the range, rising for
// the ratio's share of the period and falling for the rest.
double FswmOffsetHz(double t, int periodMs, int ratio, int rangeHz) {
  if (periodMs <= 0 || rangeHz == 0) return 0.0;
  double period = periodMs / 1000.0;
  double u = t / period - std::floor(t / period);
  double rise = Clamp(ratio / 100.0, 0.0, 1.0);
  double tri;
  if (rise <= 0.0) {
    tri = 1.0 - u;
  } else if (rise >= 1.0) {
    tri = u;
  } else {
    tri = u < rise ? u / rise : (1.0 - u) / (1.0 - rise);
  }
  return rangeHz * (tri - 0.5);
}

// With x the normalised detuning 2Q(f - fr)/fr, the series resonator's current goes as
// 1/sqrt(1+x^2), its power factor times admittance as 1/(1+x^2) and its phase as atan x.
// The fast sweep spreads x over [x-a, x+a] much quicker than the meters follow, so the
// meters show the means over that span, which have closed forms.
struct Response {
  double current;
  double power;
  double phase;
};

Response SweptResponse(double x, double a) {
  if (a < 1e-6) return {1.0 / std::sqrt(1.0 + x * x), 1.0 / (1.0 + x * x), std::atan(x)};
  auto phaseIntegral = [](double u) { return u * std::atan(u) - 0.5 * std::log1p(u * u); };
  double span = 2.0 * a;
  return {(std::asinh(x + a) - std::asinh(x - a)) / span,
          (std::atan(x + a) - std::atan(x - a)) / span,
          (phaseIntegral(x + a) - phaseIntegral(x - a)) / span};
}

}  // namespace

TransducerModel::TransducerModel(double resonanceHz, std::uint64_t seed, Micros origin)
    : resonance0_(resonanceHz),
      loadPhase_(kTwoPi * static_cast<double>(seed % 1000) / 1000.0),
      origin_(origin),
      last_(origin) {}

double TransducerModel::ResonanceHz() const {
  return resonance0_ * (1.0 - kTempCoefficient * tempRise_);
}

TransducerModel::Operating TransducerModel::Solve(double t, const DriveSettings& s) const {
  Operating op;
  double gate = PwmMeterAverage(t, s.pwmPeriodMs, s.pwmRatio);
  op.centreHz = s.frequencyHz + FswmOffsetHz(t, s.fswmPeriodMs, s.fswmRatio, s.fswmRangeHz);
  double fr = ResonanceHz();
  double driveHz = op.centreHz + correctionHz_;
  // The process load breathes slowly, which moves the motional resistance a little.
  double rm = kMotionalOhms * (1.0 + 0.06 * std::sin(kTwoPi * t / 7.3 + loadPhase_) +
                               0.03 * std::sin(kTwoPi * t / 2.9 + 2.0 * loadPhase_));
  Response r = SweptResponse(2.0 * kLoadedQ * (driveHz - fr) / fr,
                             2.0 * kLoadedQ * std::max(0, s.sweepHz) / fr);

  double bus = kFullBusVolts * Clamp(s.power, 0, 1000) / 1000.0;
  double amplitude =
      bus * Clamp(s.amplification, 0, 255) / 128.0 * Clamp(s.usPower, 0, 999) / 999.0;
  double hfOn = amplitude / rm * r.current;
  op.watts = gate * amplitude * amplitude / (2.0 * rm) * r.power;
  op.dcAmps = bus > 0.0 ? op.watts / (kEfficiency * bus) : 0.0;
  // At the current limit the inverter lowers its amplitude until the DC current sits on
  // the limit; power goes with the square of the amplitude.
  double limit = std::max(0, s.currentLimitMa) / 1000.0;
  if (op.dcAmps > limit) {
    double k = limit / op.dcAmps;
    op.watts *= k;
    op.dcAmps = limit;
    hfOn *= std::sqrt(k);
  }
  op.busVolts = std::max(0.0, bus - kSourceOhms * op.dcAmps);
  op.hfAmps = gate * hfOn;
  op.phaseRad = r.phase;
  return op;
}

void TransducerModel::Step(double t, double dt, const DriveSettings& s, bool running) {
  double heatTarget = 0.0;
  if (running) {
    Operating op = Solve(t, s);
    heatTarget = op.watts * kKelvinPerWatt;
    // A tracker of loop gain k leaves 1/(1+k) of the detuning; the Q factor setting slows
    // it down.
    double k = Clamp(s.correction, 0, 255) / 32.0;
    double target = Clamp(-(op.centreHz - ResonanceHz()) * k / (1.0 + k), -kTrackerAuthorityHz,
                          kTrackerAuthorityHz);
    double tau = 0.01 * (Clamp(s.qFactor, 0, 255) + 1.0);
    correctionHz_ += (target - correctionHz_) * -std::expm1(-dt / tau);
  } else {
    correctionHz_ = 0.0;
  }
  tempRise_ += (heatTarget - tempRise_) * -std::expm1(-dt / kThermalSeconds);
}

void TransducerModel::Advance(Micros now, const DriveSettings& settings, bool running) {
  if (now <= last_) return;
  double gap = std::chrono::duration<double>(now - last_).count();
  double t = std::chrono::duration<double>(last_ - origin_).count();
  if (gap > kLongestGapSeconds) {
    t += gap - kLongestGapSeconds;
    gap = kLongestGapSeconds;
  }
  while (gap > 0.0) {
    double dt = std::min(kStepSeconds, gap);
    t += dt;
    gap -= dt;
    Step(t, dt, settings, running);
  }
  last_ = now;
}

Telemetry TransducerModel::Sample(Micros now, const DriveSettings& settings, bool running) const {
  Telemetry out;
  if (!running) return out;
  Operating op = Solve(std::chrono::duration<double>(now - origin_).count(), settings);
  out.running = true;
  out.dcCurrent = Field(op.dcAmps * 100.0);
  out.dcVoltage = Field(op.busVolts);
  out.hfCurrent = Field(op.hfAmps * 100.0);
  out.regulator = Field(500.0 + correctionHz_ / 2.0);
  out.phase = Field(500.0 + 499.0 * op.phaseRad / (std::numbers::pi / 2.0));
  return out;
}

}  // namespace sim
