// The panel's exchange cycle fed arbitrary received bytes, tick after tick, on the recording
// fake device, with the operator now and then pressing Read, moving a slider, pressing a command
// button or reconnecting, and the line now and then failing a transfer. No tick may raise, no
// tick on a healthy line may end in the error box, and the window only ever shows what the
// panel's formats make: "waiting......." or a formatted value in every edit box, a release
// label or "Unknown", one of the lamp's colours; and only well-formed frames go out.
//
// Input: one record per tick: a byte whose low five bits are how many received bytes follow
// (queued before the tick) and whose top three bits pick what the operator or the line does
// first (0..3 nothing, 4 Read, 5 a slider, 6 a button or a page, 7 line trouble or Connect).
// After the input the cycle keeps ticking with nothing received until it has run
// kLeastTicks ticks.

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/MainForm.h"
#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/Format.h"
#include "app/protocol/Frames.h"
#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Telemetry.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/Input.h"
#include "platform/Application.h"
#include "platform/fake/FakeComDevice.h"
#include "serial/ComError.h"

namespace {

namespace protocol = app::protocol;
using protocol::ParamId;

// A made-up port name: the fake line knows no other, so nothing real can ever be opened.
constexpr const char* kPortName = "fuzz0";
constexpr int kLeastTicks = 48;  // the start-up pass and a few rounds of the loop

int handledErrors = 0;

// The value a parameter edit shows, read back by taking its sign and digits in order; the
// text is the panel's only if formatting that value gives the same text again.
std::optional<int32_t> ShownValue(const std::string& text) {
  bool negative = false;
  bool anyDigit = false;
  int64_t magnitude = 0;
  for (char c : text) {
    if (c == '-' && !anyDigit && !negative) {
      negative = true;
    } else if (c >= '0' && c <= '9') {
      anyDigit = true;
      magnitude = magnitude * 10 + (c - '0');
      if (magnitude > int64_t{1} << 32) return std::nullopt;
    }
  }
  if (!anyDigit) return std::nullopt;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

// The telemetry displays, looked up by name once per input rather than on every tick.
struct TTelemetryControls {
  explicit TTelemetryControls(const app::TMainForm& form) {
    for (const protocol::TelemetryInfo& info : protocol::kTelemetry) {
      bars[static_cast<size_t>(info.id)] = &form.Control<app::TProgressBar>(info.bar);
      edits[static_cast<size_t>(info.id)] = &form.Control<app::TEdit>(info.edit);
    }
  }
  std::array<const app::TProgressBar*, protocol::kTelemetryCount> bars{};
  std::array<const app::TEdit*, protocol::kTelemetryCount> edits{};
};

// What each display showed when it last passed: the checks are a function of the text (and
// the bar) alone, and most ticks change nothing, so only a changed display is checked again.
// Without this the checks, not the cycle, took most of each run.
struct TLastShown {
  std::array<std::string, protocol::kParameterCount> params;
  std::array<std::pair<std::string, int32_t>, protocol::kTelemetryCount> telemetry;
};

void CheckWindow(const app::TMainForm& form, const TTelemetryControls& telemetry,
                 const platform::FakeLine& line, TLastShown& last) {
  FUZZ_CHECK(form.CP.Connected() == line.IsOpen());
  FUZZ_CHECK(form.ExchangeStep >= protocol::kFirstStep && form.ExchangeStep <= protocol::kLastStep);

  for (const protocol::ParameterInfo& info : protocol::kParameters) {
    const std::string& text = form.ParamEdit(info.id).Text();
    const app::TTrackBar& slider = form.Slider(info.id);
    FUZZ_CHECK(slider.Min() <= slider.Max());
    FUZZ_CHECK(slider.Position() >= slider.Min() && slider.Position() <= slider.Max());
    std::string& seen = last.params[static_cast<size_t>(info.id)];
    if (text == seen || text == protocol::kWaitingText) continue;
    const auto value = ShownValue(text);
    FUZZ_CHECK(value.has_value());
    FUZZ_CHECK(protocol::FormatValue(info.id, *value) == text);
    // Read back from five characters, or a slider position in the generator's units.
    FUZZ_CHECK(*value >= -9999 && *value <= 99999);
    seen = text;
  }

  for (const protocol::TelemetryInfo& info : protocol::kTelemetry) {
    const auto& bar = *telemetry.bars[static_cast<size_t>(info.id)];
    const std::string& text = telemetry.edits[static_cast<size_t>(info.id)]->Text();
    FUZZ_CHECK(bar.Position() >= info.min && bar.Position() <= info.max);
    auto& seen = last.telemetry[static_cast<size_t>(info.id)];
    if ((text == seen.first && bar.Position() == seen.second) || text == protocol::kWaitingText) {
      continue;
    }
    FUZZ_CHECK(text == protocol::FormatTelemetry(info.id, bar.Position()));
    seen = {text, bar.Position()};
  }
  // The power bar is always worked out from the two bars beside it, as they read back.
  const int32_t power = protocol::DcPower(form.PBreg.Position(), form.PBac_current.Position());
  FUZZ_CHECK(form.PBdc_power.Position() == std::clamp(power, 0, 1500));
  FUZZ_CHECK(form.PBac_current.Enabled() == form.Eacc.Enabled());

  const app::TColor lamp = form.Sh.BrushColor();
  FUZZ_CHECK(lamp == protocol::kColourRed || lamp == protocol::kColourGreen ||
             lamp == protocol::kColourBlack || lamp == protocol::kColourPurple);

  const std::string& label = form.Lsr.Caption();
  if (label != "Unknown") {
    FUZZ_CHECK(label.size() >= 2 && label.size() <= 5 && label.compare(0, 2, "SR") == 0);
    FUZZ_CHECK(label.find('\0') == std::string::npos && label.find('\r') == std::string::npos);
  }
}

// Every frame the panel wrote is one of its queries or commands, or a set frame that its
// own formatting gives for the value it carries. `written` is what went out less the ticks
// whose writes were cut short on purpose.
void CheckWritten(const std::string& written) {
  std::set<std::string> known;
  for (const protocol::ExchangeStepPlan& plan : protocol::kExchangeSteps) {
    if (!plan.query.empty()) known.insert(std::string(plan.query));
  }
  for (int unit : protocol::kCommandUnits) {
    for (std::string_view word :
         {protocol::kWordWrite, protocol::kWordStart, protocol::kWordStop}) {
      known.insert(protocol::CommandFrame(unit, word));
    }
  }
  FUZZ_CHECK(written.empty() || written.back() == '\r');
  size_t start = 0;
  for (size_t cr = written.find('\r'); cr != std::string::npos; cr = written.find('\r', start)) {
    const std::string frame = written.substr(start, cr + 1 - start);
    start = cr + 1;
    if (known.count(frame)) continue;
    FUZZ_CHECK(frame.size() == 11 && frame[0] == '#');
    const auto id = protocol::FindByLetter(frame[3]);
    FUZZ_CHECK(id.has_value());
    const auto value = ShownValue(frame.substr(4));
    FUZZ_CHECK(value.has_value());
    FUZZ_CHECK(protocol::SetFrame(*id, *value) == frame);
  }
}

void PressButton(app::TMainForm& form, uint8_t which) {
  app::TButton* buttons[] = {&form.Button3, &form.Button4, &form.Button5};
  app::TButton& button = *buttons[which % 3];
  if (form.CP.Connected()) {
    button.Click();  // on a healthy line this must not raise
    return;
  }
  // With no port the write fails, and the operator sees that failure.
  bool raised = false;
  try {
    button.Click();
  } catch (const serial::EComPort& e) {
    raised = e.ErrorCode() == serial::ecode::kWriteFile;
  }
  FUZZ_CHECK(raised);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TInput in(data, size);
  handledErrors = 0;
  platform::SetExceptionHandler([](std::exception_ptr) { ++handledErrors; });

  auto line = std::make_shared<platform::FakeLine>(std::vector<std::string>{kPortName});
  {
    app::TMainForm form(platform::FakeOpener(line));
    form.CB.OperatorText(kPortName);
    form.BO.Click();
    FUZZ_CHECK(form.CP.Connected());
    const TTelemetryControls telemetry(form);
    TLastShown last;
    CheckWindow(form, telemetry, *line, last);

    std::vector<std::pair<size_t, size_t>> cutShort;
    for (int tick = 0; !in.Empty() || tick < kLeastTicks; ++tick) {
      const uint8_t record = in.Byte();
      line->PutInput(in.Bytes(record & 0x1F));
      bool troubled = false;
      switch (record >> 5) {
        case 4:
          form.Button2.Click();
          break;
        case 5: {
          app::TTrackBar& slider = form.Slider(static_cast<ParamId>(in.Byte() % 13));
          const int32_t span = slider.Max() - slider.Min() + 3;
          slider.OperatorNotify(slider.Min() - 1 + static_cast<int32_t>(in.U16() % span));
          break;
        }
        case 6: {
          const uint8_t which = in.Byte();
          if (which & 0x80) {
            form.PC.OperatorSelect(which % 6);
          } else {
            PressButton(form, which);
          }
          break;
        }
        case 7:
          switch (in.Byte() % 4) {
            case 0:
              line->SetFailure("ReadFile", EIO);
              troubled = true;
              break;
            case 1:
              line->SetFailure("WriteFile", EIO);
              troubled = true;
              break;
            case 2:
              // A write that times out part-way.
              line->SetWriteLimit(in.Byte() % 8);
              troubled = true;
              break;
            default:
              form.BO.Click();
              FUZZ_CHECK(form.CP.Connected());
              break;
          }
          break;
        default:
          break;
      }

      const int before = handledErrors;
      const size_t writtenBefore = troubled ? line->Written().size() : 0;
      form.Timer1.Tick();
      if (!troubled) FUZZ_CHECK(handledErrors == before);
      // The tick shows "COM port busy" exactly while there is no port, a lost one included.
      FUZZ_CHECK(form.Lcpb.Visible() == !form.CP.Connected());
      if (troubled) {
        cutShort.push_back({writtenBefore, line->Written().size()});
        line->SetFailure("ReadFile", 0);
        line->SetFailure("WriteFile", 0);
        line->SetWriteLimit(std::nullopt);
      }
      CheckWindow(form, telemetry, *line, last);
    }
    // A write cut short leaves part of a frame on the line; what the troubled ticks wrote is
    // left out, and all the rest must be whole frames.
    const std::string written = line->Written();
    std::string whole;
    size_t from = 0;
    for (const auto& [begin, end] : cutShort) {
      whole.append(written, from, begin - from);
      from = end;
    }
    whole.append(written, from);
    CheckWritten(whole);
  }
  FUZZ_CHECK(!line->IsOpen());
  platform::SetExceptionHandler({});
  return 0;
}
