#include "app/win32/MainWindow.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "app/Edge.h"
#include "app/Layout.h"
#include "app/PortList.h"
#include "platform/Application.h"
#include "platform/MessageLoop.h"

// The system's headers come after the project's: their macros (SendMessage, DefWindowProc) would
// rename the message loop's functions in the project's headers.
#include <windows.h>
//
#include <commctrl.h>

namespace app::win32 {
namespace {

constexpr const char* kFormClass = "TMainForm";
constexpr const char* kSheetClass = "TTabSheet";
constexpr const char* kGraphicClass = "TGraphicControl";
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kWakeUpMessage = WM_APP + 1;
constexpr UINT kPbmSetBarColor = 1033;  // PBM_SETBARCOLOR
constexpr const char* kApplicationTitle = "Valtrex panel";

// The edit boxes that keep their caret when entered with the keyboard instead of selecting their
// whole text.
constexpr std::array<std::string_view, 4> kNoAutoSelect = {"Eacc", "Ereg", "Edc_power", "Egf"};

// Set while a wake-up is posted and not yet served, so that a busy worker posts one, not many.
std::atomic<bool> gWakeUpPosted{false};
std::atomic<HWND> gWakeUpWindow{nullptr};

HWND H(THandle h) {
  return static_cast<HWND>(h);
}

TMainWindow* Owner(HWND window) {
  return reinterpret_cast<TMainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Every window of the panel's own classes passes its messages to the window object; the sheets
// and the drawn controls thus report to the same place as the main window.
LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (TMainWindow* owner = Owner(window)) {
    return owner->Handle(window, message, wParam, static_cast<intptr_t>(lParam));
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// An edit box entered with Tab normally selects its text; these keep the caret.
LRESULT CALLBACK KeepCaretProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                               DWORD_PTR) {
  const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
  return message == WM_GETDLGCODE ? (result & ~DLGC_HASSETSEL) : result;
}

void RegisterClasses() {
  static const bool registered = [] {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = PanelProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.lpszClassName = kFormClass;
    RegisterClassExA(&wc);
    wc.hIcon = nullptr;
    wc.lpszClassName = kSheetClass;
    RegisterClassExA(&wc);
    wc.lpszClassName = kGraphicClass;
    RegisterClassExA(&wc);
    return true;
  }();
  (void)registered;
}

std::string WindowText(HWND window) {
  std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

void SetText(HWND window, const std::string& text) {
  if (WindowText(window) != text) SetWindowTextA(window, text.c_str());
}

// The drop-down's entries, the text left as it was (the operator's typing is not an entry). The
// list may be wider than the box so that a long name reads whole. A standard combo box has no
// tool tip per entry, so the descriptions are not shown here.
void ShowPortList(HWND combo, const std::vector<TPortListEntry>& entries) {
  const std::string text = WindowText(combo);
  SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  RECT box{};
  GetWindowRect(combo, &box);
  LONG widest = box.right - box.left;
  const HDC dc = GetDC(combo);
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(combo, WM_GETFONT, 0, 0)));
  for (const TPortListEntry& entry : entries) {
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Name.c_str()));
    SIZE size{};
    GetTextExtentPoint32A(dc, entry.Name.c_str(), static_cast<int>(entry.Name.size()), &size);
    widest = std::max(widest, size.cx + 2 * GetSystemMetrics(SM_CXVSCROLL));
  }
  SelectObject(dc, old);
  ReleaseDC(combo, dc);
  SendMessageA(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest), 0);
  SetText(combo, text);
}

void ShowState(HWND window, const TControl& control) {
  ShowWindow(window, control.Visible() ? SW_SHOWNA : SW_HIDE);
  EnableWindow(window, control.Enabled());
}

COLORREF ToColorRef(TColor colour) {
  return static_cast<COLORREF>(colour & 0xFFFFFF);  // both are 0x00BBGGRR
}

void ShowErrorBox(std::exception_ptr error) {
  std::string text = "Unknown exception";
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
  }
  MessageBoxA(GetActiveWindow(), text.c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
}

// Any thread: a worker has queued a call for the main thread; have the loop serve the queue.
void WakeUpMainThread() {
  const HWND window = gWakeUpWindow.load();
  if (!window || gWakeUpPosted.exchange(true)) return;
  if (!PostMessageA(window, kWakeUpMessage, 0, 0)) gWakeUpPosted = false;
}

}  // namespace

// One control and its native window: how the window shows the control, and what the operator's
// actions on it mean.
struct TMainWindow::TBinding {
  const TLayoutItem& item;
  TControl& control;
  HWND window = nullptr;
  std::function<void()> refresh;
};

void SetUpPanelApplication() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TAB_CLASSES |
                                                     ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES |
                                                     ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterClasses();
  platform::SetExceptionHandler(ShowErrorBox);
  platform::SetMainThread();
  platform::SetWakeUpHook(WakeUpMainThread);
}

void TearDownPanelApplication() {
  platform::SetWakeUpHook({});
  platform::SetExceptionHandler({});
}

TMainWindow::TMainWindow(platform::ComDeviceOpener opener)
    : form_(std::make_unique<TMainForm>(std::move(opener))) {
  RegisterClasses();
  constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, WS_EX_CONTROLPARENT);
  window_ = CreateWindowExA(WS_EX_CONTROLPARENT, kFormClass, kFormCaption, kStyle, kFormLeft,
                            kFormTop, frame.right - frame.left, frame.bottom - frame.top, nullptr,
                            nullptr, GetModuleHandleA(nullptr), this);
  if (!window_) throw std::runtime_error("the main window could not be created");
  gWakeUpWindow = H(window_);
  // 8 points at 96 pixels per inch, the face the layout was drawn for.
  font_ = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
  picture_ =
      LoadImageA(GetModuleHandleA(nullptr), "IMAGE1", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
  BuildWidgets();
  BuildFocusOrder();
  form_->OnCloseRequest = [this] { PostMessageA(H(window_), WM_CLOSE, 0, 0); };
  if (form_->Timer1.Enabled()) SetTimer(H(window_), kTimerId, form_->Timer1.Interval(), nullptr);
}

TMainWindow::~TMainWindow() {
  for (const auto& binding : bindings_) binding->control.OnViewChange = nullptr;
  form_->OnCloseRequest = nullptr;
  if (gWakeUpWindow.load() == H(window_)) gWakeUpWindow = nullptr;
  if (window_ && IsWindow(H(window_))) DestroyWindow(H(window_));
  // The controls are gone; then the form, whose CP closes the port.
  form_.reset();
  if (font_) DeleteObject(static_cast<HGDIOBJ>(font_));
  if (picture_) DeleteObject(static_cast<HGDIOBJ>(picture_));
}

THandle TMainWindow::Widget(const std::string& name) const {
  const auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second;
}

void TMainWindow::BuildWidgets() {
  const HINSTANCE instance = GetModuleHandleA(nullptr);
  widgets_[kFormName] = window_;
  RECT sheetArea{};
  for (const TLayoutItem& item : MainFormLayout()) {
    TControl* control = form_->FindControl(item.name);
    HWND parent = H(widgets_.at(item.parent));
    const char* cls = "STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    int left = item.left, top = item.top, width = item.width, height = item.height;
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
        left = sheetArea.left, top = sheetArea.top;
        width = sheetArea.right - sheetArea.left, height = sheetArea.bottom - sheetArea.top;
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
        // The list drops below the box; its height is the box's and the list's together.
        cls = "COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
        height = 200;
        break;
      case TControlKind::Button:
        cls = "BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    }
    HWND native = CreateWindowExA(exStyle, cls, "", style, left, top, width, height, parent,
                                  nullptr, instance, this);
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
      GetClientRect(native, &sheetArea);
      SendMessageA(native, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&sheetArea));
    }
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
        b.refresh = [&b] {
          auto& bar = dynamic_cast<TProgressBar&>(b.control);
          if (bar.Min() <= bar.Max()) SendMessageA(b.window, PBM_SETRANGE32, bar.Min(), bar.Max());
          SendMessageA(b.window, PBM_SETPOS, static_cast<WPARAM>(bar.Position()), 0);
          const COLORREF colour =
              bar.BarColor() == clDefault ? CLR_DEFAULT : ToColorRef(bar.BarColor());
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
          const std::string& caption = dynamic_cast<TLabel&>(b.control).Caption();
          SetText(b.window, caption);
          // Sized to its caption, as the layout leaves it.
          HDC dc = GetDC(b.window);
          const HGDIOBJ old = SelectObject(dc, static_cast<HGDIOBJ>(font_));
          SIZE size{};
          GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
          SelectObject(dc, old);
          ReleaseDC(b.window, dc);
          SetWindowPos(b.window, nullptr, 0, 0, size.cx, std::max<LONG>(size.cy, 13),
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
          if (shown.size() < items.size() || !std::equal(items.begin(), items.end(), shown.begin())) {
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

void TMainWindow::Show() {
  ShowWindow(H(window_), SW_SHOWNORMAL);
  UpdateWindow(H(window_));
  // The window opens with the focus on the first control of its tab order.
  if (!focusOrder_.empty()) SetFocus(H(focusOrder_.front()));
}

bool TMainWindow::Dispatch(void* raw) {
  MSG& message = *static_cast<MSG*>(raw);
  const HWND focus = GetFocus();
  // Enter presses the focused push button, as Space does; a held key presses it once.
  if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && focus) {
    char cls[16] = {};
    GetClassNameA(focus, cls, sizeof cls);
    if (lstrcmpiA(cls, "BUTTON") == 0) {
      if ((message.lParam & (1 << 30)) == 0) SendMessageA(focus, BM_CLICK, 0, 0);
      return true;
    }
  }
  if (window_ && IsDialogMessageA(H(window_), &message)) return true;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return true;
}

void TMainWindow::Run() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) Dispatch(&message);
}

bool TMainWindow::ProcessPending() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return false;
    Dispatch(&message);
  }
  return window_ && IsWindow(H(window_));
}

intptr_t TMainWindow::Handle(THandle target, unsigned message, uintptr_t wParam, intptr_t lParam) {
  const HWND window = H(target);
  const auto bindingOf = [this](HWND native) -> TBinding* {
    const auto it = byHandle_.find(native);
    return it == byHandle_.end() ? nullptr : it->second;
  };
  switch (message) {
    case WM_HSCROLL:
      // Every notification of a move, the end of a drag or a key at an end included, runs the
      // slider's handler; the control decides what it means.
      if (TBinding* b = bindingOf(reinterpret_cast<HWND>(lParam))) {
        const auto position = static_cast<int32_t>(SendMessageA(b->window, TBM_GETPOS, 0, 0));
        AtEdge([&] { dynamic_cast<TTrackBar&>(b->control).OperatorNotify(position); });
      }
      return 0;
    case WM_COMMAND:
      if (TBinding* b = bindingOf(reinterpret_cast<HWND>(lParam))) {
        const unsigned code = HIWORD(wParam);
        if (b->item.kind == TControlKind::Button && code == BN_CLICKED) {
          AtEdge([&] { dynamic_cast<TButton&>(b->control).Click(); });
        } else if (b->item.kind == TControlKind::ComboBox && code == CBN_EDITCHANGE) {
          AtEdge([&] { dynamic_cast<TComboBox&>(b->control).OperatorText(WindowText(b->window)); });
        } else if (b->item.kind == TControlKind::ComboBox && code == CBN_DROPDOWN) {
          // Read as the list opens, never on a timer: an adapter plugged in since is there.
          AtEdge([&] {
            ShowPortList(b->window, ReadPortList(dynamic_cast<TComboBox&>(b->control).Items()));
          });
        } else if (b->item.kind == TControlKind::ComboBox && code == CBN_SELCHANGE) {
          const auto index = SendMessageA(b->window, CB_GETCURSEL, 0, 0);
          if (index != CB_ERR) {
            std::string text(
                static_cast<size_t>(SendMessageA(b->window, CB_GETLBTEXTLEN, index, 0)) + 1, '\0');
            text.resize(static_cast<size_t>(SendMessageA(b->window, CB_GETLBTEXT, index,
                                                         reinterpret_cast<LPARAM>(text.data()))));
            AtEdge([&] { dynamic_cast<TComboBox&>(b->control).OperatorText(text); });
          }
        }
      }
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code == static_cast<UINT>(TCN_SELCHANGE)) {
        if (TBinding* b = bindingOf(header->hwndFrom)) {
          const int index = static_cast<int>(SendMessageA(b->window, TCM_GETCURSEL, 0, 0));
          ShowPage(index);
          AtEdge([&] { dynamic_cast<TPageControl&>(b->control).OperatorSelect(index); });
        }
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      // Labels and trackbars take the face of the window or sheet they stand on.
      const HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<intptr_t>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_PAINT: {
      TBinding* b = bindingOf(window);
      if (!b) break;
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      RECT box;
      GetClientRect(window, &box);
      if (b->item.kind == TControlKind::Shape) {
        const auto& shape = dynamic_cast<const TShape&>(b->control);
        const HPEN pen = CreatePen(PS_INSIDEFRAME, shape.PenWidth(), ToColorRef(shape.PenColor()));
        const HBRUSH brush = CreateSolidBrush(ToColorRef(shape.BrushColor()));
        const HGDIOBJ oldPen = SelectObject(dc, pen);
        const HGDIOBJ oldBrush = SelectObject(dc, brush);
        const int corner = std::min(box.right, box.bottom) / 4;
        RoundRect(dc, 0, 0, box.right, box.bottom, corner, corner);
        SelectObject(dc, oldPen);
        SelectObject(dc, oldBrush);
        DeleteObject(pen);
        DeleteObject(brush);
      } else if (picture_) {
        // Unscaled at the top left; the rest of the control stays background.
        const HDC source = CreateCompatibleDC(dc);
        const HGDIOBJ old = SelectObject(source, static_cast<HGDIOBJ>(picture_));
        BITMAP bitmap{};
        GetObjectA(static_cast<HGDIOBJ>(picture_), sizeof bitmap, &bitmap);
        BitBlt(dc, 0, 0, bitmap.bmWidth, bitmap.bmHeight, source, 0, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER:
      if (window == H(window_) && wParam == kTimerId) AtEdge([&] { form_->Timer1.Tick(); });
      return 0;
    case kWakeUpMessage:
      gWakeUpPosted = false;
      AtEdge([] { platform::ProcessMessages(); });
      return 0;
    case WM_CLOSE:
      if (window == H(window_)) {
        KillTimer(window, kTimerId);
        DestroyWindow(window);
        return 0;
      }
      break;
    case WM_DESTROY:
      if (window == H(window_)) {
        // The controls' windows go with this one: nothing may draw into them any more.
        for (const auto& binding : bindings_) binding->control.OnViewChange = nullptr;
        if (gWakeUpWindow.load() == window) gWakeUpWindow = nullptr;
        window_ = nullptr;
        PostQuitMessage(0);
      }
      byHandle_.erase(window);
      return 0;
    default:
      break;
  }
  return static_cast<intptr_t>(
      DefWindowProcA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)));
}

}  // namespace app::win32
