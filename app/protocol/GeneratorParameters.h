#pragma once
// The thirteen adjustable generator settings as one table: where each sits on the window,
// the letter and unit it travels under, how a slider position becomes a value in the
// generator's units and back, and how the value is shown beside its slider.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/protocol/Frames.h"

namespace app::protocol {

// In table order; kParameters is indexed by it.
enum class ParamId : uint8_t {
  freq,
  sweep,
  power,
  clim,
  pwmp,
  pwmr,
  fss,
  fsr,
  fsp,
  qf,
  fs,
  gf,
  usp
};

inline constexpr std::size_t kParameterCount = 13;

struct ParameterInfo {
  ParamId id;
  std::string_view caption;  // the title label above the slider
  std::string_view page;     // the tab page's caption
  std::string_view slider;   // TTrackBar name
  std::string_view edit;     // TEdit name
  int32_t min;
  int32_t max;
  int32_t initial;        // slider position when the window is built
  int32_t tickFrequency;  // tick marks are drawn at the two ends only; this is the spacing
  char letter;            // of its SetFrame, QueryFrame and ReplyFrame
  int unit;               // 1 or 3
  int32_t scale;          // value = position * scale; only the frequency steps by 10 Hz
  std::string_view format;
  int32_t divisor;  // the format shows value / divisor and value % divisor (1: the value)
};

// Values are in the generator's units: Hz, mA, ms, tenths of a percent, or plain counts.
inline constexpr std::array<ParameterInfo, kParameterCount> kParameters{{
    {ParamId::freq, "Frequency DDS", "DDS", "TBfreq", "Efreq", 2500, 4500, 3000, 1, 'f', kUnit01,
     10, "%d.%03d kHz", 1000},
    {ParamId::sweep, "Sweeping", "DDS", "TBsweep", "Esweep", 0, 1000, 30, 1, 's', kUnit01, 1,
     "%d.%03d kHz", 1000},
    {ParamId::power, "Power", "Power", "TBpower", "Epower", 0, 1000, 500, 1, 'p', kUnit03, 1,
     "%d.%01d %", 10},
    {ParamId::clim, "MAX Current", "Power", "TBclim", "Eclim", 2000, 5000, 2000, 10, 'y', kUnit03,
     1, "%d.%03d A", 1000},
    {ParamId::pwmp, "PWM period", "Power", "TBpwmp", "Epwmp", 10, 10000, 100, 1, 'w', kUnit01, 1,
     "%d.%03d s", 1000},
    {ParamId::pwmr, "PWM ratio", "Power", "TBpwmr", "Epwmr", 0, 100, 50, 1, 'm', kUnit01, 1, "%d %",
     1},
    {ParamId::fss, "FSWM range", "FSWM", "TBfss", "Efss", 0, 1000, 30, 1, 'c', kUnit01, 1,
     "%d.%03d kHz", 1000},
    {ParamId::fsr, "FSWM ratio", "FSWM", "TBfsr", "Efsr", 0, 100, 50, 1, 'b', kUnit01, 1, "%d %",
     1},
    {ParamId::fsp, "FSWM period", "FSWM", "TBfsp", "Efsp", 10, 10000, 100, 1, 'a', kUnit01, 1,
     "%d.%03d s", 1000},
    {ParamId::qf, "Q factor", "DMMM", "TBqf", "Eqf", 0, 255, 30, 1, 'q', kUnit01, 1, "%d", 1},
    {ParamId::fs, "Frequency correction", "DMMM", "TBfs", "Efs", 0, 255, 50, 1, 'v', kUnit01, 1,
     "%d", 1},
    {ParamId::gf, "Amplificatition factor", "DMMM", "TBgf", "Egf", 0, 255, 100, 1, 'g', kUnit01, 1,
     "%d", 1},
    {ParamId::usp, "US power", "US power", "TBusp", "Eusp", 0, 999, 30, 1, 't', kUnit01, 1, "%d",
     1},
}};

constexpr const ParameterInfo& Info(ParamId id) {
  return kParameters[static_cast<std::size_t>(id)];
}

constexpr bool TableIsInIdOrder() {
  for (std::size_t i = 0; i < kParameters.size(); ++i) {
    if (static_cast<std::size_t>(kParameters[i].id) != i) return false;
  }
  return true;
}
static_assert(TableIsInIdOrder(), "Info() indexes the table by ParamId");

// The parameter a letter belongs to, if any.
std::optional<ParamId> FindByLetter(char letter);

// What a slider's change handler stores for a position.
int32_t ValueFromPosition(ParamId id, int32_t position);
// The slider position for a value read back; a frequency truncates to a 10 Hz step.
int32_t PositionFromValue(ParamId id, int32_t value);

// The edit box text for a pending value: 30000 as "30.000 kHz", a power of 500 as "50.0 %".
// A negative read-back value shows its sign in front ("-0.005 kHz").
std::string FormatValue(ParamId id, int32_t value);

std::string SetFrame(ParamId id, int32_t value);
std::string QueryFrame(ParamId id);

// Step 18 of the exchange cycle sends the changed parameters in this order.
inline constexpr std::array<ParamId, kParameterCount> kFlushOrder{
    ParamId::freq, ParamId::power, ParamId::pwmp, ParamId::pwmr, ParamId::sweep,
    ParamId::fsp,  ParamId::fsr,   ParamId::fss,  ParamId::clim, ParamId::qf,
    ParamId::gf,   ParamId::fs,    ParamId::usp};

// Step 16 sets every slider from its pending value in this order (each move may run that
// slider's change handler at once), and only then writes the edit boxes in the edit order.
inline constexpr std::array<ParamId, kParameterCount> kStep16SliderOrder{
    ParamId::freq, ParamId::power, ParamId::pwmp, ParamId::pwmr, ParamId::sweep,
    ParamId::fsp,  ParamId::fsr,   ParamId::fss,  ParamId::clim, ParamId::qf,
    ParamId::gf,   ParamId::fs,    ParamId::usp};
inline constexpr std::array<ParamId, kParameterCount> kStep16EditOrder{
    ParamId::freq, ParamId::power, ParamId::sweep, ParamId::pwmr, ParamId::pwmp,
    ParamId::fsp,  ParamId::fsr,   ParamId::fss,   ParamId::clim, ParamId::gf,
    ParamId::qf,   ParamId::fs,    ParamId::usp};

}  // namespace app::protocol
