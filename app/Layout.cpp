#include "app/Layout.h"

#include <array>
#include <string>

#include "app/protocol/GeneratorParameters.h"
#include "app/protocol/Telemetry.h"

namespace app {
namespace {

using protocol::ParamId;

struct TPoint {
  int left, top;
};

// One slider row of a page: its title above, the slider, "min" and "max" under its ends and the
// edit box beside it.
struct TSliderRow {
  const char* page;
  ParamId id;
  TPoint title, slider, minLabel, maxLabel, edit;
};

constexpr int kSliderWidth = 150, kSliderHeight = 33;
constexpr int kEditHeight = 21;

constexpr std::array<TSliderRow, 13> kSliderRows{{
    {"DDS", ParamId::freq, {24, 24}, {16, 40}, {24, 72}, {144, 72}, {192, 40}},
    {"DDS", ParamId::sweep, {24, 88}, {16, 104}, {24, 136}, {144, 136}, {192, 104}},
    {"Power", ParamId::power, {16, 8}, {8, 24}, {16, 56}, {136, 56}, {184, 24}},
    {"Power", ParamId::clim, {16, 72}, {8, 88}, {16, 120}, {136, 120}, {184, 88}},
    {"Power", ParamId::pwmp, {16, 136}, {8, 152}, {16, 184}, {136, 184}, {184, 152}},
    {"Power", ParamId::pwmr, {16, 200}, {8, 216}, {16, 248}, {136, 248}, {184, 216}},
    {"TabSheet4", ParamId::fss, {24, 24}, {16, 40}, {24, 72}, {152, 72}, {208, 40}},
    {"TabSheet4", ParamId::fsr, {24, 96}, {16, 112}, {24, 144}, {152, 144}, {208, 112}},
    {"TabSheet4", ParamId::fsp, {24, 168}, {16, 184}, {24, 216}, {152, 216}, {208, 184}},
    {"TabSheet1", ParamId::qf, {24, 24}, {16, 40}, {24, 72}, {152, 72}, {208, 40}},
    {"TabSheet1", ParamId::fs, {24, 96}, {16, 112}, {24, 144}, {152, 144}, {208, 112}},
    {"TabSheet1", ParamId::gf, {24, 168}, {16, 184}, {24, 216}, {152, 216}, {208, 184}},
    {"TabSheet2", ParamId::usp, {118, 8}, {15, 24}, {17, 52}, {146, 52}, {188, 24}},
}};

TLayoutItem Label(std::string name, std::string parent, TPoint at, std::string caption) {
  return {std::move(name),   TControlKind::Label, std::move(parent), at.left, at.top, 0, 0,
          std::move(caption)};
}

TLayoutItem Box(std::string name, TControlKind kind, std::string parent, TPoint at, int width,
                int height, int focus, std::string caption = {}) {
  TLayoutItem item{std::move(name), kind,   std::move(parent), at.left, at.top,
                   width,           height, std::move(caption)};
  item.focus = focus;
  return item;
}

TLayoutItem Bar(protocol::TelemetryId id, std::string parent, TPoint at, int width, int focus) {
  const protocol::TelemetryInfo& t = protocol::Info(id);
  TLayoutItem item =
      Box(std::string(t.bar), TControlKind::ProgressBar, std::move(parent), at, width, 17, focus);
  item.min = t.min;
  item.max = t.max;
  return item;
}

std::vector<TLayoutItem> Build() {
  const std::string form = kFormName;
  std::vector<TLayoutItem> items;
  items.push_back(Box("PC", TControlKind::PageControl, form, {4, 4}, 397, 293, 5));
  const std::array<std::pair<const char*, const char*>, 5> pages{{{"DDS", "DDS"},
                                                                  {"Power", "Power"},
                                                                  {"TabSheet4", "FSWM"},
                                                                  {"TabSheet1", "DMMM"},
                                                                  {"TabSheet2", "US power"}}};
  for (size_t i = 0; i < pages.size(); ++i) {
    TLayoutItem page{pages[i].first, TControlKind::Page, "PC", 0, 0, 0, 0, pages[i].second};
    page.focus = static_cast<int>(i);
    items.push_back(std::move(page));
  }

  // Within a page the operator tabs through the sliders and edit boxes row by row.
  std::string lastPage;
  int pageFocus = 0;
  for (const TSliderRow& row : kSliderRows) {
    if (row.page != lastPage) pageFocus = 0, lastPage = row.page;
    const protocol::ParameterInfo& p = protocol::Info(row.id);
    const std::string name(p.slider.substr(2));  // "TBfreq" -> "freq"
    items.push_back(Label("L" + name, row.page, row.title, std::string(p.caption)));
    TLayoutItem slider = Box(std::string(p.slider), TControlKind::TrackBar, row.page, row.slider,
                             kSliderWidth, kSliderHeight, pageFocus++);
    slider.min = p.min;
    slider.max = p.max;
    slider.position = p.initial;
    slider.frequency = p.tickFrequency;
    items.push_back(std::move(slider));
    items.push_back(Label("L" + name + "_min", row.page, row.minLabel, "min"));
    items.push_back(Label("L" + name + "_max", row.page, row.maxLabel, "max"));
    const int editWidth = row.id == ParamId::usp ? 81 : 121;
    items.push_back(Box(std::string(p.edit), TControlKind::Edit, row.page, row.edit, editWidth,
                        kEditHeight, pageFocus++));
  }

  // The telemetry rows of the "US power" page.
  const std::string us = "TabSheet2";
  items.push_back(Label("Lchf", us, {123, 120}, "HF current"));
  items.push_back(Bar(protocol::TelemetryId::hfCurrent, us, {23, 136}, 150, pageFocus++));
  items.push_back(Box("Echf", TControlKind::Edit, us, {188, 136}, 81, kEditHeight, pageFocus++));
  items.push_back(Label("Lfcor", us, {94, 168}, "Regulator output"));
  items.push_back(Bar(protocol::TelemetryId::regulator, us, {23, 184}, 150, pageFocus++));
  items.push_back(Box("Efcor", TControlKind::Edit, us, {188, 184}, 81, kEditHeight, pageFocus++));
  items.push_back(Label("Lph", us, {142, 216}, "Phase"));
  items.push_back(Bar(protocol::TelemetryId::phase, us, {23, 232}, 150, pageFocus++));
  items.push_back(Box("Eph", TControlKind::Edit, us, {188, 228}, 81, kEditHeight, pageFocus++));

  // The controls directly on the window.
  items.push_back(Bar(protocol::TelemetryId::dcCurrent, form, {16, 308}, 329, 9));
  items.push_back(Bar(protocol::TelemetryId::dcVoltage, form, {16, 340}, 329, 10));
  items.push_back(Bar(protocol::TelemetryId::dcPower, form, {16, 372}, 329, 11));
  items.push_back(Box("Eacc", TControlKind::Edit, form, {368, 304}, 81, kEditHeight, 8));
  items.push_back(Box("Ereg", TControlKind::Edit, form, {368, 336}, 81, kEditHeight, 7));
  items.push_back(Box("Edc_power", TControlKind::Edit, form, {368, 368}, 81, kEditHeight, 6));
  items.push_back(Label("Label66", form, {464, 312}, "DC current"));
  items.push_back(Label("Label24", form, {464, 344}, "DC voltage"));
  items.push_back(Label("Label40", form, {464, 376}, "DC power"));
  items.push_back(Box("Sh", TControlKind::Shape, form, {360, 408}, 33, 57, -1));
  items.push_back(Box("CB", TControlKind::ComboBox, form, {16, 408}, 89, 21, 13));
  items.push_back(Box("BO", TControlKind::Button, form, {112, 408}, 75, 25, 12, "Connect"));
  items.push_back(Box("Button4", TControlKind::Button, form, {400, 408}, 75, 25, 3, "Start"));
  items.push_back(Box("Button5", TControlKind::Button, form, {400, 440}, 75, 25, 4, "Stop"));
  items.push_back(Box("Button3", TControlKind::Button, form, {480, 408}, 75, 25, 2, "Write"));
  items.push_back(Box("Button2", TControlKind::Button, form, {480, 440}, 75, 25, 1, "Read"));
  items.push_back(Box("Button1", TControlKind::Button, form, {480, 472}, 75, 25, 0, "Exit"));
  items.push_back(Label("Label41", form, {16, 448}, "Software release -"));
  items.push_back(Label("Lsr", form, {104, 448}, "Unknown"));
  items.push_back(Label("Lcpb", form, {184, 448}, "COM port busy"));
  items.push_back(Box("Image1", TControlKind::Image, form, {8, 480}, 449, 73, -1));
  return items;
}

}  // namespace

const std::vector<std::string>& ComPortItems() {
  static const std::vector<std::string> items = [] {
    std::vector<std::string> names;
    for (int n = 1; n <= 10; ++n) names.push_back("COM" + std::to_string(n));
    return names;
  }();
  return items;
}

const std::vector<TLayoutItem>& MainFormLayout() {
  static const std::vector<TLayoutItem> layout = Build();
  return layout;
}

}  // namespace app
