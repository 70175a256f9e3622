#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

// Time on the simulator's own clock, counted from an arbitrary origin. The engine never
// reads a real clock; whoever drives it passes the time in.
using Micros = std::chrono::microseconds;

// The settings the drive electronics act on, in the generator's units (Hz, mA, ms,
// tenths of a percent, raw register values).
struct DriveSettings {
  int frequencyHz = 0;     // f
  int sweepHz = 0;         // s: fast sweep, half-width around the drive frequency
  int power = 0;           // p: DC bus set point, 0..1000 = 0..100 %
  int currentLimitMa = 0;  // y
  int pwmPeriodMs = 0;     // w
  int pwmRatio = 0;        // m: share of each PWM period the output is on, %
  int fswmPeriodMs = 0;    // a: slow frequency-sweep modulation period
  int fswmRatio = 0;       // b: rising share of that period, %
  int fswmRangeHz = 0;     // c: peak-to-peak range of the slow sweep
  int qFactor = 0;         // q: slows the resonance tracker (loop filter)
  int correction = 0;      // v: strength of the resonance tracker, 0 = off
  int amplification = 0;   // g: output stage gain, 128 = unity
  int usPower = 0;         // t: ultrasonic amplitude, 0..999 per mille
};

// The six telemetry fields as the generator sends them, each 0..999.
struct Telemetry {
  int dcCurrent = 0;  // 10 mA units (the panel shows 1.23 A for 123)
  int dcVoltage = 0;  // V
  bool running = false;
  int hfCurrent = 0;  // 10 mA units
  int regulator = 0;  // resonance tracker output, 500 = no correction, 2 Hz a unit
  int phase = 0;      // 500 at resonance, 0 and 999 at -90 and +90 degrees
};

// A piezo transducer on a half-bridge inverter. The transducer is a series resonator
// (motional resistance, mass and compliance; its parallel capacitance is taken as tuned
// out by the matching inductor) whose resonance drops as it warms under load. The
// inverter runs from a DC bus set by the power setting, is gated by the PWM, folds back
// at the current limit, and a tracker pulls the drive frequency towards resonance.
class TransducerModel {
 public:
  TransducerModel(double resonanceHz, std::uint64_t seed, Micros origin);

  // Moves the slow state (temperature, tracker) forward to now under these settings.
  // Earlier times than the last one are ignored.
  void Advance(Micros now, const DriveSettings& settings, bool running);

  // The telemetry as the meters show it at now; call Advance(now, ...) first.
  Telemetry Sample(Micros now, const DriveSettings& settings, bool running) const;

  // Resonance of the cold transducer, and as it stands now with its temperature.
  double ColdResonanceHz() const { return resonance0_; }
  double ResonanceHz() const;
  double TemperatureRise() const { return tempRise_; }

 private:
  struct Operating {
    double busVolts = 0;
    double dcAmps = 0;
    double hfAmps = 0;
    double phaseRad = 0;
    double watts = 0;
    double centreHz = 0;  // drive frequency before the tracker's correction
  };
  Operating Solve(double seconds, const DriveSettings& s) const;
  void Step(double seconds, double dt, const DriveSettings& s, bool running);

  double resonance0_;
  double loadPhase_;
  Micros origin_;
  Micros last_;
  double tempRise_ = 0.0;      // kelvin above ambient
  double correctionHz_ = 0.0;  // tracker output added to the drive frequency
};

}  // namespace sim
