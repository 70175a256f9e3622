#pragma once
// The control panel's window on Windows: the form's controls as native controls (tab control,
// trackbars, edits, smooth progress bars, statics, push buttons, an editable drop-down list and a
// drawn lamp), built from the layout table at their places on their parents and bound to the
// controls, with the form's timer on the thread's message loop. The window owns the form, so
// destroying the window destroys CP, which closes the port.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "platform/ComDevice.h"

namespace app {
struct TLayoutItem;
}

namespace app::win32 {

// A window handle without the system's headers.
using THandle = void*;

// The common controls, the window classes, the error box as the application's exception handler,
// and this thread as the main thread whose loop serves the calls the port's worker hands over.
// Call once, on the thread that runs the loop, before any window is made.
void SetUpPanelApplication();
// Undoes the hooks of SetUpPanelApplication, once no window and no port is left.
void TearDownPanelApplication();

class TMainWindow {
 public:
  // `opener` gives CP its devices; empty means the operating system's.
  explicit TMainWindow(platform::ComDeviceOpener opener = {});
  ~TMainWindow();
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  TMainForm& Form() const { return *form_; }
  THandle Handle() const { return window_; }
  // The native control of a layout name (a page's name gives its sheet); null if unknown.
  THandle Widget(const std::string& name) const;
  // The controls that take the focus, in the order Tab visits them.
  const std::vector<THandle>& FocusOrder() const { return focusOrder_; }
  // The pixels per inch the layout is drawn for: the monitor's, the layout's 96 scaled to it.
  unsigned Dpi() const { return dpi_; }

  void Show();
  // Runs the thread's message loop until the window is destroyed.
  void Run();
  // One round of the loop for what is waiting now, without blocking; false once the window is
  // gone. Tests drive the window with it.
  bool ProcessPending();

  // The window procedure's work, for the procedure of the window class.
  intptr_t Handle(THandle window, unsigned message, uintptr_t wParam, intptr_t lParam);

 private:
  struct TBinding;
  void BuildWidgets();
  void BuildFocusOrder();
  bool Dispatch(void* message);  // one message through the keyboard rules and the procedure
  void ShowPage(int index);
  // The operator's choice of a page, by mouse or keyboard: the sheet shown and the form told.
  void SelectPage(int index);
  // Ctrl+Tab: the next page (or the previous one), from wherever the focus is.
  void StepPage(int step);
  // Tab: the next control of the focus order that is shown and enabled (or the previous one).
  void StepFocus(int step);
  void FocusFromKeyboard(THandle control);

  int Scale(int length) const;
  // Font, window size and every control's place for `dpi`; `suggested` is the window's new
  // rectangle when the system moved it to a monitor of another DPI.
  void ApplyDpi(unsigned dpi, const void* suggested);
  void PlaceItem(const TLayoutItem& item, THandle native) const;
  // The labels of a row are sized to their captions; one that would run into the label before
  // it starts after it instead.
  void PlaceLabelRow(const TLayoutItem& label) const;

  std::unique_ptr<TMainForm> form_;
  THandle window_ = nullptr;
  unsigned dpi_ = 96;
  THandle font_ = nullptr;
  THandle picture_ = nullptr;
  std::map<std::string, THandle> widgets_;
  std::map<THandle, TBinding*> byHandle_;
  std::vector<std::unique_ptr<TBinding>> bindings_;
  std::vector<THandle> focusOrder_;
  std::vector<THandle> sheets_;
};

}  // namespace app::win32
