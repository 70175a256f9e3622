#include "app/MainForm.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "app/ExchangeCycle.h"
#include "app/Layout.h"
#include "app/protocol/ExchangeSteps.h"
#include "app/protocol/Frames.h"
#include "app/protocol/Telemetry.h"
#include "platform/Application.h"
#include "serial/ComError.h"

namespace app {
namespace {

using protocol::ParamId;

constexpr TColor kTeal = 0x808000;
constexpr TColor kOrange = 0x0080FF;
constexpr TColor kNavy = 0x800000;
constexpr TColor kGrey = 0x808080;

// A read or write that fails in a tick means the device has gone (unplugged, switched off).
bool IsTransferFailure(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const serial::EComPort& e) {
    return e.ErrorCode() == serial::ecode::kReadFile || e.ErrorCode() == serial::ecode::kWriteFile;
  } catch (...) {
    return false;
  }
}

std::unique_ptr<TControl> MakeControl(const TLayoutItem& item) {
  switch (item.kind) {
    case TControlKind::PageControl:
      return std::make_unique<TPageControl>(item.name);
    case TControlKind::TrackBar: {
      auto bar = std::make_unique<TTrackBar>(item.name);
      // Design-time positions raise no change: no handler is attached yet in any case.
      bar->Init(item.min, item.max, item.position);
      bar->SetFrequency(item.frequency);
      return bar;
    }
    case TControlKind::ProgressBar: {
      auto bar = std::make_unique<TProgressBar>(item.name);
      bar->Init(item.min, item.max);
      return bar;
    }
    case TControlKind::Edit: {
      auto edit = std::make_unique<TEdit>(item.name);
      edit->SetText(item.name);  // the design text, replaced by FormCreate
      return edit;
    }
    case TControlKind::Label: {
      auto label = std::make_unique<TLabel>(item.name);
      label->SetCaption(item.caption);
      return label;
    }
    case TControlKind::Shape: {
      auto shape = std::make_unique<TShape>(item.name);
      shape->SetBrushColor(protocol::kColourPurple);
      shape->SetPenColor(kGrey);
      shape->SetPenWidth(3);
      return shape;
    }
    case TControlKind::ComboBox: {
      auto combo = std::make_unique<TComboBox>(item.name);
      combo->SetItems(ComPortItems());
      return combo;
    }
    case TControlKind::Button: {
      auto button = std::make_unique<TButton>(item.name);
      button->SetCaption(item.caption);
      return button;
    }
    case TControlKind::Page:
    case TControlKind::Image:
      break;
  }
  return std::make_unique<TControl>(item.name);
}

std::vector<std::unique_ptr<TControl>> BuildControls() {
  std::vector<std::unique_ptr<TControl>> controls;
  TPageControl* pc = nullptr;
  for (const TLayoutItem& item : MainFormLayout()) {
    controls.push_back(MakeControl(item));
    if (item.kind == TControlKind::PageControl)
      pc = dynamic_cast<TPageControl*>(controls.back().get());
    if (item.kind == TControlKind::Page && pc) pc->AddPage(item.name, item.caption);
  }
  return controls;
}

template <typename T>
T& Get(const std::vector<std::unique_ptr<TControl>>& controls, const std::string& name) {
  for (const auto& c : controls) {
    if (c->Name() == name) return dynamic_cast<T&>(*c);
  }
  throw std::logic_error("no control " + name + " in the layout");
}

}  // namespace

TMainForm::TMainForm(platform::ComDeviceOpener opener)
    : controls_(BuildControls()),
      PC(Get<TPageControl>(controls_, "PC")),
      PBac_current(Get<TProgressBar>(controls_, "PBac_current")),
      PBreg(Get<TProgressBar>(controls_, "PBreg")),
      PBdc_power(Get<TProgressBar>(controls_, "PBdc_power")),
      PBchf(Get<TProgressBar>(controls_, "PBchf")),
      PBfcor(Get<TProgressBar>(controls_, "PBfcor")),
      PBph(Get<TProgressBar>(controls_, "PBph")),
      Eacc(Get<TEdit>(controls_, "Eacc")),
      Ereg(Get<TEdit>(controls_, "Ereg")),
      Edc_power(Get<TEdit>(controls_, "Edc_power")),
      Echf(Get<TEdit>(controls_, "Echf")),
      Efcor(Get<TEdit>(controls_, "Efcor")),
      Eph(Get<TEdit>(controls_, "Eph")),
      Sh(Get<TShape>(controls_, "Sh")),
      CB(Get<TComboBox>(controls_, "CB")),
      BO(Get<TButton>(controls_, "BO")),
      Button1(Get<TButton>(controls_, "Button1")),
      Button2(Get<TButton>(controls_, "Button2")),
      Button3(Get<TButton>(controls_, "Button3")),
      Button4(Get<TButton>(controls_, "Button4")),
      Button5(Get<TButton>(controls_, "Button5")),
      Lsr(Get<TLabel>(controls_, "Lsr")),
      Lcpb(Get<TLabel>(controls_, "Lcpb")) {
  for (const protocol::ParameterInfo& p : protocol::kParameters) {
    sliders_[Index(p.id)] = &Get<TTrackBar>(controls_, std::string(p.slider));
    edits_[Index(p.id)] = &Get<TEdit>(controls_, std::string(p.edit));
  }

  // The panel's line: 19200 bit/s, 8 data bits, no parity, one stop bit, DTR held off, RTS raised
  // around each transmission, no handshake, every line event watched. The port stays closed.
  if (opener) CP.SetDeviceOpener(std::move(opener));
  CP.SetPort("COM1");
  CP.SetBaudRate(serial::br19200);
  CP.SetDataBits(serial::dbEight);
  CP.Parity().SetBits(serial::prNone);
  CP.SetStopBits(serial::sbOneStopBit);
  CP.Events = serial::kAllComEvents;
  CP.FlowControl().SetOutCTSFlow(false);
  CP.FlowControl().SetOutDSRFlow(false);
  CP.FlowControl().SetControlDTR(serial::dtrDisable);
  CP.FlowControl().SetControlRTS(serial::rtsToggle);
  CP.FlowControl().SetXonXoffOut(false);
  CP.FlowControl().SetXonXoffIn(false);

  // Handlers are attached only now, after every design-time position is in place.
  for (const protocol::ParameterInfo& p : protocol::kParameters) {
    Slider(p.id).OnChange = [this, id = p.id] { TBChange(id); };
  }
  PC.OnChange = [this] { PCChange(); };
  BO.OnClick = [this] { BOClick(); };
  Button1.OnClick = [this] { Button1Click(); };
  Button2.OnClick = [this] { Button2Click(); };
  Button3.OnClick = [this] { Button3Click(); };
  Button4.OnClick = [this] { Button4Click(); };
  Button5.OnClick = [this] { Button5Click(); };
  Timer1.SetInterval(100);
  Timer1.SetEnabled(true);
  Timer1.OnTimer = [this] { TimerTick(); };

  FormCreate();
}

TMainForm::~TMainForm() = default;  // CP closes an open port as it goes

TControl* TMainForm::FindControl(std::string_view name) const {
  for (const auto& c : controls_) {
    if (c->Name() == name) return c.get();
  }
  return nullptr;
}

void TMainForm::FormCreate() {
  CB.SetText("COM1");
  PC.SetActivePageIndex(SavedPageIndex);
  PBreg.SetBarColor(kTeal);
  PBdc_power.SetBarColor(kOrange);
  PBfcor.SetBarColor(kNavy);
  ExchangeStep = protocol::kFirstStep;
  for (std::string_view name : protocol::kFormCreateWaitingEdits) {
    Control<TEdit>(name).SetText(std::string(protocol::kWaitingText));
  }
}

void TMainForm::PCChange() {
  SavedPageIndex = PC.ActivePageIndex();
}

void TMainForm::TBChange(ParamId id) {
  const int32_t value = protocol::ValueFromPosition(id, Slider(id).Position());
  TGeneratorParameter& p = Parameter(id);
  p.Pending = value;
  p.Changed = true;
  ParamEdit(id).SetText(protocol::FormatValue(id, value));
}

void TMainForm::BOClick() {
  // The operator learns the outcome from "COM port busy", which the next tick hides once the
  // port is open.
  try {
    CP.SetPort(CB.Text());
    CP.Open();
  } catch (...) {
  }
}

void TMainForm::Button1Click() {
  if (OnCloseRequest) OnCloseRequest();
}

void TMainForm::Button2Click() {
  ExchangeStep = protocol::kFirstStep;
  for (std::string_view name : protocol::kReadButtonWaitingEdits) {
    Control<TEdit>(name).SetText(std::string(protocol::kWaitingText));
  }
}

void TMainForm::Button3Click() {
  SendCommand(protocol::kWordWrite);
}
void TMainForm::Button4Click() {
  SendCommand(protocol::kWordStart);
}
void TMainForm::Button5Click() {
  SendCommand(protocol::kWordStop);
}

void TMainForm::SendCommand(std::string_view word) {
  const bool wasConnected = CP.Connected();
  try {
    for (int unit : protocol::kCommandUnits) SendFrame(*this, protocol::CommandFrame(unit, word));
  } catch (const serial::EComPort&) {
    // On an open port a failed write means the device has gone: release it now, so that the
    // next tick does not report the same loss a second time.
    if (wasConnected) LosePort();
    throw;
  }
}

void TMainForm::Timer1Timer() {
  ExchangeTick(*this);
}

void TMainForm::LosePort() {
  try {
    CP.Close();
  } catch (...) {
    // The port is released whatever Close reports; the loss itself is what the operator sees.
  }
  Lcpb.SetVisible(true);
  Sh.SetBrushColor(protocol::kColourPurple);  // the values shown are the last ones before the loss
}

void TMainForm::TimerTick() {
  // The error box is modal and the timer keeps firing inside it: hold the cycle while it shows,
  // so that one failure gives one box.
  if (holdingCycle_) return;
  try {
    Timer1Timer();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    {
      holdingCycle_ = true;
      struct Release {
        bool& flag;
        ~Release() { flag = false; }
      } release{holdingCycle_};
      platform::HandleException(error);
    }
    if (IsTransferFailure(error)) LosePort();  // the operator presses Connect once it is back
  }
}

}  // namespace app
