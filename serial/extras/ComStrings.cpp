#include "serial/extras/ComStrings.h"

#include <array>
#include <cstddef>
#include <utility>

namespace serial {
namespace {

// Texts indexed by member; the parsers find a member by its text.
constexpr std::array<const char*, 16> kBaudRateTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<const char*, 4> kDataBitsTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, 3> kStopBitsTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowControlTexts = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, 3> kDTRTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, 4> kRTSTexts = {"Disable", "Enable", "Handshake", "Toggle"};
constexpr std::array<const char*, 3> kSyncMethodTexts = {"Thread", "Window", "None"};
constexpr std::array<const char*, 7> kThreadPriorityTexts = {
    "Idle", "Lowest", "Lower", "Normal", "Higher", "Highest", "TimeCritical"};
constexpr std::array<const char*, 10> kEventTexts = {
    "RxChar", "TxEmpty", "RxFlag", "Ring", "Break", "CTS", "DSR", "Error", "RLSD", "Rx80Full"};

static_assert(kBaudRateTexts.size() == br256000 + 1);
static_assert(kDataBitsTexts.size() == dbEight + 1);
static_assert(kStopBitsTexts.size() == sbTwoStopBits + 1);
static_assert(kParityTexts.size() == prSpace + 1);
static_assert(kFlowControlTexts.size() == fcCustom + 1);
static_assert(kDTRTexts.size() == dtrHandshake + 1);
static_assert(kRTSTexts.size() == rtsToggle + 1);
static_assert(kSyncMethodTexts.size() == smNone + 1);
static_assert(kThreadPriorityTexts.size() == tpTimeCritical + 1);
static_assert(kEventTexts.size() == evRx80Full + 1);

template <typename E, size_t N>
std::string ToText(const std::array<const char*, N>& texts, E value) {
  const auto index = static_cast<size_t>(value);
  return index < N ? texts[index] : "";
}

template <typename E, size_t N>
E FromText(const std::array<const char*, N>& texts, std::string_view text, const char* setting) {
  const std::string_view trimmed = TrimText(text);
  for (size_t i = 0; i < N; ++i) {
    if (SameText(trimmed, texts[i])) return static_cast<E>(i);
  }
  throw EComConvert(setting, std::string(text));
}

char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

EComConvert::EComConvert(std::string setting, std::string text)
    : std::invalid_argument("\"" + text + "\" names no " + setting),
      setting_(std::move(setting)),
      text_(std::move(text)) {}

EComConvert::EComConvert(std::string setting, std::string text, const std::string& message)
    : std::invalid_argument(message), setting_(std::move(setting)), text_(std::move(text)) {}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

std::string_view TrimText(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string BaudRateToStr(TBaudRate value) {
  return ToText(kBaudRateTexts, value);
}
TBaudRate StrToBaudRate(std::string_view text) {
  return FromText<TBaudRate>(kBaudRateTexts, text, "bit rate");
}
std::string DataBitsToStr(TDataBits value) {
  return ToText(kDataBitsTexts, value);
}
TDataBits StrToDataBits(std::string_view text) {
  return FromText<TDataBits>(kDataBitsTexts, text, "number of data bits");
}
std::string StopBitsToStr(TStopBits value) {
  return ToText(kStopBitsTexts, value);
}
TStopBits StrToStopBits(std::string_view text) {
  return FromText<TStopBits>(kStopBitsTexts, text, "number of stop bits");
}
std::string ParityToStr(TParityBits value) {
  return ToText(kParityTexts, value);
}
TParityBits StrToParity(std::string_view text) {
  return FromText<TParityBits>(kParityTexts, text, "parity");
}
std::string FlowControlToStr(TFlowControl value) {
  return ToText(kFlowControlTexts, value);
}
TFlowControl StrToFlowControl(std::string_view text) {
  return FromText<TFlowControl>(kFlowControlTexts, text, "flow control");
}
std::string DTRToStr(TDTRFlowControl value) {
  return ToText(kDTRTexts, value);
}
TDTRFlowControl StrToDTR(std::string_view text) {
  return FromText<TDTRFlowControl>(kDTRTexts, text, "DTR control");
}
std::string RTSToStr(TRTSFlowControl value) {
  return ToText(kRTSTexts, value);
}
TRTSFlowControl StrToRTS(std::string_view text) {
  return FromText<TRTSFlowControl>(kRTSTexts, text, "RTS control");
}
std::string SyncMethodToStr(TSyncMethod value) {
  return ToText(kSyncMethodTexts, value);
}
TSyncMethod StrToSyncMethod(std::string_view text) {
  return FromText<TSyncMethod>(kSyncMethodTexts, text, "sync method");
}
std::string ThreadPriorityToStr(TThreadPriority value) {
  return ToText(kThreadPriorityTexts, value);
}
TThreadPriority StrToThreadPriority(std::string_view text) {
  return FromText<TThreadPriority>(kThreadPriorityTexts, text, "thread priority");
}
std::string EventToStr(TComEvent value) {
  return ToText(kEventTexts, value);
}
TComEvent StrToEvent(std::string_view text) {
  return FromText<TComEvent>(kEventTexts, text, "line event");
}

std::string EventsToStr(TComEvents value) {
  std::string text;
  for (size_t i = 0; i < kEventTexts.size(); ++i) {
    if (!value.Contains(static_cast<TComEvent>(i))) continue;
    if (!text.empty()) text += ", ";
    text += kEventTexts[i];
  }
  return text;
}

TComEvents StrToEvents(std::string_view text) {
  TComEvents events;
  std::string_view rest = text;
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view item = TrimText(rest.substr(0, comma));
    if (!item.empty()) {
      try {
        events.Include(StrToEvent(item));
      } catch (const EComConvert& e) {
        // The whole set is what was refused; the message points at the member that spoiled it.
        throw EComConvert("set of line events", std::string(text),
                          std::string(e.what()) + " in \"" + std::string(text) + "\"");
      }
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  return events;
}

}  // namespace serial
