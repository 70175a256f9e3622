#pragma once
// The main window's layout as data: every control with its parent, place, size, caption and
// settings. The form builds its controls from it and the Qt view builds its widgets from the same
// table, so the two cannot drift apart.

#include <cstdint>
#include <string>
#include <vector>

namespace app {

enum class TControlKind : uint8_t {
  PageControl,
  Page,
  TrackBar,
  ProgressBar,
  Edit,
  Label,
  Shape,
  ComboBox,
  Button,
  Image,
};

struct TLayoutItem {
  std::string name;
  TControlKind kind;
  std::string parent;  // "MainForm", "PC", or a page's name
  int left = 0, top = 0;
  int width = 0, height = 0;               // 0 x 0: a label sized to its caption
  std::string caption;                     // label, button and page captions
  int32_t min = 0, max = 0, position = 0;  // sliders and bars
  int32_t frequency = 0;                   // slider tick frequency, 0: ticks at the ends only
  int focus = -1;                          // tab order among the parent's controls, -1: none
};

inline constexpr const char* kFormName = "MainForm";
inline constexpr const char* kFormCaption = "Valtrex ultrasonic generator control panel";
inline constexpr int kFormLeft = 397, kFormTop = 50;
inline constexpr int kClientWidth = 561, kClientHeight = 558;

// The ports offered in CB; any other name may be typed.
const std::vector<std::string>& ComPortItems();

// Every control of the window, parents before their children, pages in tab order.
const std::vector<TLayoutItem>& MainFormLayout();

}  // namespace app
