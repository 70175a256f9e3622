#pragma once
// What the panel makes of the generator's status and telemetry replies: the frequency range
// a software release allows, the six telemetry displays, the DC power and the run-status lamp.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/protocol/Replies.h"

namespace app::protocol {

struct FrequencyRange {
  int32_t min;
  int32_t max;

  bool operator==(const FrequencyRange&) const = default;
};

// A release the panel knows. The frequency slider's maximum is set first, then its minimum,
// so a setter the slider refuses (minimum above maximum) leaves the other one in force.
struct ReleaseRule {
  Release release;
  FrequencyRange range;
  // Release 104 has no DC current measurement: the DC current bar and edit are disabled,
  // and nothing enables them again.
  bool disablesDcCurrent;
};

inline constexpr std::array<ReleaseRule, 4> kReleaseRules{{
    {{'1', '0', '2'}, {1750, 2850}, false},
    {{'1', '0', '4'}, {2200, 3000}, true},
    {{'1', '0', '5'}, {3800, 4500}, false},
    {{'1', '0', '6'}, {2600, 4000}, false},
}};

// Any other release leaves the frequency range as it stands.
std::optional<ReleaseRule> FindReleaseRule(const Release& release);

// The six telemetry displays, each a progress bar and the edit box beside it. The edit shows
// the bar's position as read back from the bar, which holds it within the bar's range.
enum class TelemetryId : uint8_t { dcCurrent, dcVoltage, dcPower, hfCurrent, regulator, phase };

inline constexpr std::size_t kTelemetryCount = 6;

struct TelemetryInfo {
  TelemetryId id;
  std::string_view caption;
  std::string_view bar;   // TProgressBar name
  std::string_view edit;  // TEdit name
  int32_t min;
  int32_t max;
  std::string_view format;
  int32_t divisor;  // as for the parameters: 100 shows position / 100 and position % 100
};

inline constexpr std::array<TelemetryInfo, kTelemetryCount> kTelemetry{{
    {TelemetryId::dcCurrent, "DC current", "PBac_current", "Eacc", 0, 1000, "%d.%02d A", 100},
    {TelemetryId::dcVoltage, "DC voltage", "PBreg", "Ereg", 0, 1000, "%d V", 1},
    {TelemetryId::dcPower, "DC power", "PBdc_power", "Edc_power", 0, 1500, "%d W", 1},
    {TelemetryId::hfCurrent, "HF current", "PBchf", "Echf", 0, 1000, "%d A", 1},
    {TelemetryId::regulator, "Regulator output", "PBfcor", "Efcor", 0, 1000, "%d Units", 1},
    {TelemetryId::phase, "Phase", "PBph", "Eph", 0, 1000, "%d Units", 1},
}};

constexpr const TelemetryInfo& Info(TelemetryId id) {
  return kTelemetry[static_cast<std::size_t>(id)];
}

constexpr bool TelemetryIsInIdOrder() {
  for (std::size_t i = 0; i < kTelemetry.size(); ++i) {
    if (static_cast<std::size_t>(kTelemetry[i].id) != i) return false;
  }
  return true;
}
static_assert(TelemetryIsInIdOrder(), "Info() indexes the telemetry table by TelemetryId");

// The edit text for a bar position: DC current 123 as "1.23 A", voltage 456 as "456 V".
std::string FormatTelemetry(TelemetryId id, int32_t position);

// DC power from the voltage and current bar positions as read back from the bars:
// voltage * current / 100 in integer arithmetic (999 and 999 give 9980; the power bar holds
// it to 1500). Saturates at the int32 limits rather than overflow.
int32_t DcPower(int32_t voltagePosition, int32_t currentPosition);

// Colours in the platform's 0x00BBGGRR form.
inline constexpr uint32_t kColourRed = 0x0000FF;
inline constexpr uint32_t kColourGreen = 0x008000;
inline constexpr uint32_t kColourBlack = 0x000000;
inline constexpr uint32_t kColourPurple = 0x800080;  // also the lamp's colour at start

// Position 10 of a valid DC reply: '0' gives red, '1' green, anything else black.
uint32_t RunStatusColour(char runStatus);
// The lamp for one DC telemetry reply: its run status, or purple when the reply was invalid.
uint32_t LampColour(const std::optional<DcTelemetry>& reply);

}  // namespace app::protocol
