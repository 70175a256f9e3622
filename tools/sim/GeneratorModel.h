#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/sim/TransducerModel.h"

namespace sim {

// The generator's two controller units as the line sees them: thirteen stored settings,
// a saved copy of them, the run state of each unit, and the transducer they drive.
class GeneratorModel {
 public:
  // The parameter letters; 'p' and 'y' belong to unit 03, the rest to unit 01.
  static constexpr std::string_view kLetters = "fswmcbaqvgtpy";

  struct FrequencyRange {
    int minHz;
    int maxHz;
  };

  struct Outcome {
    bool understood = false;  // a well-formed frame for a unit that knows it
    std::optional<std::string> reply;
  };

  GeneratorModel(int release, std::uint64_t seed, Micros origin);

  // Acts on one received line (without its CR) at time now.
  Outcome Handle(std::string_view line, Micros now);

  // The unit (1 or 3) that owns a parameter letter, or nothing for other letters.
  static std::optional<int> OwnerOf(char letter);
  // The drive frequencies a release is built for; other releases get 25..45 kHz.
  static FrequencyRange RangeOf(int release);

  std::optional<int> Value(char letter) const;
  std::optional<int> StoredValue(char letter) const;  // as of the unit's last "wr"
  bool UnitRunning(int unit) const;
  // The output runs only while both units run: unit 01 makes the drive signal, unit 03
  // powers the output stage.
  bool Running() const { return running_[0] && running_[1]; }
  int Release() const { return release_; }

  // Telemetry at now, moving the transducer's state forward to it.
  Telemetry Read(Micros now);
  const TransducerModel& Transducer() const { return transducer_; }
  DriveSettings Settings() const;

 private:
  static constexpr std::size_t kCount = kLetters.size();
  int& Slot(char letter) { return values_[kLetters.find(letter)]; }
  int Get(char letter) const { return values_[kLetters.find(letter)]; }

  int release_;
  TransducerModel transducer_;
  std::array<int, kCount> values_{};
  std::array<int, kCount> stored_{};
  std::array<bool, 2> running_{};  // units 01 and 03
};

}  // namespace sim
