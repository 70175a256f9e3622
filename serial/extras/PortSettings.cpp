#include "serial/extras/PortSettings.h"

#include <array>
#include <charconv>
#include <exception>
#include <limits>
#include <string_view>

#include "serial/ComError.h"
#include "serial/extras/ComStrings.h"

namespace serial {
namespace {

std::string BoolToText(bool value) {
  return value ? "True" : "False";
}

bool TextToBool(std::string_view text) {
  const std::string_view t = TrimText(text);
  for (const char* yes : {"true", "yes", "on", "1"}) {
    if (SameText(t, yes)) return true;
  }
  for (const char* no : {"false", "no", "off", "0"}) {
    if (SameText(t, no)) return false;
  }
  throw EComConvert("truth value", std::string(text));
}

std::string IntToText(int32_t value) {
  return std::to_string(value);
}

int32_t TextToInt(std::string_view text) {
  const std::string_view t = TrimText(text);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || error != std::errc() || end != t.data() + t.size()) {
    throw EComConvert("32-bit whole number", std::string(text));
  }
  return value;
}

// A rate no line can take would only be refused when the port opens, far from the key that
// holds it.
int32_t TextToRate(std::string_view text) {
  const int32_t value = TextToInt(text);
  if (value <= 0) throw EComConvert("bit rate (1 or more)", std::string(text));
  return value;
}

// A character as its code, so that every byte, NUL and line ends included, reads back as
// itself; "#17" reads too.
std::string CharToText(char value) {
  return std::to_string(static_cast<unsigned char>(value));
}

char TextToChar(std::string_view text) {
  std::string_view t = TrimText(text);
  if (!t.empty() && t.front() == '#') t.remove_prefix(1);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || error != std::errc() || end != t.data() + t.size() ||
      value > std::numeric_limits<unsigned char>::max()) {
    throw EComConvert("character code (0 to 255)", std::string(text));
  }
  return static_cast<char>(static_cast<unsigned char>(value));
}

using S = TComPortSettings;
struct Key {
  const char* name;
  std::string (*store)(const S&);
  void (*load)(S&, std::string_view);
};

// The stored keys, in the order a new section lists them. The flow-control preset is not
// among them: it follows from the members, which are.
const std::array<Key, 32> kKeys = {{
    {"Port", [](const S& s) { return s.Port; },
     [](S& s, std::string_view t) { s.Port = std::string(TrimText(t)); }},
    {"BaudRate", [](const S& s) { return BaudRateToStr(s.BaudRate); },
     [](S& s, std::string_view t) { s.BaudRate = StrToBaudRate(t); }},
    {"CustomBaudRate", [](const S& s) { return IntToText(s.CustomBaudRate); },
     [](S& s, std::string_view t) { s.CustomBaudRate = TextToRate(t); }},
    {"DataBits", [](const S& s) { return DataBitsToStr(s.DataBits); },
     [](S& s, std::string_view t) { s.DataBits = StrToDataBits(t); }},
    {"StopBits", [](const S& s) { return StopBitsToStr(s.StopBits); },
     [](S& s, std::string_view t) { s.StopBits = StrToStopBits(t); }},
    {"Parity", [](const S& s) { return ParityToStr(s.Parity.Bits()); },
     [](S& s, std::string_view t) { s.Parity.SetBits(StrToParity(t)); }},
    {"ParityCheck", [](const S& s) { return BoolToText(s.Parity.Check()); },
     [](S& s, std::string_view t) { s.Parity.SetCheck(TextToBool(t)); }},
    {"ParityReplace", [](const S& s) { return BoolToText(s.Parity.Replace()); },
     [](S& s, std::string_view t) { s.Parity.SetReplace(TextToBool(t)); }},
    {"ParityReplaceChar", [](const S& s) { return CharToText(s.Parity.ReplaceChar()); },
     [](S& s, std::string_view t) { s.Parity.SetReplaceChar(TextToChar(t)); }},
    {"OutCTSFlow", [](const S& s) { return BoolToText(s.FlowControl.OutCTSFlow()); },
     [](S& s, std::string_view t) { s.FlowControl.SetOutCTSFlow(TextToBool(t)); }},
    {"OutDSRFlow", [](const S& s) { return BoolToText(s.FlowControl.OutDSRFlow()); },
     [](S& s, std::string_view t) { s.FlowControl.SetOutDSRFlow(TextToBool(t)); }},
    {"ControlDTR", [](const S& s) { return DTRToStr(s.FlowControl.ControlDTR()); },
     [](S& s, std::string_view t) { s.FlowControl.SetControlDTR(StrToDTR(t)); }},
    {"ControlRTS", [](const S& s) { return RTSToStr(s.FlowControl.ControlRTS()); },
     [](S& s, std::string_view t) { s.FlowControl.SetControlRTS(StrToRTS(t)); }},
    {"XonXoffOut", [](const S& s) { return BoolToText(s.FlowControl.XonXoffOut()); },
     [](S& s, std::string_view t) { s.FlowControl.SetXonXoffOut(TextToBool(t)); }},
    {"XonXoffIn", [](const S& s) { return BoolToText(s.FlowControl.XonXoffIn()); },
     [](S& s, std::string_view t) { s.FlowControl.SetXonXoffIn(TextToBool(t)); }},
    {"DSRSensitivity", [](const S& s) { return BoolToText(s.FlowControl.DSRSensitivity()); },
     [](S& s, std::string_view t) { s.FlowControl.SetDSRSensitivity(TextToBool(t)); }},
    {"TxContinueOnXoff", [](const S& s) { return BoolToText(s.FlowControl.TxContinueOnXoff()); },
     [](S& s, std::string_view t) { s.FlowControl.SetTxContinueOnXoff(TextToBool(t)); }},
    {"XonChar", [](const S& s) { return CharToText(s.FlowControl.XonChar()); },
     [](S& s, std::string_view t) { s.FlowControl.SetXonChar(TextToChar(t)); }},
    {"XoffChar", [](const S& s) { return CharToText(s.FlowControl.XoffChar()); },
     [](S& s, std::string_view t) { s.FlowControl.SetXoffChar(TextToChar(t)); }},
    {"ReadInterval", [](const S& s) { return IntToText(s.Timeouts.ReadInterval()); },
     [](S& s, std::string_view t) { s.Timeouts.SetReadInterval(TextToInt(t)); }},
    {"ReadTotalMultiplier", [](const S& s) { return IntToText(s.Timeouts.ReadTotalMultiplier()); },
     [](S& s, std::string_view t) { s.Timeouts.SetReadTotalM(TextToInt(t)); }},
    {"ReadTotalConstant", [](const S& s) { return IntToText(s.Timeouts.ReadTotalConstant()); },
     [](S& s, std::string_view t) { s.Timeouts.SetReadTotalC(TextToInt(t)); }},
    {"WriteTotalMultiplier",
     [](const S& s) { return IntToText(s.Timeouts.WriteTotalMultiplier()); },
     [](S& s, std::string_view t) { s.Timeouts.SetWriteTotalM(TextToInt(t)); }},
    {"WriteTotalConstant", [](const S& s) { return IntToText(s.Timeouts.WriteTotalConstant()); },
     [](S& s, std::string_view t) { s.Timeouts.SetWriteTotalC(TextToInt(t)); }},
    {"InputSize", [](const S& s) { return IntToText(s.Buffer.InputSize()); },
     [](S& s, std::string_view t) { s.Buffer.SetInputSize(TextToInt(t)); }},
    {"OutputSize", [](const S& s) { return IntToText(s.Buffer.OutputSize()); },
     [](S& s, std::string_view t) { s.Buffer.SetOutputSize(TextToInt(t)); }},
    {"EventChar", [](const S& s) { return CharToText(s.EventChar); },
     [](S& s, std::string_view t) { s.EventChar = TextToChar(t); }},
    {"DiscardNull", [](const S& s) { return BoolToText(s.DiscardNull); },
     [](S& s, std::string_view t) { s.DiscardNull = TextToBool(t); }},
    {"Events", [](const S& s) { return EventsToStr(s.Events); },
     [](S& s, std::string_view t) { s.Events = StrToEvents(t); }},
    {"SyncMethod", [](const S& s) { return SyncMethodToStr(s.SyncMethod); },
     [](S& s, std::string_view t) { s.SyncMethod = StrToSyncMethod(t); }},
    {"EventThreadPriority", [](const S& s) { return ThreadPriorityToStr(s.EventThreadPriority); },
     [](S& s, std::string_view t) { s.EventThreadPriority = StrToThreadPriority(t); }},
    {"TriggersOnRxChar", [](const S& s) { return BoolToText(s.TriggersOnRxChar); },
     [](S& s, std::string_view t) { s.TriggersOnRxChar = TextToBool(t); }},
}};

// A refusal of the port's own, told with the key it came from.
template <typename F>
void SetNamed(const char* key, F set) {
  try {
    set();
  } catch (const EComPort& e) {
    RaiseComError(e.ErrorCode(), e.SystemErrorCode(), key);
  }
}

}  // namespace

bool operator==(const TComPortSettings& a, const TComPortSettings& b) {
  const auto& pa = a.Parity;
  const auto& pb = b.Parity;
  const auto& fa = a.FlowControl;
  const auto& fb = b.FlowControl;
  const auto& ta = a.Timeouts;
  const auto& tb = b.Timeouts;
  return a.Port == b.Port && a.BaudRate == b.BaudRate && a.CustomBaudRate == b.CustomBaudRate &&
         a.DataBits == b.DataBits && a.StopBits == b.StopBits && pa.Bits() == pb.Bits() &&
         pa.Check() == pb.Check() && pa.Replace() == pb.Replace() &&
         pa.ReplaceChar() == pb.ReplaceChar() && fa.OutCTSFlow() == fb.OutCTSFlow() &&
         fa.OutDSRFlow() == fb.OutDSRFlow() && fa.ControlDTR() == fb.ControlDTR() &&
         fa.ControlRTS() == fb.ControlRTS() && fa.XonXoffOut() == fb.XonXoffOut() &&
         fa.XonXoffIn() == fb.XonXoffIn() && fa.DSRSensitivity() == fb.DSRSensitivity() &&
         fa.TxContinueOnXoff() == fb.TxContinueOnXoff() && fa.XonChar() == fb.XonChar() &&
         fa.XoffChar() == fb.XoffChar() && ta.ReadInterval() == tb.ReadInterval() &&
         ta.ReadTotalMultiplier() == tb.ReadTotalMultiplier() &&
         ta.ReadTotalConstant() == tb.ReadTotalConstant() &&
         ta.WriteTotalMultiplier() == tb.WriteTotalMultiplier() &&
         ta.WriteTotalConstant() == tb.WriteTotalConstant() &&
         a.Buffer.InputSize() == b.Buffer.InputSize() &&
         a.Buffer.OutputSize() == b.Buffer.OutputSize() && a.EventChar == b.EventChar &&
         a.DiscardNull == b.DiscardNull && a.Events == b.Events && a.SyncMethod == b.SyncMethod &&
         a.EventThreadPriority == b.EventThreadPriority && a.TriggersOnRxChar == b.TriggersOnRxChar;
}

TComPortSettings GetPortSettings(const TCustomComPort& port) {
  TComPortSettings s;
  s.Port = port.Port();
  s.BaudRate = port.BaudRate();
  s.CustomBaudRate = port.CustomBaudRate();
  s.DataBits = port.DataBits();
  s.StopBits = port.StopBits();
  s.Parity = port.Parity();
  s.FlowControl = port.FlowControl();
  s.Timeouts = port.Timeouts();
  s.Buffer = port.Buffer();
  s.EventChar = port.EventChar();
  s.DiscardNull = port.DiscardNull();
  s.Events = port.Events;
  s.SyncMethod = port.SyncMethod();
  s.EventThreadPriority = port.EventThreadPriority();
  s.TriggersOnRxChar = port.TriggersOnRxChar();
  return s;
}

void SetPortSettings(TCustomComPort& port, const TComPortSettings& settings) {
  // The refusals come before any change. A link listening for buffers refuses any value, and
  // reads as false, so false is already what the port holds. The sync method and the priority
  // refuse a new value on an open port, and an equal value changes nothing: run first, neither
  // can fail after the other has changed anything.
  if (port.HasLink() && settings.TriggersOnRxChar) {
    RaiseComError(ecode::kRxBufLinked, -1, "TriggersOnRxChar");
  }
  SetNamed("SyncMethod", [&] { port.SetSyncMethod(settings.SyncMethod); });
  SetNamed("EventThreadPriority",
           [&] { port.SetEventThreadPriority(settings.EventThreadPriority); });
  if (!port.HasLink()) port.SetTriggersOnRxChar(settings.TriggersOnRxChar);

  port.BeginUpdate();
  try {
    port.SetBaudRate(settings.BaudRate);
    port.SetCustomBaudRate(settings.CustomBaudRate);
    port.SetDataBits(settings.DataBits);
    port.SetStopBits(settings.StopBits);
    port.SetParity(settings.Parity);
    port.SetFlowControl(settings.FlowControl);
    port.SetTimeouts(settings.Timeouts);
    port.SetBuffer(settings.Buffer);
    port.SetEventChar(settings.EventChar);
    port.SetDiscardNull(settings.DiscardNull);
    port.Events = settings.Events;
  } catch (...) {
    try {
      port.EndUpdate();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  port.EndUpdate();
  port.SetPort(settings.Port);
}

TSettingValues PortSettingsToValues(const TComPortSettings& settings) {
  TSettingValues values;
  values.reserve(kKeys.size());
  for (const auto& key : kKeys) values.emplace_back(key.name, key.store(settings));
  return values;
}

void ValuesToPortSettings(const TSettingValues& values, TComPortSettings& settings) {
  TComPortSettings read = settings;
  for (const auto& key : kKeys) {
    for (const auto& [name, text] : values) {
      if (!SameText(name, key.name)) continue;
      try {
        key.load(read, text);
      } catch (const EComConvert& e) {
        throw EComConvert(key.name, text, std::string(key.name) + ": " + e.what());
      }
      break;
    }
  }
  settings = read;
}

}  // namespace serial
