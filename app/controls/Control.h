#pragma once
// The window's controls as plain values. They hold what the window shows and enforce the
// widget rules the exchange cycle relies on; they know nothing of the toolkit. A view (the Qt
// layer, or nothing in headless tests) watches OnViewChange and re-reads the control.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace app {

// Colours are 0x00BBGGRR; clDefault asks for the style's own colour.
using TColor = uint32_t;
inline constexpr TColor clDefault = 0xFF000000u;

using TNotifyEvent = std::function<void()>;

class TControl {
 public:
  explicit TControl(std::string name) : name_(std::move(name)) {}
  virtual ~TControl() = default;
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  const std::string& Name() const { return name_; }

  bool Visible() const { return visible_; }
  void SetVisible(bool v) { Assign(visible_, v); }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { Assign(enabled_, v); }

  // Told after every change of what the control shows; the view re-reads the control.
  TNotifyEvent OnViewChange;

 protected:
  template <typename T>
  void Assign(T& field, const T& value) {
    if (field == value) return;
    field = value;
    ViewChanged();
  }
  void ViewChanged() {
    if (OnViewChange) OnViewChange();
  }

 private:
  std::string name_;
  bool visible_ = true;
  bool enabled_ = true;
};

}  // namespace app
