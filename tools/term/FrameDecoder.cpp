#include "tools/term/FrameDecoder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/Format.h"
#include "app/protocol/Frames.h"
#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Replies.h"
#include "app/protocol/Telemetry.h"

namespace term {
namespace {

namespace protocol = app::protocol;

// A byte of the frame as it goes into a text on the screen: printable ones quoted, others as hex.
std::string Shown(char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u <= 0x7E) return std::string{'\'', c, '\''};
  return std::string{'\\', 'x', kHex[u >> 4], kHex[u & 0xF]};
}

// Text from the frame, with its control bytes and bytes above 126 as hex.
std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    out += u >= 0x20 && u <= 0x7E ? std::string(1, c) : Shown(c);
  }
  return out;
}

std::string UnitText(int unit) {
  return protocol::Format("%02d", {unit});
}

std::string NotAFrame(const std::string& reason) {
  return std::string(kNotAFrame) + reason;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Where the frame leaves its layout, or empty where it follows it. In the layout '9' is a digit,
// '-' a digit or a minus sign, and any other byte stands for itself.
std::string LayoutFault(std::string_view frame, std::string_view layout) {
  for (std::size_t i = 0; i < std::min(frame.size(), layout.size()); ++i) {
    const char want = layout[i];
    const char got = frame[i];
    const bool digitWanted = want == '9' || want == '-';
    if (digitWanted ? IsDigit(got) || (want == '-' && got == '-') : got == want) continue;
    return "byte " + std::to_string(i) + " is " + Shown(got) + ", " +
           (digitWanted ? std::string("a digit") : Shown(want)) + " wanted";
  }
  if (frame.size() != layout.size()) {
    return std::to_string(frame.size()) + " bytes, the frame has " + std::to_string(layout.size());
  }
  return {};
}

// A frame the panel sends, as its builders make it (with the CR), and what it asks for.
struct KnownFrame {
  std::string frame;
  std::string meaning;
};

// Every query and command the panel sends: a query for each parameter at its unit, the two
// telemetry queries of the exchange cycle (named by the step that reads their replies), and the
// buttons' commands to both units and the release request.
const std::vector<KnownFrame>& KnownFrames() {
  static const std::vector<KnownFrame> known = [] {
    std::vector<KnownFrame> frames;
    for (const protocol::ParameterInfo& info : protocol::kParameters) {
      frames.push_back({protocol::QueryFrame(info.id), "read " + std::string(info.caption)});
    }
    for (int step = protocol::kFirstLoopStep; step < protocol::kLastStep; ++step) {
      const protocol::StepAction reads = protocol::StepPlan(step + 1).action;
      const std::string_view query = protocol::StepPlan(step).query;
      if (reads == protocol::StepAction::dcTelemetry) {
        frames.push_back({std::string(query), "read DC telemetry"});
      } else if (reads == protocol::StepAction::hfTelemetry) {
        frames.push_back({std::string(query), "read HF telemetry"});
      }
    }
    frames.push_back(
        {protocol::CommandFrame(protocol::kUnit01, protocol::kWordStatus), "release request"});
    const std::array<std::pair<std::string_view, const char*>, 3> buttons{
        {{protocol::kWordWrite, "store the settings (Write)"},
         {protocol::kWordStart, "start"},
         {protocol::kWordStop, "stop"}}};
    for (const auto& [word, meaning] : buttons) {
      for (const int unit : protocol::kCommandUnits) {
        frames.push_back({protocol::CommandFrame(unit, word), meaning});
      }
    }
    return frames;
  }();
  return known;
}

// A query or command: one of the panel's own, or why not. `body` is what follows the address
// (the query's letter, the command's word).
std::string Known(std::string_view frame, int unit) {
  const std::string_view body = frame.substr(3);
  const KnownFrame* sameBody = nullptr;
  for (const KnownFrame& known : KnownFrames()) {
    const std::string_view knownFrame(known.frame);
    if (knownFrame.front() != frame.front()) continue;
    const std::string_view knownBody = knownFrame.substr(3, knownFrame.size() - 4);
    if (frame.front() == '%' ? knownBody.front() != body.front() : knownBody != body) continue;
    if (knownFrame.substr(1, 2) == frame.substr(1, 2)) {
      const std::string fault = LayoutFault(frame, knownFrame.substr(0, knownFrame.size() - 1));
      if (!fault.empty()) return NotAFrame(fault);
      return "to " + UnitText(unit) + ": " + known.meaning;
    }
    sameBody = &known;
  }
  if (sameBody) {
    return NotAFrame("\"" + sameBody->meaning + "\" goes to unit " + sameBody->frame.substr(1, 2));
  }
  if (frame.front() == '%') return NotAFrame("nothing to read under " + Shown(body.front()));
  return NotAFrame("no command \"" + Printable(body) + "\"");
}

// The value field of a set frame or a parameter reply: positions 4, 5, 7, 8, 9 (6 is the point).
int32_t ValueField(std::string_view frame) {
  const std::array<char, 5> chars{frame[4], frame[5], frame[7], frame[8], frame[9]};
  return protocol::ReadField(std::string_view(chars.data(), chars.size()));
}

std::string ParameterText(protocol::ParamId id, int32_t value) {
  return std::string(protocol::Info(id).caption) + " " + protocol::FormatValue(id, value);
}

// Where a set frame or parameter reply differs from what SetFrame writes for its value.
std::string ValueLayoutFault(std::string_view frame, int unit, char letter, int32_t value) {
  const std::string written = protocol::SetFrame(unit, letter, value);
  if (written == std::string(frame) + '\r') return {};
  std::string layout(frame.substr(0, 4));
  layout += "-9.999";
  std::string fault = LayoutFault(frame, layout);
  return fault.empty() ? "the value is written " + Printable(written.substr(4, written.size() - 5))
                       : fault;
}

std::string Set(std::string_view frame, int unit) {
  const char letter = frame[3];
  const std::optional<protocol::ParamId> id = protocol::FindByLetter(letter);
  if (!id) return NotAFrame("no setting under " + Shown(letter));
  const protocol::ParameterInfo& info = protocol::Info(*id);
  if (info.unit != unit) {
    return NotAFrame(std::string(info.caption) + " is set on unit " + UnitText(info.unit));
  }
  std::string layout(frame.substr(0, 4));
  layout += "-9.999";
  if (frame.size() < layout.size()) return NotAFrame(LayoutFault(frame, layout));
  const int32_t value = ValueField(frame);
  const std::string fault = ValueLayoutFault(frame, unit, letter, value);
  if (!fault.empty()) return NotAFrame(fault);
  return "to " + UnitText(unit) + ": set " + ParameterText(*id, value);
}

// A telemetry value as its bar and edit box show it: the bar holds the position within its range.
std::string TelemetryText(protocol::TelemetryId id, int32_t value) {
  const protocol::TelemetryInfo& info = protocol::Info(id);
  const int32_t position = std::clamp(value, info.min, info.max);
  std::string text = std::string(info.caption) + " " + protocol::FormatTelemetry(id, position);
  if (value > info.max) text += " (bar full: " + std::to_string(value) + ")";
  if (value < info.min) text += " (bar empty: " + std::to_string(value) + ")";
  return text;
}

int32_t BarPosition(protocol::TelemetryId id, int32_t value) {
  return std::clamp(value, protocol::Info(id).min, protocol::Info(id).max);
}

std::string ColourName(uint32_t colour) {
  switch (colour) {
    case protocol::kColourRed:
      return "red";
    case protocol::kColourGreen:
      return "green";
    case protocol::kColourBlack:
      return "black";
    default:
      return "purple";
  }
}

std::string DcText(const protocol::DcTelemetry& dc) {
  using protocol::TelemetryId;
  const int32_t power = protocol::DcPower(BarPosition(TelemetryId::dcVoltage, dc.voltage),
                                          BarPosition(TelemetryId::dcCurrent, dc.current));
  return TelemetryText(TelemetryId::dcCurrent, dc.current) + ", " +
         TelemetryText(TelemetryId::dcVoltage, dc.voltage) + ", " +
         TelemetryText(TelemetryId::dcPower, power) + ", run status " + Shown(dc.runStatus) +
         ", lamp " + ColourName(protocol::RunStatusColour(dc.runStatus));
}

std::string HfText(const protocol::HfTelemetry& hf) {
  using protocol::TelemetryId;
  return TelemetryText(TelemetryId::hfCurrent, hf.hfCurrent) + ", " +
         TelemetryText(TelemetryId::regulator, hf.regulator) + ", " +
         TelemetryText(TelemetryId::phase, hf.phase);
}

std::string StatusText(const protocol::StatusReply& status) {
  std::string text = "release " + Printable(status.label);
  const std::optional<protocol::ReleaseRule> rule = protocol::FindReleaseRule(status.release);
  if (!rule) return text + ", not one the panel knows: frequency range kept";
  using protocol::ParamId;
  text += ", " +
          ParameterText(ParamId::freq, protocol::ValueFromPosition(ParamId::freq, rule->range.min));
  text += " to " + protocol::FormatValue(
                       ParamId::freq, protocol::ValueFromPosition(ParamId::freq, rule->range.max));
  if (rule->disablesDcCurrent) text += ", no DC current";
  return text;
}

std::string CutShort(std::string_view frame, std::size_t length) {
  return NotAFrame("cut short: " + std::to_string(frame.size()) + " bytes, the reply has " +
                   std::to_string(length));
}

// A reply from unit 02, as the panel reads it; one the panel does not read is not a frame.
std::string Reply(std::string_view frame) {
  const char kind = frame[3];
  std::string meaning;
  std::string fault;
  if (kind == 'S') {
    const auto status = protocol::ParseStatusReply(frame);
    fault = LayoutFault(frame, "#02SR999");
    if (!status) return NotAFrame(fault);
    meaning = StatusText(*status);
  } else if (kind == '?') {
    const auto dc = protocol::ParseDcReply(frame);
    if (!dc) return CutShort(frame, 11);
    meaning = DcText(*dc);
    // The run status is any byte to the panel; the layout only wants one there.
    fault = LayoutFault(frame.substr(0, 10), "#02?999999");
    if (fault.empty() && frame.size() == 10) fault = "no run status";
    if (fault.empty()) fault = LayoutFault(frame, std::string("#02?999999") + frame[10]);
  } else if (kind == '&') {
    const auto hf = protocol::ParseHfReply(frame);
    if (!hf) return CutShort(frame, 13);
    meaning = HfText(*hf);
    fault = LayoutFault(frame, "#02&999999999");
  } else if (const auto id = protocol::FindByLetter(kind)) {
    const auto value = protocol::ParseParameterReply(frame, kind);
    if (!value) return CutShort(frame, 10);
    meaning = ParameterText(*id, *value);
    fault = ValueLayoutFault(frame, protocol::kReplyUnit, kind, *value);
  } else {
    return NotAFrame("no reply under " + Shown(kind));
  }
  std::string text = "from " + UnitText(protocol::kReplyUnit) + ": " + meaning;
  if (!fault.empty()) text += std::string(kOffLayout) + fault;
  return text;
}

}  // namespace

std::string DecodeFrame(std::string_view frame) {
  if (!frame.empty() && frame.back() == '\r') frame.remove_suffix(1);
  if (frame.empty()) return NotAFrame("empty");
  const std::size_t start = frame.find_first_of("#%@");
  if (start == std::string_view::npos) {
    return NotAFrame("starts with " + Shown(frame.front()) + ", not '#', '%' or '@'");
  }
  if (start > 0) {
    // The panel reads a reply from the first byte of a read and never looks further; a frame
    // behind stray bytes is still worth reading to the engineer.
    return NotAFrame(std::to_string(start) + (start == 1 ? " byte" : " bytes") +
                     " before its start; from there " + DecodeFrame(frame.substr(start)));
  }
  if (frame.size() < 4) return NotAFrame("cut short: " + std::to_string(frame.size()) + " bytes");
  if (!IsDigit(frame[1]) || !IsDigit(frame[2])) {
    return NotAFrame("no unit address after " + Shown(frame[0]));
  }
  const int unit = (frame[1] - '0') * 10 + (frame[2] - '0');
  if (frame[0] == '#' && unit == protocol::kReplyUnit) return Reply(frame);
  if (unit != protocol::kUnit01 && unit != protocol::kUnit03) {
    return NotAFrame("no unit " + UnitText(unit) + " on the line (01 and 03 take frames, " +
                     UnitText(protocol::kReplyUnit) + " replies)");
  }
  if (frame[0] == '#') return Set(frame, unit);
  return Known(frame, unit);
}

}  // namespace term
