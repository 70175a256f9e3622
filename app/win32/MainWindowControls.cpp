// The Win32 window's controls: built from the layout and bound to the form; Tab and Ctrl+Tab.
#include "app/win32/MainWindow.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "app/Edge.h"
#include "app/Layout.h"

// The system's headers come after the project's: their macros (SendMessage, DefWindowProc) would
// rename the message loop's functions in the project's headers.
#include <windows.h>
//
#include <commctrl.h>
#include <uxtheme.h>

#include "app/win32/MainWindowInternal.h"

namespace app::win32 {
namespace {

constexpr UINT kPbmSetBarColor = 1033;  // PBM_SETBARCOLOR

// The edit boxes that keep their caret when entered with the keyboard instead of selecting their
// whole text.
constexpr std::array<std::string_view, 4> kNoAutoSelect = {"Eacc", "Ereg", "Edc_power", "Egf"};

// An edit box entered with Tab normally selects its text; these keep the caret.
LRESULT CALLBACK KeepCaretProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR) {
  const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
  return message == WM_GETDLGCODE ? (result & ~DLGC_HASSETSEL) : result;
}

void ShowState(HWND window, const TControl& control) {
  ShowWindow(window, control.Visible() ? SW_SHOWNA : SW_HIDE);
  EnableWindow(window, control.Enabled());
}

}  // namespace

void TMainWindow::BuildWidgets() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  widgets_[kFormName] = window_;
  for (const TLayoutItem& item : MainFormLayout()) {
    TControl* control = form_->FindControl(item.name);
    HWND parent = H(widgets_.at(item.parent));
    const char* cls = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    switch (item.kind) {
      case TControlKind::PageControl:
        cls = WC_TABCONTROLA;
        style |= WS_TABSTOP | WS_CLIPCHILDREN;
        exStyle = WS_EX_CONTROLPARENT;
        break;
      case TControlKind::Page:
        // A sheet fills the tab control's display area; its controls are placed on it.
        cls = kSheetClass;
        style = WS_CHILD | WS_CLIPSIBLINGS;
        exStyle = WS_EX_CONTROLPARENT;
        break;
      case TControlKind::TrackBar:
        // No automatic ticks: the trackbar then marks its two ends only.
        cls = TRACKBAR_CLASSA;
        style |= WS_TABSTOP | TBS_HORZ | TBS_BOTTOM;
        break;
      case TControlKind::ProgressBar:
        cls = PROGRESS_CLASSA;
        style |= PBS_SMOOTH;
        break;
      case TControlKind::Edit:
        cls = "EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case TControlKind::Label:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case TControlKind::Shape:
      case TControlKind::Image:
        cls = kGraphicClass;
        break;
      case TControlKind::ComboBox:
        cls = "COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
        break;
      case TControlKind::Button:
        cls = "BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    }
    HWND native =
        CreateWindowExA(exStyle, cls, "", style, 0, 0, 0, 0, parent, nullptr, instance, this);
    if (!native) throw std::runtime_error("the control " + item.name + " could not be created");
    SendMessageA(native, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    widgets_[item.name] = native;

    if (item.kind == TControlKind::PageControl) {
      auto& pages = dynamic_cast<TPageControl&>(*control);
      for (size_t i = 0; i < pages.Pages().size(); ++i) {
        std::string caption = pages.Pages()[i].caption;
        TCITEMA tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = caption.data();
        SendMessageA(native, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&tab));
      }
    }
    PlaceItem(item, native);
    if (item.kind == TControlKind::Page) {
      sheets_.push_back(native);
      continue;  // pages are shown by the page control's binding
    }
    if (item.kind == TControlKind::Edit &&
        std::find(kNoAutoSelect.begin(), kNoAutoSelect.end(), item.name) != kNoAutoSelect.end()) {
      SetWindowSubclass(native, KeepCaretProc, 1, 0);
    }

    auto binding = std::make_unique<TBinding>(TBinding{item, *control, native, {}});
    TBinding& b = *binding;
    switch (item.kind) {
      case TControlKind::PageControl:
        b.refresh = [this, &b] {
          auto& pages = dynamic_cast<TPageControl&>(b.control);
          SendMessageA(b.window, TCM_SETCURSEL, static_cast<WPARAM>(pages.ActivePageIndex()), 0);
          ShowPage(pages.ActivePageIndex());
          ShowState(b.window, b.control);
        };
        break;
      case TControlKind::TrackBar:
        b.refresh = [&b] {
          auto& bar = dynamic_cast<TTrackBar&>(b.control);
          SendMessageA(b.window, TBM_SETRANGEMIN, FALSE, bar.Min());
          SendMessageA(b.window, TBM_SETRANGEMAX, FALSE, bar.Max());
          SendMessageA(b.window, TBM_SETLINESIZE, 0, bar.LineSize());
          SendMessageA(b.window, TBM_SETPAGESIZE, 0, bar.PageSize());
          SendMessageA(b.window, TBM_SETPOS, TRUE, bar.Position());
          // The whole control is drawn again: some trackbars leave the old thumb behind.
          InvalidateRect(b.window, nullptr, TRUE);
          ShowState(b.window, b.control);
        };
        break;
      case TControlKind::ProgressBar:
        b.refresh = [&b, unthemed = false]() mutable {
          auto& bar = dynamic_cast<TProgressBar&>(b.control);
          if (bar.Min() <= bar.Max()) SendMessageA(b.window, PBM_SETRANGE32, bar.Min(), bar.Max());
          SendMessageA(b.window, PBM_SETPOS, static_cast<WPARAM>(bar.Position()), 0);
          // Under visual styles a bar is drawn in the theme's colour whatever it is told: a bar
          // of its own colour is drawn without the theme, named by a class list no theme has (an
          // empty one, which Windows takes too, Wine 8 refuses and leaves the theme on).
          const bool coloured = bar.BarColor() != clDefault;
          if (coloured != unthemed) {
            SetWindowTheme(b.window, coloured ? L" " : nullptr, coloured ? L" " : nullptr);
            // The bar swaps the theme's frame for the classic edge, drawn once its frame is
            // measured again.
            SetWindowPos(
                b.window, nullptr, 0, 0, 0, 0,
                SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
            unthemed = coloured;
          }
          const COLORREF colour = coloured ? ToColorRef(bar.BarColor()) : CLR_DEFAULT;
          SendMessageA(b.window, kPbmSetBarColor, 0, static_cast<LPARAM>(colour));
          ShowState(b.window, b.control);
        };
        break;
      case TControlKind::Edit:
        b.refresh = [&b] {
          SetText(b.window, dynamic_cast<TEdit&>(b.control).Text());
          ShowState(b.window, b.control);
        };
        break;
      case TControlKind::Label:
        b.refresh = [this, &b] {
          SetText(b.window, dynamic_cast<TLabel&>(b.control).Caption());
          // Sized to its caption, as the layout leaves it, and so are the others of its row.
          PlaceLabelRow(b.item);
          ShowState(b.window, b.control);
        };
        break;
      case TControlKind::Shape:
      case TControlKind::Image:
        b.refresh = [&b] {
          InvalidateRect(b.window, nullptr, TRUE);
          ShowState(b.window, b.control);
        };
        break;
      case TControlKind::ComboBox:
        b.refresh = [&b] {
          auto& combo = dynamic_cast<TComboBox&>(b.control);
          std::vector<std::string> shown;
          const auto count = SendMessageA(b.window, CB_GETCOUNT, 0, 0);
          for (LRESULT i = 0; i < count; ++i) {
            std::string text(static_cast<size_t>(SendMessageA(b.window, CB_GETLBTEXTLEN, i, 0)) + 1,
                             '\0');
            text.resize(static_cast<size_t>(
                SendMessageA(b.window, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
            shown.push_back(std::move(text));
          }
          // The ports found when the list last opened follow the layout's names and stay.
          const auto& items = combo.Items();
          if (shown.size() < items.size() ||
              !std::equal(items.begin(), items.end(), shown.begin())) {
            std::vector<TPortListEntry> entries;
            for (const std::string& item : items) entries.push_back({item, {}});
            ShowPortList(b.window, entries);
          }
          SetText(b.window, combo.Text());
          ShowState(b.window, b.control);
        };
        break;
      case TControlKind::Button:
        b.refresh = [&b] {
          SetText(b.window, dynamic_cast<TButton&>(b.control).Caption());
          ShowState(b.window, b.control);
        };
        break;
      case TControlKind::Page:
        break;
    }
    control->OnViewChange = b.refresh;
    byHandle_[native] = binding.get();
    bindings_.push_back(std::move(binding));
  }
  for (const auto& binding : bindings_) binding->refresh();
}

void TMainWindow::BuildFocusOrder() {
  // Tab follows the windows' z-order among siblings, so each parent's controls are put into
  // their focus order; the page control's place in the window's order is where the controls of
  // its pages come, page by page.
  const auto itemsOf = [](const std::string& parent) {
    std::vector<const TLayoutItem*> items;
    for (const TLayoutItem& item : MainFormLayout()) {
      if (item.parent == parent && item.focus >= 0) items.push_back(&item);
    }
    std::stable_sort(items.begin(), items.end(), [](const TLayoutItem* a, const TLayoutItem* b) {
      return a->focus < b->focus;
    });
    return items;
  };
  const auto takesFocus = [](const TLayoutItem& item) {
    return item.kind != TControlKind::ProgressBar && item.kind != TControlKind::Page;
  };
  const auto order = [&](const std::vector<const TLayoutItem*>& items) {
    for (const TLayoutItem* item : items) {
      SetWindowPos(H(widgets_.at(item->name)), HWND_BOTTOM, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  };
  order(itemsOf(kFormName));
  for (const TLayoutItem* item : itemsOf(kFormName)) {
    if (takesFocus(*item)) focusOrder_.push_back(widgets_.at(item->name));
    if (item->kind != TControlKind::PageControl) continue;
    for (const TLayoutItem* page : itemsOf(item->name)) {
      order(itemsOf(page->name));
      for (const TLayoutItem* inner : itemsOf(page->name)) {
        if (takesFocus(*inner)) focusOrder_.push_back(widgets_.at(inner->name));
      }
    }
  }
}

void TMainWindow::ShowPage(int index) {
  for (size_t i = 0; i < sheets_.size(); ++i) {
    ShowWindow(H(sheets_[i]), static_cast<int>(i) == index ? SW_SHOWNA : SW_HIDE);
  }
}

void TMainWindow::SelectPage(int index) {
  const TBinding* b = byHandle_.at(H(widgets_.at("PC")));
  ShowPage(index);
  AtEdge([&] { dynamic_cast<TPageControl&>(b->control).OperatorSelect(index); });
}

void TMainWindow::StepPage(int step) {
  const HWND pages = H(widgets_.at("PC"));
  const auto count = static_cast<int>(SendMessageA(pages, TCM_GETITEMCOUNT, 0, 0));
  if (count <= 0 || !IsWindowVisible(pages) || !IsWindowEnabled(pages)) return;
  const auto current = static_cast<int>(SendMessageA(pages, TCM_GETCURSEL, 0, 0));
  const int next = ((current + step) % count + count) % count;
  SendMessageA(pages, TCM_SETCURSEL, static_cast<WPARAM>(next), 0);
  SelectPage(next);
  // The focus stood on the page now hidden: it goes to the tabs.
  const HWND focus = GetFocus();
  if (!focus || !IsWindowVisible(focus)) FocusFromKeyboard(pages);
}

void TMainWindow::StepFocus(int step) {
  const int count = static_cast<int>(focusOrder_.size());
  if (count == 0) return;
  // The control of the order that holds the focus (a combo box holds it in its edit box).
  int current = step > 0 ? -1 : count;
  for (HWND w = GetFocus(); w && w != H(window_); w = GetParent(w)) {
    const auto it = std::find(focusOrder_.begin(), focusOrder_.end(), w);
    if (it != focusOrder_.end()) {
      current = static_cast<int>(it - focusOrder_.begin());
      break;
    }
  }
  // Controls on the pages not shown are skipped, as are hidden and disabled ones.
  for (int k = 1; k <= count; ++k) {
    const HWND next =
        H(focusOrder_[static_cast<size_t>(((current + step * k) % count + count) % count)]);
    if (IsWindowVisible(next) && IsWindowEnabled(next)) {
      FocusFromKeyboard(next);
      return;
    }
  }
}

void TMainWindow::FocusFromKeyboard(THandle control) {
  // From now on the focus shows, as in a dialog box once a key has moved it.
  SendMessageA(H(window_), WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  SetFocus(H(control));
  // An edit box entered from the keyboard selects its text, unless it asks not to.
  if (SendMessageA(H(control), WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) {
    SendMessageA(H(control), EM_SETSEL, 0, -1);
  }
}

}  // namespace app::win32
