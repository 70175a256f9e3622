#pragma once
// The simple controls: they hold a text or a colour and tell the view when it changes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/controls/Control.h"

namespace app {

// A single-line edit box. The program writes it; what the operator types has no effect, so the
// view does not feed typing back.
class TEdit : public TControl {
 public:
  using TControl::TControl;
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { Assign(text_, text); }

 private:
  std::string text_;
};

class TLabel : public TControl {
 public:
  using TControl::TControl;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { Assign(caption_, caption); }

 private:
  std::string caption_;
};

// The rounded-rectangle lamp.
class TShape : public TControl {
 public:
  using TControl::TControl;
  TColor BrushColor() const { return brushColor_; }
  void SetBrushColor(TColor colour) { Assign(brushColor_, colour); }
  TColor PenColor() const { return penColor_; }
  void SetPenColor(TColor colour) { Assign(penColor_, colour); }
  int PenWidth() const { return penWidth_; }
  void SetPenWidth(int width) { Assign(penWidth_, width); }

 private:
  TColor brushColor_ = 0xFFFFFF;
  TColor penColor_ = 0x000000;
  int penWidth_ = 1;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { Assign(caption_, caption); }
  // The operator clicked it.
  void Click() {
    if (OnClick) OnClick();
  }
  TNotifyEvent OnClick;

 private:
  std::string caption_;
};

// The drop-down list with editable text: the text is what Connect reads, picked or typed.
class TComboBox : public TControl {
 public:
  using TControl::TControl;
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items) { Assign(items_, items); }
  const std::string& Text() const { return text_; }
  void SetText(std::string text) { Assign(text_, text); }
  // The operator picked an item or typed: the text follows without echoing back to the view.
  void OperatorText(std::string text) { text_ = std::move(text); }

 private:
  std::vector<std::string> items_;
  std::string text_;
};

// The tabbed page control. Selecting a page from code does not notify; the operator's does.
class TPageControl : public TControl {
 public:
  using TControl::TControl;
  struct TPage {
    std::string name;
    std::string caption;
  };
  const std::vector<TPage>& Pages() const { return pages_; }
  void AddPage(std::string name, std::string caption) {
    pages_.push_back({std::move(name), std::move(caption)});
    ViewChanged();
  }
  int ActivePageIndex() const { return active_; }
  void SetActivePageIndex(int index) {
    if (index >= 0 && static_cast<size_t>(index) < pages_.size()) Assign(active_, index);
  }
  void OperatorSelect(int index) {
    if (index < 0 || static_cast<size_t>(index) >= pages_.size() || index == active_) return;
    active_ = index;
    if (OnChange) OnChange();
  }
  TNotifyEvent OnChange;

 private:
  std::vector<TPage> pages_;
  int active_ = 0;
};

// A periodic timer whose ticks the message loop runs; the view owns the real clock.
class TTimer {
 public:
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t ms) { interval_ = ms; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on) { enabled_ = on; }
  void Tick() {
    if (enabled_ && OnTimer) OnTimer();
  }
  TNotifyEvent OnTimer;

 private:
  uint32_t interval_ = 1000;
  bool enabled_ = true;
};

}  // namespace app
