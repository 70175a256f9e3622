#include "app/ExchangeCycle.h"

#include <cerrno>
#include <cstdint>
#include <string>

#include "app/MainForm.h"
#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Telemetry.h"
#include "serial/ComError.h"

namespace app {
namespace {

using protocol::ParamId;
using protocol::TelemetryId;

constexpr int32_t kReadSize = 20;

// Step 16: sliders first, so that every change handler a move runs has stored its value before
// any edit box is written from the pending values. A parameter the generator has never
// answered for is left as it stands: its slider where it is, its box waiting.
void ShowAllValues(TMainForm& form) {
  for (ParamId id : protocol::kStep16SliderOrder) {
    const TGeneratorParameter& p = form.Parameter(id);
    if (p.Received) form.Slider(id).SetPosition(protocol::PositionFromValue(id, p.Pending));
  }
  for (ParamId id : protocol::kStep16EditOrder) {
    const TGeneratorParameter& p = form.Parameter(id);
    if (p.Received) form.ParamEdit(id).SetText(protocol::FormatValue(id, p.Pending));
  }
}

// Step 18: one SetFrame per changed parameter, each its own write. A flag is cleared only once its
// frame has gone out whole.
void FlushChanged(TMainForm& form) {
  for (ParamId id : protocol::kFlushOrder) {
    TGeneratorParameter& p = form.Parameter(id);
    if (!p.Changed) continue;
    SendFrame(form, protocol::SetFrame(id, p.Pending));
    p.Changed = false;
  }
}

// A telemetry bar takes the field as it came; the edit beside it shows what the bar reads back.
int32_t ShowTelemetry(TMainForm& form, TelemetryId id, int32_t value) {
  const protocol::TelemetryInfo& info = protocol::Info(id);
  auto& bar = form.Control<TProgressBar>(info.bar);
  bar.SetPosition(value);
  const int32_t shown = bar.Position();
  form.Control<TEdit>(info.edit).SetText(protocol::FormatTelemetry(id, shown));
  return shown;
}

void ShowDcTelemetry(TMainForm& form, const std::optional<protocol::DcTelemetry>& reply) {
  form.Sh.SetBrushColor(protocol::LampColour(reply));
  if (!reply) return;
  const int32_t current = ShowTelemetry(form, TelemetryId::dcCurrent, reply->current);
  const int32_t voltage = ShowTelemetry(form, TelemetryId::dcVoltage, reply->voltage);
  ShowTelemetry(form, TelemetryId::dcPower, protocol::DcPower(voltage, current));
}

void ShowHfTelemetry(TMainForm& form, const std::optional<protocol::HfTelemetry>& reply) {
  if (!reply) return;
  ShowTelemetry(form, TelemetryId::hfCurrent, reply->hfCurrent);
  ShowTelemetry(form, TelemetryId::regulator, reply->regulator);
  ShowTelemetry(form, TelemetryId::phase, reply->phase);
}

}  // namespace

void SendFrame(TMainForm& form, std::string_view frame) {
  const std::string text(frame);
  const int32_t sent = form.CP.WriteStr(text);
  if (sent != static_cast<int32_t>(text.size()))
    serial::RaiseComError(serial::ecode::kWriteFile, ETIMEDOUT);
}

void ApplyRelease(TMainForm& form, const protocol::StatusReply& reply) {
  form.Lsr.SetCaption(reply.label);
  const auto rule = protocol::FindReleaseRule(reply.release);
  if (!rule) return;
  TTrackBar& freq = form.Slider(ParamId::freq);
  // The slider ignores a maximum below its minimum; moving down to a lower band therefore sets
  // the minimum first, or the old band's minimum would stay and let the operator send a
  // frequency the generator was not made for.
  if (rule->range.max < freq.Min()) {
    freq.SetMin(rule->range.min);
    freq.SetMax(rule->range.max);
  } else {
    freq.SetMax(rule->range.max);
    freq.SetMin(rule->range.min);
  }
  if (rule->disablesDcCurrent) {
    form.PBac_current.SetEnabled(false);
    form.Eacc.SetEnabled(false);
  }
}

void ExchangeTick(TMainForm& form) {
  char buffer[100] = {};  // cleared before the port is even looked at
  if (!form.CP.Connected()) {
    // Whatever closed the port, nobody knows what the generator does now: the lamp says the
    // telemetry shown is old until a valid reply comes in again.
    form.Lcpb.SetVisible(true);
    form.Sh.SetBrushColor(protocol::kColourPurple);
    return;
  }
  form.Lcpb.SetVisible(false);

  auto read = [&]() -> std::string_view {
    const int32_t n = form.CP.Read(buffer, kReadSize);
    return {buffer, static_cast<size_t>(n > 0 ? n : 0)};
  };

  const protocol::ExchangeStepPlan& plan = protocol::StepPlan(form.ExchangeStep);
  switch (plan.action) {
    case protocol::StepAction::discardRead:
      read();
      break;
    case protocol::StepAction::nothing:
      break;
    case protocol::StepAction::statusReply:
      if (const auto reply = protocol::ParseStatusReply(read())) {
        ApplyRelease(form, *reply);
      } else {
        form.Lsr.SetCaption("Unknown");
      }
      break;
    case protocol::StepAction::parameterReply: {
      const ParamId id = *plan.parameter;
      // The value waits in the parameter until step 16 shows them all.
      if (const auto value = protocol::ParseParameterReply(read(), protocol::Info(id).letter)) {
        form.Parameter(id).Pending = *value;
        form.Parameter(id).Received = true;
      }
      break;
    }
    case protocol::StepAction::showAll:
      ShowAllValues(form);
      break;
    case protocol::StepAction::clearChanged:
      // The moves step 16 made are the generator's own values: never send them back.
      for (size_t i = 0; i < protocol::kParameterCount; ++i) {
        form.Parameter(static_cast<ParamId>(i)).Changed = false;
      }
      break;
    case protocol::StepAction::flush:
      FlushChanged(form);
      read();
      break;
    case protocol::StepAction::dcTelemetry:
      ShowDcTelemetry(form, protocol::ParseDcReply(read()));
      break;
    case protocol::StepAction::hfTelemetry:
      ShowHfTelemetry(form, protocol::ParseHfReply(read()));
      break;
  }
  if (!plan.query.empty()) SendFrame(form, plan.query);
  form.ExchangeStep = protocol::NextExchangeStep(form.ExchangeStep);
}

}  // namespace app
