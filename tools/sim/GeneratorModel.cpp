#include "tools/sim/GeneratorModel.h"

#include <cstdio>

namespace sim {
namespace {

constexpr char kReplyAddress[] = "#02";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A little spread between transducers: the same seed gives the same one.
double Spread(std::uint64_t seed) {
  std::uint64_t z = seed + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<double>(z % 1001) / 1000.0 - 0.5;  // -0.5 .. 0.5
}

double ResonanceFor(int release, std::uint64_t seed) {
  auto range = GeneratorModel::RangeOf(release);
  double width = range.maxHz - range.minHz;
  return range.minHz + 0.55 * width + 0.04 * width * Spread(seed);
}

std::string ValueReply(char letter, int value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s%c%02d.%03d\r", kReplyAddress, letter, value / 1000,
                value % 1000);
  return buf;
}

// The value field of a SetFrame: two digits, '.', three digits, nothing after.
std::optional<int> ParseSetValue(std::string_view text) {
  if (text.size() != 6 || text[2] != '.') return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == 2) continue;
    if (!IsDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

GeneratorModel::GeneratorModel(int release, std::uint64_t seed, Micros origin)
    : release_(release), transducer_(ResonanceFor(release, seed), seed, origin) {
  // Settings of the generator's own, all different from where the panel's sliders start,
  // so that reading them back visibly moves the panel. The drive frequency sits a little
  // below the transducer's resonance, where the tracker has work to do.
  auto range = RangeOf(release);
  int freq = static_cast<int>(transducer_.ColdResonanceHz() - 150.0) / 10 * 10;
  if (freq == 30000) freq -= 20;
  if (freq < range.minHz) freq = range.minHz + 10;
  Slot('f') = freq;
  Slot('s') = 60;
  Slot('p') = 650;
  Slot('y') = 3500;
  Slot('w') = 40;  // five periods per meter window: the meters read a steady mean
  Slot('m') = 80;
  Slot('c') = 150;
  Slot('b') = 40;
  Slot('a') = 4000;
  Slot('q') = 60;
  Slot('v') = 128;
  Slot('g') = 140;
  Slot('t') = 420;
  stored_ = values_;
}

std::optional<int> GeneratorModel::OwnerOf(char letter) {
  if (letter == 'p' || letter == 'y') return 3;
  if (letter != '\0' && kLetters.find(letter) != std::string_view::npos) return 1;
  return std::nullopt;
}

GeneratorModel::FrequencyRange GeneratorModel::RangeOf(int release) {
  switch (release) {
    case 102:
      return {17500, 28500};
    case 104:
      return {22000, 30000};
    case 105:
      return {38000, 45000};
    case 106:
      return {26000, 40000};
    default:
      return {25000, 45000};
  }
}

std::optional<int> GeneratorModel::Value(char letter) const {
  if (!OwnerOf(letter)) return std::nullopt;
  return Get(letter);
}

std::optional<int> GeneratorModel::StoredValue(char letter) const {
  if (!OwnerOf(letter)) return std::nullopt;
  return stored_[kLetters.find(letter)];
}

bool GeneratorModel::UnitRunning(int unit) const {
  return unit == 1 ? running_[0] : unit == 3 ? running_[1] : false;
}

DriveSettings GeneratorModel::Settings() const {
  DriveSettings s;
  s.frequencyHz = Get('f');
  s.sweepHz = Get('s');
  s.power = Get('p');
  s.currentLimitMa = Get('y');
  s.pwmPeriodMs = Get('w');
  s.pwmRatio = Get('m');
  s.fswmPeriodMs = Get('a');
  s.fswmRatio = Get('b');
  s.fswmRangeHz = Get('c');
  s.qFactor = Get('q');
  s.correction = Get('v');
  s.amplification = Get('g');
  s.usPower = Get('t');
  return s;
}

Telemetry GeneratorModel::Read(Micros now) {
  transducer_.Advance(now, Settings(), Running());
  return transducer_.Sample(now, Settings(), Running());
}

GeneratorModel::Outcome GeneratorModel::Handle(std::string_view line, Micros now) {
  // Noise in front of a frame is skipped: a frame starts at its last start character.
  auto start = line.find_last_of("#%@");
  if (start == std::string_view::npos) return {};
  std::string_view frame = line.substr(start);
  if (frame.size() < 4 || !IsDigit(frame[1]) || !IsDigit(frame[2])) return {};
  int unit = (frame[1] - '0') * 10 + (frame[2] - '0');
  if (unit != 1 && unit != 3) return {};
  std::size_t unitIndex = unit == 1 ? 0 : 1;

  // Whatever happens next happens at now: the transducer lives through the time up to
  // this frame with the settings it had.
  transducer_.Advance(now, Settings(), Running());

  Outcome out;
  char letter = frame[3];
  switch (frame[0]) {
    case '#': {
      auto value = ParseSetValue(frame.substr(4));
      if (OwnerOf(letter) != unit || !value) return {};
      Slot(letter) = *value;
      out.understood = true;
      break;
    }
    case '%': {
      if (frame.size() != 4) return {};
      char buf[32];
      if (letter == '?' && unit == 3) {
        Telemetry t = Read(now);
        std::snprintf(buf, sizeof buf, "%s?%03d%03d%c\r", kReplyAddress, t.dcCurrent, t.dcVoltage,
                      t.running ? '1' : '0');
        out.reply = buf;
      } else if (letter == '&' && unit == 1) {
        Telemetry t = Read(now);
        std::snprintf(buf, sizeof buf, "%s&%03d%03d%03d\r", kReplyAddress, t.hfCurrent, t.regulator,
                      t.phase);
        out.reply = buf;
      } else if (OwnerOf(letter) == unit) {
        out.reply = ValueReply(letter, Get(letter));
      } else {
        return {};
      }
      out.understood = true;
      break;
    }
    case '@': {
      std::string_view word = frame.substr(3);
      if (word == "SR" && unit == 1) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%sSR%03d\r", kReplyAddress, release_);
        out.reply = buf;
      } else if (word == "wr") {
        for (std::size_t i = 0; i < kCount; ++i) {
          if (OwnerOf(kLetters[i]) == unit) stored_[i] = values_[i];
        }
      } else if (word == "start") {
        running_[unitIndex] = true;
      } else if (word == "stop") {
        running_[unitIndex] = false;
      } else {
        return {};
      }
      out.understood = true;
      break;
    }
    default:
      return {};
  }
  return out;
}

}  // namespace sim
