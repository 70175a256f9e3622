#pragma once
// The order of the exchange cycle as data: what each step of the 100 ms cycle reads, what it
// does with the reply and which query it sends for the next step to read. Steps 0..17 run
// once after every restart (reading the release and all thirteen settings); steps 18..21
// then repeat for ever (flush the changed settings, poll the telemetry).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "app/protocol/GeneratorParameters.h"

namespace app::protocol {

enum class StepAction : uint8_t {
  discardRead,     // one read, thrown away
  nothing,         // no read, no send: the status request gets a second tick to arrive
  statusReply,     // read the status reply: release label and frequency range
  parameterReply,  // read one parameter's reply into its pending value
  showAll,         // no read: set the sliders, then write the edit boxes (step 16 orders)
  clearChanged,    // no read: clear all thirteen changed flags
  flush,           // send a SetFrame per changed parameter (kFlushOrder), then discard a read
  dcTelemetry,     // read the DC telemetry and run status
  hfTelemetry,     // read the HF telemetry
};

struct ExchangeStepPlan {
  StepAction action;
  std::optional<ParamId> parameter;  // set for parameterReply only
  std::string_view query;            // sent after the reply is dealt with; empty: nothing is sent
};

inline constexpr int8_t kFirstStep = 0;
inline constexpr int8_t kFirstLoopStep = 18;
inline constexpr int8_t kLastStep = 21;

// Each query is answered during the following 100 ms and read by the next step. The query
// step 21 sends is answered by the time step 18 reads, and that answer is discarded; step 19
// asks again.
inline constexpr std::array<ExchangeStepPlan, kLastStep + 1> kExchangeSteps{{
    {StepAction::discardRead, std::nullopt, "@01SR\r"},  // empties what waited from before
    {StepAction::nothing, std::nullopt, ""},
    {StepAction::statusReply, std::nullopt, "%03y\r"},
    {StepAction::parameterReply, ParamId::clim, "%01f\r"},
    {StepAction::parameterReply, ParamId::freq, "%01s\r"},
    {StepAction::parameterReply, ParamId::sweep, "%01w\r"},
    {StepAction::parameterReply, ParamId::pwmp, "%01m\r"},
    {StepAction::parameterReply, ParamId::pwmr, "%03p\r"},
    {StepAction::parameterReply, ParamId::power, "%01a\r"},
    {StepAction::parameterReply, ParamId::fsp, "%01b\r"},
    {StepAction::parameterReply, ParamId::fsr, "%01c\r"},
    {StepAction::parameterReply, ParamId::fss, "%01q\r"},
    {StepAction::parameterReply, ParamId::qf, "%01g\r"},
    {StepAction::parameterReply, ParamId::gf, "%01v\r"},
    {StepAction::parameterReply, ParamId::fs, "%01t\r"},
    {StepAction::parameterReply, ParamId::usp, ""},
    {StepAction::showAll, std::nullopt, ""},
    {StepAction::clearChanged, std::nullopt, ""},
    {StepAction::flush, std::nullopt, ""},
    {StepAction::discardRead, std::nullopt, "%03?\r"},
    {StepAction::dcTelemetry, std::nullopt, "%01&\r"},
    {StepAction::hfTelemetry, std::nullopt, "%03?\r"},
}};

// The plan for a step value; a value outside 0..21 performs one discarded read.
const ExchangeStepPlan& StepPlan(int step);

// The step after this one: one on, and after the last step back to the first loop step.
int8_t NextExchangeStep(int8_t step);

// What FormCreate and the Read button write into the edit boxes while values are awaited.
inline constexpr std::string_view kWaitingText = "waiting.......";

// FormCreate fills all nineteen edit boxes, in this order.
inline constexpr std::array<std::string_view, 19> kFormCreateWaitingEdits{
    "Efreq", "Epower", "Esweep", "Epwmr", "Epwmp", "Efsr", "Efsp",      "Efss", "Eclim", "Eqf",
    "Egf",   "Efs",    "Efcor",  "Echf",  "Eusp",  "Eph",  "Edc_power", "Ereg", "Eacc"};

// The Read button fills the same boxes less Eusp.
inline constexpr std::array<std::string_view, 18> kReadButtonWaitingEdits{
    "Efreq", "Epower", "Esweep", "Epwmr", "Epwmp", "Efsr", "Efsp",      "Efss", "Eclim",
    "Eqf",   "Egf",    "Efs",    "Efcor", "Echf",  "Eph",  "Edc_power", "Ereg", "Eacc"};

}  // namespace app::protocol
