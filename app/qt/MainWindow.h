#pragma once
// The control panel's window: the form's controls as widgets, built from the layout table at
// their places on their parents, bound to the controls, with the form's timer on the message
// loop. The window owns the form, so closing and destroying the window destroys CP, which closes
// the port.

#include <QTimer>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "platform/ComDevice.h"

namespace app {

class TMainWindow : public QWidget {
 public:
  // `opener` gives CP its devices; empty means the operating system's.
  explicit TMainWindow(platform::ComDeviceOpener opener = {});
  ~TMainWindow() override;
  TMainWindow(const TMainWindow&) = delete;
  TMainWindow& operator=(const TMainWindow&) = delete;

  TMainForm& Form() const { return *form_; }

  // The widget of a control or page, by the layout's name; null for an unknown name.
  QWidget* Widget(const std::string& name) const;
  template <typename T>
  T* WidgetAs(const std::string& name) const {
    return dynamic_cast<T*>(Widget(name));
  }

  // The widgets that take focus, in the order Tab visits them.
  const std::vector<QWidget*>& FocusOrder() const { return focusOrder_; }

  // The clock behind Timer1.
  QTimer& Clock() const { return *clock_; }

 private:
  void BuildWidgets();
  void BuildFocusOrder();

  std::unique_ptr<TMainForm> form_;
  std::map<std::string, QWidget*> widgets_;  // children of this window; Qt owns them
  std::vector<QWidget*> focusOrder_;
  QTimer* clock_ = nullptr;
};

}  // namespace app
