#include "widgets/ComSetting.h"

#include <array>
#include <exception>
#include <utility>

#include "serial/ComError.h"
#include "serial/ComPort.h"
#include "serial/extras/ComStrings.h"

namespace widgets {
namespace {

template <typename E, size_t N>
std::vector<std::string> Texts(const std::array<E, N>& members, std::string (*text)(E)) {
  std::vector<std::string> items;
  items.reserve(N);
  for (E member : members) items.push_back(text(member));
  return items;
}

using namespace serial;

constexpr std::array kRates = {br110,    br300,    br600,    br1200,  br2400,  br4800,
                               br9600,   br14400,  br19200,  br38400, br56000, br57600,
                               br115200, br128000, br256000, brCustom};
constexpr std::array kDataBits = {dbFive, dbSix, dbSeven, dbEight};
constexpr std::array kStopBits = {sbOneStopBit, sbOne5StopBits, sbTwoStopBits};
constexpr std::array kParities = {prNone, prOdd, prEven, prMark, prSpace};
constexpr std::array kFlows = {fcNone, fcHardware, fcSoftware, fcCustom};

}  // namespace

std::vector<std::string> ComSettingItems(TComSettingKind kind) {
  switch (kind) {
    case csPort:
      return {};
    case csBaudRate:
      return Texts(kRates, BaudRateToStr);
    case csDataBits:
      return Texts(kDataBits, DataBitsToStr);
    case csStopBits:
      return Texts(kStopBits, StopBitsToStr);
    case csParity:
      return Texts(kParities, ParityToStr);
    case csFlowControl:
      return Texts(kFlows, FlowControlToStr);
  }
  return {};
}

std::string ComSettingText(const TCustomComPort& port, TComSettingKind kind) {
  switch (kind) {
    case csPort:
      return port.Port();
    case csBaudRate:
      return BaudRateToStr(port.BaudRate());
    case csDataBits:
      return DataBitsToStr(port.DataBits());
    case csStopBits:
      return StopBitsToStr(port.StopBits());
    case csParity:
      return ParityToStr(port.Parity().Bits());
    case csFlowControl:
      return FlowControlToStr(port.FlowControl().FlowControl());
  }
  return {};
}

void SetComSettingText(TCustomComPort& port, TComSettingKind kind, const std::string& text) {
  switch (kind) {
    case csPort:
      port.SetPort(std::string(TrimText(text)));
      break;
    case csBaudRate:
      port.SetBaudRate(StrToBaudRate(text));
      break;
    case csDataBits:
      port.SetDataBits(StrToDataBits(text));
      break;
    case csStopBits:
      port.SetStopBits(StrToStopBits(text));
      break;
    case csParity:
      port.Parity().SetBits(StrToParity(text));
      break;
    case csFlowControl: {
      // Choosing the preset the port already amounts to leaves its fields as they are: "Custom"
      // chosen again must not be taken for a wish to re-apply.
      const TFlowControl value = StrToFlowControl(text);
      if (value != port.FlowControl().FlowControl()) port.FlowControl().SetFlowControl(value);
      break;
    }
  }
}

TComSettingBinding::TComSettingBinding(std::function<void()> show) : show_(std::move(show)) {
  link_.OnSettingsChange = [this](TCustomComPort&) {
    if (Text() != shown_) Show();
  };
}

TComSettingBinding::~TComSettingBinding() {
  if (port_) port_->UnRegisterLink(&link_);
}

void TComSettingBinding::SetComPort(TCustomComPort* port) {
  if (port == port_) return;
  if (port_) port_->UnRegisterLink(&link_);
  port_ = port;
  if (port_) port_->RegisterLink(&link_);
  Show();
}

void TComSettingBinding::SetKind(TComSettingKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  Show();
}

std::string TComSettingBinding::Text() const {
  return port_ ? ComSettingText(*port_, kind_) : std::string();
}

bool TComSettingBinding::Select(const std::string& text, const TRefusedEvent& refused) {
  if (!port_) return false;
  const std::string before = Text();
  try {
    SetComSettingText(*port_, kind_, text);
    return true;
  } catch (const EComPort& e) {
    // The port keeps a refused value as stored: given back the one it held, its driver and
    // its settings agree again. If even that fails the port shows what it holds.
    try {
      SetComSettingText(*port_, kind_, before);
    } catch (const std::exception&) {
    }
    Show();
    if (refused) refused(e);
    return false;
  }
}

void TComSettingBinding::Show() {
  shown_ = Text();
  if (show_) show_();
}

}  // namespace widgets
