#pragma once
// TMainForm: the control panel's window logic. It owns the controls (built from the layout table),
// the timer, the serial port CP and the window state, and holds every handler. The Qt view mirrors
// the controls into widgets and feeds the operator's actions back; headless tests drive the same
// handlers directly.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/controls/Control.h"
#include "app/controls/ProgressBar.h"
#include "app/controls/StdControls.h"
#include "app/controls/TrackBar.h"
#include "app/protocol/GeneratorParameters.h"
#include "platform/ComDevice.h"
#include "serial/ComPort.h"

namespace app {

// One adjustable generator setting's state: the value waiting to be sent, in the generator's
// units, and whether the operator has changed it since the last flush. Received: a reply has
// given the value since the program started; until then the pending value is only the initial
// 0, which the window must not show as the generator's.
struct TGeneratorParameter {
  int32_t Pending = 0;
  bool Changed = false;
  bool Received = false;
};

class TMainForm {
 public:
  // `opener` gives CP its devices; empty means the operating system's.
  explicit TMainForm(platform::ComDeviceOpener opener = {});
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Handlers.
  void FormCreate();
  void PCChange();
  void TBChange(protocol::ParamId id);  // the thirteen slider change handlers share this
  void BOClick();
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button4Click();
  void Button5Click();
  void Timer1Timer();

  // The view closes the window when asked (Exit); headless, nothing happens.
  std::function<void()> OnCloseRequest;

  // Every control by name, as the layout table names them.
  TControl* FindControl(std::string_view name) const;
  template <typename T>
  T& Control(std::string_view name) const {
    return dynamic_cast<T&>(*FindControl(name));
  }
  TTrackBar& Slider(protocol::ParamId id) const { return *sliders_[Index(id)]; }
  TEdit& ParamEdit(protocol::ParamId id) const { return *edits_[Index(id)]; }
  TGeneratorParameter& Parameter(protocol::ParamId id) { return parameters_[Index(id)]; }

 private:
  std::vector<std::unique_ptr<TControl>>
      controls_;  // declared first: the references below bind to it

 public:
  TPageControl& PC;
  TProgressBar& PBac_current;
  TProgressBar& PBreg;
  TProgressBar& PBdc_power;
  TProgressBar& PBchf;
  TProgressBar& PBfcor;
  TProgressBar& PBph;
  TEdit& Eacc;
  TEdit& Ereg;
  TEdit& Edc_power;
  TEdit& Echf;
  TEdit& Efcor;
  TEdit& Eph;
  TShape& Sh;
  TComboBox& CB;
  TButton& BO;
  TButton& Button1;
  TButton& Button2;
  TButton& Button3;
  TButton& Button4;
  TButton& Button5;
  TLabel& Lsr;
  TLabel& Lcpb;
  TTimer Timer1;
  serial::TComPort CP;

  int SavedPageIndex = 0;
  int8_t ExchangeStep = 0;

 private:
  static size_t Index(protocol::ParamId id) { return static_cast<size_t>(id); }
  void SendCommand(std::string_view word);
  void LosePort();   // a failed transfer: release the port and show "COM port busy"
  void TimerTick();  // Timer1's tick: the cycle, held while its error is shown
  bool holdingCycle_ = false;

  std::array<TTrackBar*, 13> sliders_{};
  std::array<TEdit*, 13> edits_{};
  std::array<TGeneratorParameter, 13> parameters_{};
};

}  // namespace app
